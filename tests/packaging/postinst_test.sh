#!/usr/bin/env bash
# The package's maintainer script, run with dpkg's arguments in a private
# mount namespace whose /run is an empty tmpfs: each case decides whether
# udev runs there (/run/udev/control) and whether a udevadm can be found,
# and a udevadm stand-in records how it was called. The machine's own /run
# and udev are never touched.
#   postinst_test.sh [POSTINST]   (debian/zorvadmin.postinst by default; the
#   autopkgtest passes the installed /var/lib/dpkg/info/zorvadmin.postinst)
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
postinst=${1:-$top/debian/zorvadmin.postinst}
[ -f "$postinst" ] || { echo "no maintainer script at $postinst"; exit 1; }

# A private root in a user namespace serves where root is not at hand.
namespace=(unshare --mount --propagation private)
[ "$(id -u)" -eq 0 ] || namespace+=(--map-root-user)
if ! "${namespace[@]}" mount -t tmpfs zorv-run /tmp 2>/dev/null; then
  echo "SKIP: no private mount namespace with a fresh /run can be made here"
  exit 77
fi

work=$(mktemp -d -p /tmp zorv-postinst.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/stub" "$work/empty"
# Records its arguments; fails when its first one is $UDEVADM_FAIL.
cat >"$work/stub/udevadm" <<'EOF'
#!/bin/sh
printf '%s\n' "$*" >>"$UDEVADM_CALLS"
[ "$1" != "$UDEVADM_FAIL" ]
EOF
chmod 755 "$work/stub/udevadm"

results=()
reload="control --reload"
trigger="trigger --action=change --subsystem-match=usbmisc --subsystem-match=printer"
no_reload="zorvadmin: warning: udevadm could not reload the rules; printers get their stable names when next plugged in"
no_trigger="zorvadmin: warning: udevadm could not trigger the printers; they get their stable names when next plugged in"

# Cases: what | udev running | udevadm (stub, none) | the stub fails on | status | calls | output | arguments
cases=(
  "first install without udev running (chroot, container)|no|stub||0|||configure"
  "upgrade without udev running|no|stub||0|||configure 1.1.0-2"
  "first install with udev: reload, then trigger the printers|yes|stub||0|$reload
$trigger||configure"
  "upgrade with udev: the same|yes|stub||0|$reload
$trigger||configure 1.1.0-2"
  "udev running but no udevadm to be found|yes|none||0|||configure 1.1.0-2"
  "reload fails: a warning, no trigger, installed all the same|yes|stub|control|0|$reload|$no_reload|configure"
  "trigger fails: a warning, installed all the same|yes|stub|trigger|0|$reload
$trigger|$no_trigger|configure"
  "abort-upgrade triggers nothing|yes|stub||0|||abort-upgrade 1.2.0-1"
  "an unknown action is refused|yes|stub||1||postinst called with unknown argument 'bogus'|bogus"
)

for row in "${cases[@]}"; do
  IFS='|' read -r -d '' what udev udevadm fail status calls output arguments <<<"$row" || true
  arguments=${arguments%$'\n'}
  : >"$work/calls"
  path=$work/empty
  [ "$udevadm" = none ] || path=$work/stub:/usr/sbin:/usr/bin:/sbin:/bin
  # shellcheck disable=SC2016,SC2086 # the inner script expands its own; the arguments are words
  got_output=$(UDEVADM_CALLS=$work/calls UDEVADM_FAIL=$fail "${namespace[@]}" /bin/sh -c '
    mount -t tmpfs -o mode=0755 zorv-run /run || exit 99
    if [ "$1" = yes ]; then mkdir /run/udev && : >/run/udev/control || exit 99; fi
    path=$2 postinst=$3
    shift 3
    exec env PATH="$path" /bin/sh "$postinst" "$@"' sh "$udev" "$path" "$postinst" $arguments 2>&1 </dev/null)
  got_status=$?
  got_calls=$(cat "$work/calls")
  if [ "$got_status" = "$status" ] && [ "$got_calls" = "$calls" ] && [ "$got_output" = "$output" ]; then
    results+=("PASS $what")
  else
    results+=("FAIL $what: status $got_status (want $status), udevadm calls [${got_calls//$'\n'/; }] (want [${calls//$'\n'/; }]), output [$got_output] (want [$output])")
  fi
done

# shellcheck source=tests/support/results.sh
. "$top/tests/support/results.sh"
report_results
