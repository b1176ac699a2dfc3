# The private CUPS scheduler the benchmarks start (sourced by them).

# write_scheduler_dir DIR [CUPSD_LINE...]: a scheduler directory at DIR, its
# socket DIR/cups.sock, with a backend "zorv" that prints nothing, the
# system's filters and drivers, its logs in DIR/log, and the lines given
# added to cupsd.conf (such as AccessLogLevel all, to count requests).
write_scheduler_dir() {
  local dir=$1 sub
  shift
  mkdir -p "$dir"/{bin/backend,cache,state,spool,tmp,log}
  chmod 755 "$dir"
  printf '#!/bin/sh\nexit 0\n' > "$dir/bin/backend/zorv"
  chmod 755 "$dir/bin/backend/zorv"
  for sub in daemon filter notifier cgi-bin driver monitor; do
    if [ -e /usr/lib/cups/$sub ]; then ln -s /usr/lib/cups/$sub "$dir/bin/$sub"; fi
  done
  {
    printf 'Listen %s/cups.sock\nDirtyCleanInterval 0\nBrowsing No\nWebInterface No\n' "$dir"
    if [ $# -gt 0 ]; then printf '%s\n' "$@"; fi
    printf '<Location />\nOrder allow,deny\nAllow all\n</Location>\n'
  } > "$dir/cupsd.conf"
  printf 'ServerRoot %s\nServerBin %s/bin\nCacheDir %s/cache\nStateDir %s/state\nRequestRoot %s/spool\nTempDir %s/tmp\nAccessLog %s/log/access_log\nErrorLog %s/log/error_log\nPageLog %s/log/page_log\nSystemGroup root\nFileDevice Yes\n' \
    "$dir" "$dir" "$dir" "$dir" "$dir" "$dir" "$dir" "$dir" "$dir" > "$dir/cups-files.conf"
}
