#!/usr/bin/env bash
# scripts/try.sh, as the README tells a newcomer to run it: it exits 0,
# shows every command it promises with the output that command gives, leaves
# /etc/zorv.conf and its companions as they were, and removes its directory
# and stops its scheduler afterwards.
#   try_test.sh BUILD_DIR
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: try_test.sh BUILD_DIR}

results=()
check() {  # check WHAT: PASS when the command just before succeeded
  if [ "$?" -eq 0 ]; then results+=("PASS $1"); else results+=("FAIL $1"); fi
}

# The machine's configuration, whatever it is (absent on a test machine).
etc_state() {
  local name
  for name in /etc/zorv.conf /etc/zorv.conf.bak /etc/zorv.conf.lock /etc/zorv.conf~; do
    stat -c '%n %i %s %Y %a' "$name" 2>/dev/null || echo "$name absent"
  done
}
before=$(etc_state)

tmp=$(mktemp -d /tmp/zorvtrytest.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
out=$(TMPDIR=$tmp bash "$top/scripts/try.sh" "$build" 2>&1)
status=$?
printf '%s\n' "$out"
[ "$status" -eq 0 ]
check "try.sh exits 0"

tab=$'\t'
# Each command line as shown | a line of the output that follows it (with
# a leading !, a line that must not follow it).
expected=$(cat <<EOF
$ zorvadmin|^ Entry Num  : Spooler
$ zorvadmin -p ZPR4410 -o /dev/usb/lp1|: ZPR4410 .*: New!!
$ zorvadmin --quiet -p office -o /dev/usb/lp0|!Entry Num
$ zorvadmin --dry-run -p ZPR4410 -o /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp|^\+DevicePath /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp
$ zorvadmin -p ZPR4410 -o /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp|: ZPR4410 .*: Modified
$ zorvadmin --tsv|^entry${tab}Office${tab}/dev/usb/lp0${tab}usb${tab}//Zorv/ZPR2200${tab}ok\$
$ zorvadmin --check|zorv.conf:[0-9]+: warning: .*/dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp
$ zorvadmin --get zpr4410|^/dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp\$
$ zorvadmin -p NoSuchQueue -o /dev/usb/lp3|^\(exit status 2\)\$
$ zorvadmin -x Office|: Office .*: Delete
$ zorvadmin --restore|: Office .*: \$
$ zorvadmin --devices|Entry +: ZPR4410 .*the model matches
EOF
)
while IFS='|' read -r command line; do
  # The output from the command's line to the next command's.
  shown=$(awk -v command="$command" '$0 == command { on = 1; next } /^\$ / { on = 0 } on' <<<"$out")
  grep -q -x -F -- "$command" <<<"$out"
  check "shows '$command'"
  if [ "${line:0:1}" = '!' ]; then
    ! grep -q -E -- "${line:1}" <<<"$shown"
  else
    grep -q -E -- "$line" <<<"$shown"
  fi
  check "'$command' is followed by its output ($line)"
done <<<"$expected"

# --set names the scheduler's directory, a temporary one.
set_line=$(grep -E -x -m1 '\$ zorvadmin --set CUPS_ConfigPath /.+/cups/' <<<"$out")
[ -n "$set_line" ]
check "shows '\$ zorvadmin --set CUPS_ConfigPath DIR'"
awk -v command="$set_line" '$0 == command { on = 1; next } /^\$ / { on = 0 } on' <<<"$out" |
  grep -q -x -F " CUPS_ConfigPath = ${set_line#\$ zorvadmin --set CUPS_ConfigPath }"
check "'\$ zorvadmin --set CUPS_ConfigPath DIR' is followed by the listing with DIR"

[ "$(etc_state)" = "$before" ]
check "/etc/zorv.conf and its companions are as they were"
[ -z "$(ls -A "$tmp")" ]
check "its temporary directory is gone"
! pgrep -f "cupsd .*$tmp" >/dev/null
check "its scheduler is stopped"

# shellcheck source=tests/support/results.sh
. "$(dirname "$0")/support/results.sh"
report_results
