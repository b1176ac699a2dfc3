#!/usr/bin/env bash
# Tries every zorvadmin command without touching the machine's configuration
# or its CUPS: builds zorvadmin (or takes the one in BUILD_DIR), starts a
# private CUPS scheduler with three sample queues on its own socket in a
# temporary directory, points ZORV_CONF at a scratch file there, and runs
# the listing, --set, an add, --dry-run, a modify, --tsv, --check, --get, a
# refused add, a remove, --restore and --devices (on two USB printers mocked with
# umockdev in a mount namespace of its own), showing each command and what
# it printed. What it started is stopped, and the directory removed,
# however it ends.
#   scripts/try.sh [BUILD_DIR]   (as root)
# Each change still sends its syslog line (naming the scratch file) to the
# machine's log. Installing cups-daemon, when it is missing, is the one
# lasting change: Debian starts the machine's own scheduler on install.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

if [ "$(id -u)" != 0 ]; then
  echo "try.sh: run it as root: changes need root, and so do the private scheduler and the mocked printers" >&2
  exit 1
fi
"$top/scripts/deps.sh" g++ cmake ninja-build libcups2-dev pkg-config libudev-dev nlohmann-json3-dev cups-daemon cups-client \
  umockdev util-linux >&2
if [ $# -ge 1 ]; then
  zorvadmin=$(cd "$1" && pwd)/zorvadmin
  [ -x "$zorvadmin" ] || { echo "try.sh: no zorvadmin in $1" >&2; exit 1; }
else
  cmake -S "$top" -B "$top/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORV_BUILD_TESTS=OFF >/dev/null
  cmake --build "$top/build-release" --target zorvadmin >/dev/null
  zorvadmin=$top/build-release/zorvadmin
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zorvtry.XXXXXX")
cupsd_pid=
cleanup() {
  if [ -n "$cupsd_pid" ]; then
    kill "$cupsd_pid" 2>/dev/null || true
    wait "$cupsd_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# Nothing of the caller's CUPS client settings, and none of /etc/zorv.conf.
unset CUPS_USER CUPS_ENCRYPTION IPP_PORT LPDEST PRINTER
export CUPS_SERVER=$work/cups/cups.sock ZORV_CONF=$work/zorv.conf
# The sanitizer build runs under umockdev-run's preloaded library too.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0

# The private scheduler: its own configuration, spool, logs and socket.
cups=$work/cups
mkdir -p "$cups"/{bin/backend,cache,state,spool,tmp,log,ppd}
chmod 755 "$work" "$cups"
for backend in usb zorv; do  # lpadmin refuses a device URI without its backend
  printf '#!/bin/sh\nexit 0\n' >"$cups/bin/backend/$backend"
  chmod 755 "$cups/bin/backend/$backend"
done
for sub in daemon filter notifier cgi-bin driver monitor; do
  [ ! -e "/usr/lib/cups/$sub" ] || ln -s "/usr/lib/cups/$sub" "$cups/bin/$sub"
done
printf '%s\n' "Listen $CUPS_SERVER" "DirtyCleanInterval 0" "Browsing No" "WebInterface No" "LogLevel warn" \
  "<Location />" "Order allow,deny" "Allow all" "</Location>" >"$cups/cupsd.conf"
printf '%s\n' "ServerRoot $cups" "ServerBin $cups/bin" "CacheDir $cups/cache" "StateDir $cups/state" \
  "RequestRoot $cups/spool" "TempDir $cups/tmp" "ErrorLog $cups/log/error_log" "AccessLog $cups/log/access_log" \
  "PageLog $cups/log/page_log" "SystemGroup root" "FileDevice Yes" >"$cups/cups-files.conf"
cupsd -f -c "$cups/cupsd.conf" -s "$cups/cups-files.conf" </dev/null >/dev/null 2>&1 &
cupsd_pid=$!
for _ in $(seq 100); do
  ! lpstat -r >/dev/null 2>&1 || break
  sleep 0.1
done
lpstat -r >/dev/null 2>&1 || { echo "try.sh: the private cupsd did not start:" >&2; cat "$cups/log/error_log" >&2; exit 1; }

# Three sample queues, each with its printer's make and model (a minimal PPD).
queue() {  # queue NAME MODEL DEVICE-URI
  printf '%s\n' '*PPD-Adobe: "4.3"' '*FormatVersion: "4.3"' '*LanguageVersion: English' \
    '*LanguageEncoding: ISOLatin1' '*Manufacturer: "Zorv"' "*NickName: \"Zorv $2, 1.0\"" \
    "*ModelName: \"Zorv $2\"" >"$cups/ppd/$1.ppd"
  lpadmin -p "$1" -v "$3" -E -P "$cups/ppd/$1.ppd" 2>/dev/null
}
queue ZPR4410 ZPR4410 zorv:/var/run/zorv/ZPR4410.fifo
queue Office ZPR2200 usb://Zorv/ZPR2200
queue ZPR2200 ZPR2200 usb://Zorv/ZPR2200?serial=C-3

# Two USB printers for --devices, as udev and the kernel would show them:
# lp0 a ZPR2200 (serial C-3) on port 2, lp1 a ZPR4410 (serial A-1) on port 3.
mock=$work/mock
mkdir -p "$mock"
: >"$mock/tree.umockdev"
printf 'mount -t tmpfs tmpfs /run && mkdir -p /run/udev/data\n' >"$mock/db.sh"
: >"$mock/links.sh"
mock_printer() {  # mock_printer MINOR PORT MODEL SERIAL
  local n=$1 port=$2 model=$3 serial=$4
  local usb=/devices/pci0000:00/0000:00:14.0/usb1/1-$port
  local interface=$usb/1-$port:1.0 id link
  id=$(printf 'MFG:Zorv;MDL:%s;SN:%s;' "$model" "$serial" | od -An -tx1 | tr -d ' \n')
  printf '%s\n' "P: $usb" "E: SUBSYSTEM=usb" "E: DEVTYPE=usb_device" "A: manufacturer=Zorv" \
    "A: product=USB Printer" "A: serial=$serial" "" "P: $interface" "E: SUBSYSTEM=usb" "E: DEVTYPE=usb_interface" \
    "L: driver=../../../../../bus/usb/drivers/usblp" "H: ieee1284_id=$id" "" "P: $interface/usbmisc/lp$n" \
    "N: usb/lp$n" "E: DEVNAME=/dev/usb/lp$n" "E: SUBSYSTEM=usbmisc" "E: MAJOR=180" "E: MINOR=$n" "A: dev=180:$n" \
    "" >>"$mock/tree.umockdev"
  # shellcheck disable=SC2016 # $UMOCKDEV_DIR is links.sh's, under umockdev-run
  for link in "usb/by-id/usb-Zorv_${model}_$serial-lp" "usb/by-path/pci-0000:00:14.0-usb-0:$port:1.0-lp"; do
    printf 'echo S:%s >>/run/udev/data/c180:%s\n' "$link" "$n" >>"$mock/db.sh"
    printf 'mkdir -p "$UMOCKDEV_DIR/dev/%s" && ln -s ../lp%s "$UMOCKDEV_DIR/dev/%s" && ln -s 180:%s "$UMOCKDEV_DIR/dev/.node/%s"\n' \
      "${link%/*}" "$n" "$link" "$n" "${link//\//_}" >>"$mock/links.sh"
  done
}
mock_printer 0 2 ZPR2200 C-3
mock_printer 1 3 ZPR4410 A-1
printf 'exec "$@"\n' >>"$mock/links.sh"
printf 'exec umockdev-run -d %s -- sh %s "$@"\n' "$mock/tree.umockdev" "$mock/links.sh" >>"$mock/db.sh"

# show [--status N] [--mocked] ARGS...: prints "$ zorvadmin ARGS", then what
# the run printed (standard error too), and its status when not 0; any
# status but N (0 unless given) ends the script.
show() {
  local expected=0 mocked=() status=0
  while :; do
    case ${1-} in
      --status) expected=$2; shift 2 ;;
      --mocked) mocked=(unshare -m sh "$mock/db.sh"); shift ;;
      *) break ;;
    esac
  done
  printf '\n$ zorvadmin%s\n' "$( (($#)) && printf ' %q' "$@")"
  "${mocked[@]}" "$zorvadmin" "$@" 2>&1 || status=$?
  [ "$status" = 0 ] || echo "(exit status $status)"
  if [ "$status" != "$expected" ]; then
    echo "try.sh: zorvadmin $* ended with status $status, not $expected" >&2
    exit 1
  fi
}
say() { printf '\n# %s\n' "$*"; }

echo "zorvadmin: $zorvadmin ($("$zorvadmin" --version))"
echo "ZORV_CONF=$ZORV_CONF"
echo "CUPS_SERVER=$CUPS_SERVER (a private scheduler with the queues: $(lpstat -e | paste -sd ' ' -))"

say "The listing; a missing file is created from the default."
show
say "Where the scheduler keeps printers.conf, for the listing's Backend and FIFO columns."
show --set CUPS_ConfigPath "$cups/"
say "Add two entries; the queue is written as CUPS spells it."
show -p ZPR4410 -o /dev/usb/lp1
show --quiet -p office -o /dev/usb/lp0
say "Preview a change as a diff; nothing changes."
show --dry-run -p ZPR4410 -o /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp
say "Make it: the stable name survives renumbering."
show -p ZPR4410 -o /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp
say "The listing for scripts; it needs no root (since 1.2)."
show --tsv
say "Check the file, as a configuration manager's validator would."
show --check
say "One entry's device path."
show --get zpr4410
say "A queue CUPS does not know is refused, and nothing changes."
show --status 2 -p NoSuchQueue -o /dev/usb/lp3
say "Remove an entry, then put the backup back."
show -x Office
show --restore
say "Which printer is which (two mocked USB printers)."
show --mocked --devices
echo
echo "try.sh: done; stopping the private scheduler and removing $work"
