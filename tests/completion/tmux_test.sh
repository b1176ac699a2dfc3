#!/usr/bin/env bash
# The completion in a real interactive bash under tmux, typed by an ordinary
# user (nobody) with the bash-completion helpers loaded, against a CUPS
# scheduler that accepts connections and never answers:
#   - entries for -x and --get come from the file, case-insensitively, though
#     the lock file is root's and the scheduler never answers;
#   - -p asks that scheduler, and Tab gives the prompt back all the same;
#   - timeout(1) is what bounds both (a logging stand-in for it on PATH).
# Screens are polled with a generous overall limit: what is asserted is that
# the completion shows and the prompt comes back, not how long it took.
#   tmux_test.sh ZORVADMIN     (as root)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
completion=$here/../../packaging/zorvadmin.bash-completion
helpers=/usr/share/bash-completion/bash_completion
zorvadmin=$(realpath "${1:?usage: tmux_test.sh ZORVADMIN}")
limit=${ZORV_TMUX_LIMIT:-20}  # seconds a screen may take before a check fails

for tool in tmux python3 setpriv lpstat timeout; do
  command -v "$tool" >/dev/null || { echo "FAIL $tool is missing"; echo "0 passed, 1 failed"; exit 1; }
done
[ -f "$helpers" ] || { echo "FAIL $helpers missing"; echo "0 passed, 1 failed"; exit 1; }

work=$(mktemp -d /tmp/zorvtmux.XXXXXX)
chmod 755 "$work"
tmux=(tmux -S "$work/tmux.sock" -f /dev/null)
silent_pid=
cleanup() {
  "${tmux[@]}" kill-server 2>/dev/null
  [ -z "$silent_pid" ] || { kill "$silent_pid" 2>/dev/null; wait "$silent_pid" 2>/dev/null; }
  rm -rf "$work"
}
trap cleanup EXIT

# The scheduler that never answers: it accepts every connection and holds it.
sock=$work/silent.sock
python3 -c '
import os, socket, sys
os.umask(0)
server = socket.socket(socket.AF_UNIX)
server.bind(sys.argv[1])
server.listen(64)
held = []
while True:
    held.append(server.accept()[0])
' "$sock" &
silent_pid=$!
for _ in $(seq 100); do [ -S "$sock" ] && break; sleep 0.1; done

# The configuration: readable by anyone, its lock root's alone (0600).
conf=$work/zorv.conf
{
  printf '<Path>\nCUPS_ConfigPath   %s/cups/\n</Path>\n\n' "$work"
  for entry in Office:/dev/usb/lp0 ZPR4410:/dev/usb/lp1 Zebra:/dev/lp0; do
    printf '<Printer  %s>\nDevicePath  %s\n</Printer>\n\n' "${entry%%:*}" "${entry#*:}"
  done
  printf '<Ports>\nUI_Port  59787\n</Ports>\n'
} >"$conf"
chmod 644 "$conf"
: >"$conf.lock"
chmod 600 "$conf.lock"

# PATH: the tool, and a timeout that notes how it was called, then is timeout.
mkdir -p "$work/bin" "$work/wrap" "$work/home"
ln -s "$zorvadmin" "$work/bin/zorvadmin"
real_timeout=$(command -v timeout)
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>%s\nexec %s "$@"\n' "$work/timeout.log" "$real_timeout" >"$work/wrap/timeout"
chmod 755 "$work/wrap/timeout"
: >"$work/timeout.log"
chmod 666 "$work/timeout.log"
chown 65534:65534 "$work/home"
cat >"$work/bashrc" <<EOF
. $helpers
. $completion
PS1='READY> '
EOF
chmod 644 "$work/bashrc"

results=()
pass() { results+=("PASS $1"); }
fail() { results+=("FAIL $1"); }

# Waits until the pane shows what the grep pattern finds (in the whole pane
# with -s, else in its last non-empty line); 0 when it did. The pane comes
# without trailing blanks: a check types a mark after the Tab to see the
# space that a completed word ends in.
screen() { "${tmux[@]}" capture-pane -p -t zorv; }
current_line() { screen | sed '/^[[:space:]]*$/d' | tail -n 1; }
wait_for() {  # wait_for [-s] PATTERN
  local whole=0
  [ "$1" = -s ] && { whole=1; shift; }
  local deadline=$((SECONDS + limit))
  while ((SECONDS < deadline)); do
    if ((whole)); then screen | grep -q -E -- "$1" && return 0; else current_line | grep -q -E -- "$1" && return 0; fi
    sleep 0.1
  done
  return 1
}
fresh_line() {  # empties the line (readline's keys, no signal), clears the screen
  "${tmux[@]}" send-keys -t zorv C-a C-k C-l
  wait_for '^READY>$'
}

# The scheduler really never answers: lpstat would wait for it without end.
if CUPS_SERVER=$sock timeout 3 lpstat -e >/dev/null 2>&1; [ $? -eq 124 ]; then
  pass "lpstat waits on the silent scheduler (stopped by timeout after 3 s)"
else
  fail "the silent scheduler answered lpstat"
fi

"${tmux[@]}" new-session -d -s zorv -x 160 -y 40 \
  env -i TERM=screen HOME="$work/home" PATH="$work/wrap:$work/bin:/usr/local/bin:/usr/bin:/bin" \
  ZORV_CONF="$conf" CUPS_SERVER="$sock" LANG=C.UTF-8 \
  setpriv --reuid=65534 --regid=65534 --clear-groups bash --noprofile --rcfile "$work/bashrc" -i
if wait_for '^READY>$'; then
  pass "an interactive bash as nobody with the completion loaded"
else
  fail "no prompt: $(screen)"
fi

# check WHAT KEYS... -- PATTERN [-s PATTERN]: types KEYS (Tab as Tab) and
# waits for the current line, and the whole pane with -s, to show PATTERN.
check() {
  local what=$1 keys=() line_pattern pane_pattern=
  shift
  while [ "$1" != -- ]; do keys+=("$1"); shift; done
  shift
  line_pattern=$1
  [ "${2-}" = -s ] && pane_pattern=$3
  fresh_line
  "${tmux[@]}" send-keys -t zorv "${keys[@]}"
  if wait_for "$line_pattern" && { [ -z "$pane_pattern" ] || wait_for -s "$pane_pattern"; }; then
    pass "$what"
  else
    fail "$what; the pane:"$'\n'"$(screen)"
  fi
}

check "-x zp<Tab>: the entry from the file, case-insensitively" \
  'zorvadmin -x zp' Tab '#' -- '^READY> zorvadmin -x ZPR4410 #$'
check "-x <Tab><Tab>: every entry of the file, the prompt back" \
  'zorvadmin -x ' Tab Tab -- '^READY> zorvadmin -x$' -s 'Office +ZPR4410 +Zebra'
check "--get of<Tab>: the entry from the file" \
  'zorvadmin --get of' Tab '#' -- '^READY> zorvadmin --get Office #$'
# -p asks the scheduler, which never answers: the prompt comes back and
# takes what is typed after the Tab.
check "-p Z<Tab> against a scheduler that never answers: the prompt comes back" \
  'zorvadmin -p Z' Tab '#' -- '^READY> zorvadmin -p Z#$'
check "-o /dev/nu<Tab> still completes paths" \
  'zorvadmin -o /dev/nu' Tab '#' -- '^READY> zorvadmin -o /dev/null #$'
# shellcheck disable=SC2016 # typed into the pane, expanded there
check "the shell still runs commands" \
  'echo done-$((40 + 2))' Enter -- '^READY>$' -s '^done-42$'

# What bounded those: timeout(1), for lpstat and for the listing.
log=$(cat "$work/timeout.log")
if grep -q -E -x -- '-k [0-9.]+ 1 lpstat -e' <<<"$log"; then
  pass "lpstat ran under timeout 1"
else
  fail "lpstat did not run under timeout 1: $log"
fi
if grep -q -E -x -- "-k [0-9.]+ 1 (.*/)?zorvadmin --tsv" <<<"$log"; then
  pass "the listing ran under timeout 1"
else
  fail "zorvadmin --tsv did not run under timeout 1: $log"
fi
# Nothing was written.
if [ "$(find "$work" -maxdepth 1 -name 'zorv.conf*' | sort | xargs -n1 basename | paste -sd,)" = "zorv.conf,zorv.conf.lock" ] &&
  [ ! -e "$work/zorv.conf.bak" ]; then
  pass "the configuration's directory is as it was"
else
  fail "files appeared: $(ls "$work")"
fi

passed=0
failed=0
for result in "${results[@]}"; do
  case $result in
    PASS*) ((passed++)); echo "$result" ;;
    *) ((failed++)); echo "$result" ;;
  esac
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
