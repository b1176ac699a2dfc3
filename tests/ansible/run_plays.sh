#!/usr/bin/env bash
# Builds the zorv.admin collection, installs it from its tarball, runs
# ansible-test sanity on it, and runs real plays of its modules with
# ansible-playbook on this machine: the configuration lives in a temporary
# directory, and a private CUPS scheduler started here answers the queue
# checks.
# Usage: run_plays.sh ZORVADMIN   (ZORV_KEEP=1 keeps the temporary directory)
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 ZORVADMIN" >&2; exit 2; }
binary=$(realpath "$1")
top=$(cd "$(dirname "$0")/../.." && pwd)
python=/usr/bin/python3  # the interpreter ansible-core is installed for

work=$(mktemp -d)
cupsd_pid=
cleanup() {
  if [ -n "$cupsd_pid" ]; then
    kill "$cupsd_pid" 2>/dev/null || true
    wait "$cupsd_pid" 2>/dev/null || true
  fi
  if [ -n "${ZORV_KEEP:-}" ]; then  # the plays and their output, for a look after a failure
    echo "kept $work" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# --- the private scheduler -------------------------------------------------
cups=$work/cups
socket=$cups/cups.sock
mkdir -p "$cups"/{bin/backend,cache,state,spool,tmp,log}
chmod 755 "$work" "$cups"
# lpadmin refuses a device URI whose scheme has no backend.
printf '#!/bin/sh\nexit 0\n' >"$cups/bin/backend/zorv"
chmod 755 "$cups/bin/backend/zorv"
for sub in daemon filter notifier cgi-bin driver monitor; do
  [ -e "/usr/lib/cups/$sub" ] && ln -s "/usr/lib/cups/$sub" "$cups/bin/$sub"
done
cat >"$cups/cupsd.conf" <<EOF
Listen $socket
DirtyCleanInterval 0
Browsing No
WebInterface No
LogLevel warn
<Location />
Order allow,deny
Allow all
</Location>
EOF
cat >"$cups/cups-files.conf" <<EOF
ServerRoot $cups
ServerBin $cups/bin
CacheDir $cups/cache
StateDir $cups/state
RequestRoot $cups/spool
TempDir $cups/tmp
AccessLog $cups/log/access_log
ErrorLog $cups/log/error_log
PageLog $cups/log/page_log
SystemGroup root
FileDevice Yes
EOF
cupsd -f -c "$cups/cupsd.conf" -s "$cups/cups-files.conf" </dev/null >/dev/null 2>&1 &
cupsd_pid=$!
for _ in $(seq 100); do
  [ -S "$socket" ] && CUPS_SERVER=$socket lpstat -r >/dev/null 2>&1 && break
  sleep 0.1
done
CUPS_SERVER=$socket lpstat -r >/dev/null 2>&1 || { echo "cupsd did not start; see $cups/log/error_log" >&2; exit 1; }
for queue in Q1 Q2 Q3; do
  CUPS_SERVER=$socket lpadmin -p "$queue" -v zorv:/x -E
done

# --- the configuration, the command and ansible ----------------------------
conf=$work/conf/zorv.conf
mkdir -p "$work/conf"
cat >"$conf" <<EOF
<Path>
CUPS_ConfigPath   $cups/
</Path>

<Printer Office>
DevicePath /dev/usb/lp0
</Printer>

<Ports>
UI_Port  59787
</Ports>
EOF
# The printers, mocked with umockdev as udev and the kernel show them, in a
# mount namespace whose /run holds udev's database for their links:
# lp0 a ZPR4410 (serial A-1) on port 2; lp1 a printer whose Device ID holds
# U+2028 in its model (serial C-3) on port 3; lp2 and lp3 two printers that
# report one serial (D-4) on ports 4 and 5; lp4 (serial E-5, port 6) has no
# links at all.
mock=$work/mock
mkdir -p "$mock"
: >"$mock/tree.umockdev"
printf 'mount -t tmpfs tmpfs /run && mkdir -p /run/udev/data\n' >"$mock/db.sh"
: >"$mock/links.sh"
mock_printer() {  # mock_printer MINOR PORT MODEL SERIAL [LINK-MODEL]: no links without LINK-MODEL
  local n=$1 port=$2 serial=$4
  local usb=/devices/pci0000:00/0000:00:14.0/usb1/1-$port
  local interface=$usb/1-$port:1.0 id link
  id=$(printf 'MFG:Zorv;MDL:%s;SN:%s;' "$3" "$serial" | od -An -tx1 | tr -d ' \n')
  printf '%s\n' "P: $usb" "E: SUBSYSTEM=usb" "E: DEVTYPE=usb_device" "A: manufacturer=Zorv" \
    "A: product=USB Printer" "A: serial=$serial" "" "P: $interface" "E: SUBSYSTEM=usb" "E: DEVTYPE=usb_interface" \
    "L: driver=../../../../../bus/usb/drivers/usblp" "H: ieee1284_id=$id" "" "P: $interface/usbmisc/lp$n" \
    "N: usb/lp$n" "E: DEVNAME=/dev/usb/lp$n" "E: SUBSYSTEM=usbmisc" "E: MAJOR=180" "E: MINOR=$n" "A: dev=180:$n" \
    "" >>"$mock/tree.umockdev"
  # shellcheck disable=SC2016 # $UMOCKDEV_DIR is links.sh's, under umockdev-run
  [ $# -eq 5 ] || return 0
  for link in "usb/by-id/usb-Zorv_${5}_$serial-lp" "usb/by-path/pci-0000:00:14.0-usb-0:$port:1.0-lp"; do
    printf 'echo S:%s >>/run/udev/data/c180:%s\n' "$link" "$n" >>"$mock/db.sh"
    printf 'mkdir -p "$UMOCKDEV_DIR/dev/%s" && ln -s ../lp%s "$UMOCKDEV_DIR/dev/%s" && ln -s 180:%s "$UMOCKDEV_DIR/dev/.node/%s"\n' \
      "${link%/*}" "$n" "$link" "$n" "${link//\//_}" >>"$mock/links.sh"
  done
}
mock_printer 0 2 ZPR4410 A-1 ZPR4410
mock_printer 1 3 $'ZPR\u20282200' C-3 ZPR_2200
mock_printer 2 4 ZPR4410 D-4 ZPR4410
mock_printer 3 5 ZPR2200 D-4 ZPR2200
mock_printer 4 6 ZPR2200 E-5
printf 'exec "$@"\n' >>"$mock/links.sh"
printf 'exec umockdev-run -d %s -- sh %s "$@"\n' "$mock/tree.umockdev" "$mock/links.sh" >>"$mock/db.sh"

# The plays find the real command on PATH, as on a server, running on the
# mocked machine. One names it through the module's zorvadmin option, a
# wrapper that logs every run.
mkdir -p "$work/bin" "$work/logbin"
cat >"$work/bin/zorvadmin" <<EOF
#!/bin/sh
# umockdev-run preloads its library ahead of a sanitizer build's runtime.
ASAN_OPTIONS=\${ASAN_OPTIONS:+\$ASAN_OPTIONS:}verify_asan_link_order=0 exec unshare -m sh '$mock/db.sh' '$binary' "\$@"
EOF
chmod 755 "$work/bin/zorvadmin"
calls=$work/calls
cat >"$work/logbin/zorvadmin" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>'$calls'
exec '$work/bin/zorvadmin' "\$@"
EOF
chmod 755 "$work/logbin/zorvadmin"
touch "$calls" "$work/ansible.cfg" "$work/plain"

# An empty configuration and a private home keep the caller's ansible.cfg,
# ~/.ansible and callback choice out of the plays.
export ANSIBLE_CONFIG=$work/ansible.cfg ANSIBLE_HOME=$work/ansible-home ANSIBLE_LOCAL_TEMP=$work/ansible-tmp \
  ANSIBLE_REMOTE_TMP=$work/ansible-tmp ANSIBLE_COLLECTIONS_PATH=$work/collections \
  ANSIBLE_PYTHON_INTERPRETER=$python ANSIBLE_NOCOLOR=1 ANSIBLE_STDOUT_CALLBACK=default \
  ANSIBLE_RETRY_FILES_ENABLED=0 PATH=$work/bin:$PATH

# --- the collection: built, installed from the tarball, sanity-tested ---------
ansible-galaxy collection build --output-path "$work" "$top/ansible" >/dev/null
ansible-galaxy collection install -p "$work/collections" "$work"/zorv-admin-*.tar.gz >/dev/null
collection=$work/collections/ansible_collections/zorv/admin
"$top/tests/ansible/sanity.sh" "$collection" "$work/sanity-home"

passed=0 failed=0
expect() {  # expect WHAT ACTUAL WANTED
  if [ "$2" == "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL: %s\n  got:  %s\n  want: %s\n' "$1" "$2" "$3" >&2
  fi
}
# One version for the command, its package and the collection.
version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
expect "the collection's version is zorvadmin's" \
  "$("$python" -c 'import json, sys; print(json.load(open(sys.argv[1]))["collection_info"]["version"])' \
    "$collection/MANIFEST.json")" "${version%-*}"

status=0
play() {  # play NAME [ansible-playbook options...]: runs $work/NAME.yml; its report, parsed, in $work/NAME.json
  local name=$1
  shift
  status=0
  ansible-playbook -v -i localhost, -c local "$@" "$work/$name.yml" >"$work/$name.out" 2>&1 || status=$?
  # ansible-core ships no JSON stdout callback; the default one at -v prints
  # each result as one JSON line after what the task showed (its diff), and
  # the recap as counts.
  "$python" - "$work/$name.out" "$work/$name.json" <<'PY'
import json, re, sys
tasks, stats, current = [], {}, None
for line in open(sys.argv[1]):
    line = line.rstrip('\n')
    m = re.match(r'TASK \[(.*)\] \*+$', line)
    if m:
        current = {'name': m.group(1), 'shown': []}
        tasks.append(current)
        continue
    m = re.match(r'(ok|changed|fatal): \[localhost\](?:: FAILED!)? => (\{.*\})$', line)
    if m and current is not None and 'result' not in current:
        current['status'], current['result'] = m.group(1), json.loads(m.group(2))
        continue
    m = re.match(r'localhost\s+: (.*=\d+.*)$', line)
    if m:
        stats = {key: int(value) for key, value in re.findall(r'(\w+)=(\d+)', m.group(1))}
        continue
    if current is not None and 'result' not in current:
        current['shown'].append(line)
json.dump({'tasks': tasks, 'stats': stats}, open(sys.argv[2], 'w'))
PY
  if [ "$(field "$name" stats ok)" == "<no recap>" ]; then
    echo "play $name gave no recap:" >&2
    cat "$work/$name.out" >&2
  fi
}

field() {  # field NAME TASK KEY: KEY of TASK's result in play NAME (JSON unless a string); KEY "status" for
           # ok/changed/fatal, "shown" for what the task printed before its result; TASK "stats" for the recap
  "$python" - "$work/$1.json" "$2" "$3" <<'PY'
import json, sys
path, task, key = sys.argv[1:]
doc = json.load(open(path))
if task == 'stats':
    value = doc['stats'].get(key, '<no recap>')
else:
    found = [t for t in doc['tasks'] if t['name'] == task]
    if not found:
        value = '<no task>'
    elif key == 'shown':
        value = '\n'.join(found[0]['shown'])
    elif key == 'status':
        value = found[0].get('status', '<no result>')
    else:
        value = found[0].get('result', {}).get(key)
print(value if isinstance(value, str) else json.dumps(value, sort_keys=True))
PY
}


entries() {  # the printer blocks of the configuration as "NAME DEVICE" lines
  awk '/^<Printer /{name = $2; sub(/>$/, "", name)} /^DevicePath/ && name != "" {print name, $2} /^<\/Printer>/{name = ""}' "$conf"
}
snapshot() {  # bytes and modification times of everything in the configuration's directory
  (cd "$work/conf" && for f in *; do printf '%s %s %s\n' "$f" "$(stat -c %y "$f")" "$(sha256sum <"$f")"; done)
}

header="- hosts: localhost
  gather_facts: false
  environment:
    CUPS_SERVER: $socket
  module_defaults:
    zorv.admin.zorv_printer: {path: $conf}
    zorv.admin.zorv_printer_info: {path: $conf}
    zorv.admin.zorv_setting: {path: $conf}
    zorv.admin.zorv_printers: {path: $conf}
  tasks:"
playbook() {  # playbook NAME "TASK NAME|ARGUMENTS" ...: $work/NAME.yml, one zorv_printer task per argument
  local name=$1 task
  shift
  {
    echo "$header"
    for task in "$@"; do printf '    - name: %s\n      zorv.admin.zorv_printer: {%s}\n' "${task%%|*}" "${task#*|}"; done
  } >"$work/$name.yml"
}

# --- add, modify, remove ---------------------------------------------------
playbook changes "add Q1|name: Q1, device: /dev/usb/lp1" "modify Q1|name: Q1, device: /dev/usb/lp2" \
  "add Q2|name: Q2, device: /dev/usb/lp3, state: present" "remove Office|name: Office, state: absent"
play changes
expect "changes: play status" "$status" 0
for task in "add Q1" "modify Q1" "add Q2" "remove Office"; do
  expect "changes: $task reports changed" "$(field changes "$task" changed)" true
done
expect "changes: modify Q1 returns the old device" "$(field changes "modify Q1" previous_device)" /dev/usb/lp1
expect "changes: modify Q1 returns the new device" "$(field changes "modify Q1" device)" /dev/usb/lp2
expect "changes: recap" "$(field changes stats changed)" 4
expect "changes: entries in the file" "$(entries | tr '\n' ,)" "Q1 /dev/usb/lp2,Q2 /dev/usb/lp3,"
expect "changes: the command kept a backup" "$(test -f "$conf.bak" && echo yes)" yes
expect "changes: backup_file names it" "$(field changes "remove Office" backup_file)" "$conf.bak"

# --- a second run changes nothing ------------------------------------------
logged="zorvadmin: $work/logbin/zorvadmin"
playbook steady "modify Q1|name: Q1, device: /dev/usb/lp4, $logged" "remove Q2|name: Q2, state: absent, $logged" \
  "Office stays absent|name: Office, state: absent, $logged" "Q3 by serial|name: Q3, serial: A-1, $logged"
cat >>"$work/steady.yml" <<EOF
    - name: port
      zorv.admin.zorv_setting: {name: UI_Port, value: "59790", $logged}
    - name: log directory
      zorv.admin.zorv_setting: {name: LogDirectoryPath, value: /var/log/zorv/, $logged}
EOF
play steady
expect "steady, first run: recap" "$(field steady stats changed)/$(field steady stats failed)" 5/0
expect "steady, first run: ran the changes through the named command" \
  "$(grep -c -x -e '--quiet -p Q1 -o /dev/usb/lp4' -e '--quiet -x Q2' -e '--quiet -p Q3 -o /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp' \
    -e '--quiet --set UI_Port 59790' -e '--quiet --set LogDirectoryPath /var/log/zorv/' "$calls")" 5
expect "steady: serial resolved to the stable name" "$(field steady "Q3 by serial" device)" /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp
expect "steady: setting changed, backup named" "$(field steady port changed) $(field steady port backup_file)" "true $conf.bak"
: >"$calls"
before=$(snapshot)
play steady
expect "steady, second run: play status" "$status" 0
expect "steady, second run: recap" "$(field steady stats changed)/$(field steady stats failed)" 0/0
expect "steady, second run: only reads" "$(grep -c -e '^--quiet ' "$calls")" 0
expect "steady, second run: no backup_file" "$(field steady port backup_file)/$(field steady "Q3 by serial" backup_file)" null/null
expect "steady, second run: directory untouched" "$(snapshot)" "$before"
expect "steady: entries in the file" "$(entries | tr '\n' ,)" "Q1 /dev/usb/lp4,Q3 /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp,"
expect "steady: settings in the file" "$(grep -E -c -x -e 'UI_Port[[:space:]]+59790' -e 'LogDirectoryPath[[:space:]]+/var/log/zorv/' "$conf")" 2

# --- check mode predicts and touches nothing -------------------------------
playbook check "modify Q1|name: Q1, device: /dev/usb/lp9" "add Q2|name: Q2, device: /dev/usb/lp5" \
  "remove Q1|name: Q1, state: absent" "Q2 stays absent|name: Q2, state: absent"
cat >>"$work/check.yml" <<EOF
    - name: port
      zorv.admin.zorv_setting: {name: UI_Port, value: "59791"}
    - name: same port
      zorv.admin.zorv_setting: {name: UI_Port, value: "59790"}
EOF
before=$(snapshot)
play check --check
expect "check: play status" "$status" 0
expect "check: predicted changes" \
  "$(for t in "modify Q1" "add Q2" "remove Q1" "Q2 stays absent" port "same port"; do field check "$t" changed; done | tr '\n' ,)" \
  "true,true,true,false,true,false,"
expect "check: predicted device" "$(field check "modify Q1" device)" /dev/usb/lp9
expect "check: directory untouched" "$(snapshot)" "$before"

# --- diff mode shows the command's diff ------------------------------------
cat >"$work/diff.yml" <<EOF
$header
    - name: modify Q1
      zorv.admin.zorv_printer: {name: Q1, device: /dev/usb/lp6}
    - name: port
      zorv.admin.zorv_setting: {name: UI_Port, value: "59787"}
EOF
play diff --diff
expect "diff: the setting's diff" "$(field diff port shown | grep -E -x -e '-UI_Port[[:space:]]+59790' -e '\+UI_Port[[:space:]]+59787' | cut -c1)" "$(printf -- '-\n+')"
expect "diff: play status" "$status" 0
diff_text=$(field diff "modify Q1" shown)
expect "diff: removed line" "$(grep -c -E '^-DevicePath[[:space:]:]+/dev/usb/lp4$' <<<"$diff_text")" 1
expect "diff: added line" "$(grep -c -E '^\+DevicePath[[:space:]:]+/dev/usb/lp6$' <<<"$diff_text")" 1
expect "diff: names the file" "$(grep -c -F -e "--- $conf" -e "+++ $conf" <<<"$diff_text")" 2
expect "diff: the change was made" "$(entries | tr '\n' ,)" "Q1 /dev/usb/lp6,Q3 /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp,"

# --- failures carry the command's message and status -----------------------
cat >"$work/failures.yml" <<EOF
$header
    - name: unknown queue
      zorv.admin.zorv_printer: {name: NOSUCH, device: /dev/usb/lp7}
      ignore_errors: true
    - name: unknown queue in check mode
      zorv.admin.zorv_printer: {name: NOSUCH, device: /dev/usb/lp7}
      check_mode: true
      ignore_errors: true
    - name: file error
      zorv.admin.zorv_printer: {name: Q1, device: /dev/usb/lp7, path: $work/plain/zorv.conf}
      ignore_errors: true
    - name: scheduler unreachable
      zorv.admin.zorv_printer: {name: Q2, device: /dev/usb/lp7}
      environment: {CUPS_SERVER: $work/no-scheduler.sock}
      ignore_errors: true
    - name: scheduler unreachable in check mode
      zorv.admin.zorv_printer: {name: Q2, device: /dev/usb/lp7}
      environment: {CUPS_SERVER: $work/no-scheduler.sock}
      check_mode: true
      ignore_errors: true
    - name: serial nobody has
      zorv.admin.zorv_printer: {name: Q2, serial: Z-9}
      ignore_errors: true
    - name: serial two printers have
      zorv.admin.zorv_printer: {name: Q2, serial: D-4}
      check_mode: true
      ignore_errors: true
    - name: serial of a printer without a stable name
      zorv.admin.zorv_printer: {name: Q2, serial: E-5}
      ignore_errors: true
    - name: port refused
      zorv.admin.zorv_setting: {name: UI_Port, value: "port"}
      ignore_errors: true
EOF
before=$(snapshot)
play failures
expect "failures: recap" "$(field failures stats ignored)/$(field failures stats changed)" 9/0
for task in "unknown queue" "unknown queue in check mode"; do
  expect "failures: $task: message" "$(field failures "$task" msg)" "NOSUCH can't find in CUPS Spooler Entry!!"
  expect "failures: $task: status" "$(field failures "$task" rc)" 2
done
expect "failures: file error: status" "$(field failures "file error" rc)" 3
expect "failures: file error: message" "$(field failures "file error" msg | cut -c1-11)" "zorvadmin: "
expect "failures: scheduler unreachable: the cause, not what followed" "$(field failures "scheduler unreachable" msg)" \
  "zorvadmin: cannot reach the CUPS scheduler at $work/no-scheduler.sock: No such file or directory; queue names were not checked"
expect "failures: scheduler unreachable: status" "$(field failures "scheduler unreachable" rc)" 4
expect "failures: serial nobody has: message" "$(field failures "serial nobody has" msg)" "no present printer has the serial Z-9"
expect "failures: serial two printers have: message" "$(field failures "serial two printers have" msg)" \
  "2 present printers have the serial D-4: /dev/usb/lp2, /dev/usb/lp3; name the device instead"
expect "failures: serial of a printer without a stable name: message" \
  "$(field failures "serial of a printer without a stable name" msg)" "the printer with the serial E-5 (/dev/usb/lp4) has no stable name"
while IFS=: read -r task reason; do  # what each task failed of
  expect "failures: $task: reason" "$(field failures "$task" status) $(field failures "$task" reason)" "fatal $reason"
done <<'ROWS'
unknown queue:unknown-queue
unknown queue in check mode:unknown-queue
file error:file-error
scheduler unreachable:scheduler-unreachable
scheduler unreachable in check mode:scheduler-unreachable
serial nobody has:serial-not-found
serial two printers have:serial-ambiguous
serial of a printer without a stable name:serial-not-found
port refused:refused
ROWS
expect "failures: directory untouched" "$(snapshot)" "$before"

# --- warnings, and a missing file in check mode ----------------------------
missing=$work/missing/zorv.conf
mkdir -p "$work/missing"
cat >"$work/warnings.yml" <<EOF
$header
    - name: device that does not exist
      zorv.admin.zorv_printer: {name: Q2, device: /dev/usb/lp8}
    - name: character device
      zorv.admin.zorv_printer: {name: Q2, device: /dev/null}
    - name: add to a missing file
      zorv.admin.zorv_printer: {name: q2, device: /dev/null, path: $missing}
      check_mode: true
    - name: unknown queue in a missing file
      zorv.admin.zorv_printer: {name: NOSUCH, device: /dev/null, path: $missing}
      check_mode: true
      ignore_errors: true
    - name: remove from a missing file
      zorv.admin.zorv_printer: {name: Q2, state: absent, path: $missing}
      check_mode: true
    - name: setting in a missing file
      zorv.admin.zorv_setting: {name: UI_Port, value: "59788", path: $missing}
      check_mode: true
EOF
play warnings --diff
expect "warnings: recap" "$(field warnings stats changed)/$(field warnings stats ignored)" 4/1
expect "missing file: setting predicted" "$(field warnings "setting in a missing file" changed)" true
expect "missing file: the setting's diff" \
  "$(field warnings "setting in a missing file" shown | grep -c -x -E -e "# $missing does not exist; zorvadmin creates it from its default, then:" -e '\+UI_Port[[:space:]]+59788')" 2
# The default callback shows a task's warnings before its result.
expect "warnings: the command's warning, once" "$(field warnings "device that does not exist" shown | grep '^\[WARNING\]')" \
  "[WARNING]: zorvadmin: the device path /dev/usb/lp8 does not exist"
expect "warnings: none for a character device" "$(field warnings "character device" shown | grep -c '^\[WARNING\]')" 0
expect "missing file: add predicted" \
  "$(field warnings "add to a missing file" changed) $(field warnings "add to a missing file" device)" "true /dev/null"
expect "missing file: the diff says the file is created" \
  "$(field warnings "add to a missing file" shown | grep -c -x -F -e "# $missing does not exist; zorvadmin creates it from its default, then:" -e "+<Printer Q2>")" 2
expect "missing file: unknown queue refused" "$(field warnings "unknown queue in a missing file" reason)" unknown-queue
expect "missing file: nothing to remove" "$(field warnings "remove from a missing file" changed)" false
expect "missing file: still missing" "$(ls -A "$work/missing")" ""

# --- zorv_printer_info -----------------------------------------------------
# An entry CUPS does not know, its device path with a tab, and one whose
# queue name holds the byte 0x1c, which str.splitlines would split at.
sed -i "s|^<Ports>|<Printer Gone>\nDevicePath /dev/usb/lp\t1\n</Printer>\n\n<Printer Q\x1cX>\nDevicePath /dev/usb/lp0\n</Printer>\n\n<Ports>|" "$conf"
cat >"$work/info.yml" <<EOF
$header
    - name: read
      zorv.admin.zorv_printer_info:
    - name: read in check mode
      zorv.admin.zorv_printer_info:
      check_mode: true
    - name: missing file
      zorv.admin.zorv_printer_info: {path: $missing}
    - name: unreadable file
      zorv.admin.zorv_printer_info: {path: $work/missing}
      ignore_errors: true
EOF
before=$(snapshot)
play info
expect "info: recap" "$(field info stats changed)/$(field info stats ignored)" 0/1
expect "info: settings" "$(field info read settings)" \
  "{\"CUPS_ConfigPath\": \"$cups/\", \"LogDirectoryPath\": \"/var/log/zorv/\", \"UI_Port\": \"59787\"}"
expect "info: entries" "$(field info read entries)" \
  '[{"backend": "zorv", "device": "/dev/usb/lp6", "fifo": "/x", "name": "Q1", "state": "ok"}, {"backend": "zorv", "device": "/dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp", "fifo": "/x", "name": "Q3", "state": "ok"}, {"backend": "zorv", "device": "/dev/null", "fifo": "/x", "name": "Q2", "state": "ok"}, {"backend": "", "device": "/dev/usb/lp\\t1", "fifo": "", "name": "Gone", "state": "unknown-queue"}, {"backend": "", "device": "/dev/usb/lp0", "fifo": "", "name": "Q\\x1cX", "state": "unknown-queue"}]'
expect "info: check mode reads the same" "$(field info "read in check mode" entries)" "$(field info read entries)"
expect "info: missing file" "$(field info "missing file" exists) $(field info "missing file" entries)" "false []"
expect "info: missing file not created" "$(ls -A "$work/missing")" ""
devices() {  # devices EXPRESSION: EXPRESSION over the list of devices the info task returned
  "$python" -c 'import json, sys; devices = json.loads(sys.argv[1]); print(eval(sys.argv[2]))' "$(field info read devices)" "$1"
}
expect "info: every printer, once" "$(devices '[d["node"] for d in devices]')" \
  "['/dev/usb/lp0', '/dev/usb/lp1', '/dev/usb/lp2', '/dev/usb/lp3', '/dev/usb/lp4']"
expect "info: a printer and its entries" "$(devices 'json.dumps(devices[0], sort_keys=True)')" \
  '{"entries": [{"cups_make_and_model": "Local Raw Printer", "device_path": "/dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp", "node": "/dev/usb/lp0", "queue": "Q3", "verdict": "unknown"}, {"cups_make_and_model": "", "device_path": "/dev/usb/lp0", "node": "/dev/usb/lp0", "queue": "Q\\x1cX", "verdict": "unknown"}], "kind": "usb", "links": ["/dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp", "/dev/usb/by-path/pci-0000:00:14.0-usb-0:2:1.0-lp"], "make": "Zorv", "model": "ZPR4410", "node": "/dev/usb/lp0", "port": "1-2", "serial": "A-1", "stable_name": "/dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp", "stable_name_reason": "own-serial"}'
expect "info: a Device ID holding U+2028" "$(devices '[devices[1][k] for k in ("model", "serial", "stable_name")]')" \
  "['ZPR\u20282200', 'C-3', '/dev/usb/by-id/usb-Zorv_ZPR_2200_C-3-lp']"
expect "info: entries whose printer is absent" "$(field info read absent_entries)" \
  '[{"cups_make_and_model": "", "device_path": "/dev/usb/lp6", "node": "", "queue": "Q1", "verdict": "absent"}, {"cups_make_and_model": "", "device_path": "/dev/null", "node": "", "queue": "Q2", "verdict": "absent"}, {"cups_make_and_model": "", "device_path": "/dev/usb/lp\\t1", "node": "", "queue": "Gone", "verdict": "absent"}]'
expect "info: unreadable file" "$(field info "unreadable file" reason)" file-error
expect "info: configuration untouched" "$(snapshot)" "$before"

# --- zorv_printers: the whole host in one batch -----------------------------
cat >"$work/declare.yml" <<EOF
$header
    - name: declare
      zorv.admin.zorv_printers:
        entries:
          - {name: q1, serial: A-1}
          - {name: Q2, device: /dev/usb/lp1}
          - {name: Q3, stable: true}
        exclusive: true
        settings: {UI_Port: "59795", LogDirectoryPath: /var/log/zorv/}
        zorvadmin: $work/logbin/zorvadmin
EOF
# zorvadmin refuses a queue name with a control character, in a batch line
# as in -x, so such an entry cannot be removed by the batch.
before=$(snapshot)
play declare --check
expect "declare: an entry it cannot remove" "$(field declare declare reason) $(field declare declare msg)" \
  "refused zorvadmin: (standard input):4: the queue name must not contain control characters; nothing changed"
expect "declare: nothing changed" "$(snapshot)" "$before"
sed -i '/^<Printer Q\x1cX>$/,/^<\/Printer>$/d' "$conf"
before=$(snapshot)
play declare --check --diff
expect "declare, check mode: changed" "$(field declare declare status) $(field declare stats changed)" "changed 1"
expect "declare, check mode: the batch" "$(field declare declare batch)" \
  '["add q1 /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp", "add Q2 /dev/usb/lp1", "remove Gone", "set UI_Port 59795"]'
expect "declare, check mode: one diff" "$(field declare declare shown | grep -c -x -E -e '-<Printer Gone>' -e '\+UI_Port[[:space:]]+59795' -e '\+DevicePath /dev/usb/lp1')" 3
expect "declare, check mode: directory untouched" "$(snapshot)" "$before"
: >"$calls"
play declare
expect "declare: changed" "$(field declare declare status) $(field declare stats changed)/$(field declare stats failed)" "changed 1/0"
expect "declare: backup_file" "$(field declare declare backup_file)" "$conf.bak"
expect "declare: one change run" "$(grep -c -x -e '--json --batch -' "$calls")" 1
expect "declare: entries in the file" "$(entries | tr '\n' ,)" \
  "Q1 /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp,Q3 /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp,Q2 /dev/usb/lp1,"
: >"$calls"
before=$(snapshot)
play declare --diff
expect "declare, second run: recap" "$(field declare stats changed)/$(field declare stats failed)" 0/0
expect "declare, second run: no batch" "$(field declare declare batch) $(grep -c -e '--batch' "$calls")" "[] 0"
expect "declare, second run: directory untouched" "$(snapshot)" "$before"
cat >"$work/declared-failures.yml" <<EOF
$header
    - name: serial two printers have
      zorv.admin.zorv_printers: {entries: [{name: Q1, serial: D-4}]}
      ignore_errors: true
    - name: stable on a printer not present
      zorv.admin.zorv_printers: {entries: [{name: Gone, stable: true}]}
      ignore_errors: true
    - name: two ways to name a printer
      zorv.admin.zorv_printers: {entries: [{name: Q1, serial: A-1, device: /dev/usb/lp0}]}
      ignore_errors: true
    - name: unknown queue
      zorv.admin.zorv_printers: {entries: [{name: NOSUCH, device: /dev/usb/lp0}]}
      ignore_errors: true
    - name: listed twice
      zorv.admin.zorv_printers: {entries: [{name: Q1, device: /dev/usb/lp0}, {name: q1, device: /dev/usb/lp1}]}
      ignore_errors: true
    - name: line break
      zorv.admin.zorv_printers: {settings: {LogDirectoryPath: "/var/log\\nremove Q1"}}
      ignore_errors: true
    - name: missing file in check mode
      zorv.admin.zorv_printers: {entries: [{name: Q1, serial: A-1}], path: $missing}
      check_mode: true
EOF
play declared-failures
expect "declared failures: recap" "$(field declared-failures stats ignored)/$(field declared-failures stats changed)" 6/1
while IFS=: read -r task reason; do
  expect "declared failures: $task" "$(field declared-failures "$task" reason)" "$reason"
done <<'ROWS'
serial two printers have:serial-ambiguous
stable on a printer not present:not-present
unknown queue:unknown-queue
ROWS
expect "declared failures: two ways" "$(field declared-failures "two ways to name a printer" msg)" \
  "entry Q1: give exactly one of device, serial and stable: true"
expect "declared failures: listed twice" "$(field declared-failures "listed twice" msg)" "q1 is listed more than once in entries"
expect "declared failures: line break" "$(field declared-failures "line break" msg)" "a line break in '/var/log\\nremove Q1'"
expect "declared failures: missing file stays missing" "$(ls -A "$work/missing")" ""

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
