#!/usr/bin/env bash
# Measures zorvadmin's cost against a private CUPS scheduler with 16 queues:
# for list and add runs over files with 0, 4 and 16 entries, the scheduler
# requests per run and the median wall time, beside `lpstat -v` against the
# same scheduler, all in one run.
#   bench/lookup_bench.sh [--dnssd] [--runs N]
# --dnssd also starts dbus and avahi-daemon, so libcups browses DNS-SD.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=9
dnssd=no
while [ $# -gt 0 ]; do
  case $1 in
    --dnssd) dnssd=yes ;;
    --runs) runs=$2; shift ;;
    *) echo "usage: $0 [--dnssd] [--runs N]" >&2; exit 2 ;;
  esac
  shift
done

packages=(g++ cmake ninja-build libcups2-dev cups-daemon cups-client)
[ $dnssd = yes ] && packages+=(dbus avahi-daemon)
"$top/scripts/deps.sh" "${packages[@]}" >&2
cmake -S "$top" -B "$top/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORV_BUILD_TESTS=OFF >/dev/null
cmake --build "$top/build-release" --target zorvadmin >/dev/null
zorvadmin=$top/build-release/zorvadmin

work=$(mktemp -d /tmp/zorvbench.XXXXXX)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

if [ $dnssd = yes ]; then
  mkdir -p /run/dbus
  [ -S /run/dbus/system_bus_socket ] || { dbus-daemon --system --fork --print-pid > "$work/dbus.pid"; pids+=("$(cat "$work/dbus.pid")"); }
  pgrep -x avahi-daemon >/dev/null || { avahi-daemon --no-drop-root --daemonize; sleep 1; pids+=("$(pgrep -x avahi-daemon)"); }
fi

mkdir -p "$work"/{bin/backend,cache,state,spool,tmp,log}
chmod 755 "$work"
printf '#!/bin/sh\nexit 0\n' > "$work/bin/backend/zorv"
chmod 755 "$work/bin/backend/zorv"
for sub in daemon filter notifier cgi-bin driver monitor; do
  [ -e /usr/lib/cups/$sub ] && ln -s /usr/lib/cups/$sub "$work/bin/$sub"
done
cat > "$work/cupsd.conf" <<CONF
Listen $work/cups.sock
DirtyCleanInterval 0
Browsing No
WebInterface No
AccessLogLevel all
<Location />
Order allow,deny
Allow all
</Location>
CONF
cat > "$work/cups-files.conf" <<CONF
ServerRoot $work
ServerBin $work/bin
CacheDir $work/cache
StateDir $work/state
RequestRoot $work/spool
TempDir $work/tmp
AccessLog $work/log/access_log
ErrorLog $work/log/error_log
PageLog $work/log/page_log
SystemGroup root
FileDevice Yes
CONF
cupsd -f -c "$work/cupsd.conf" -s "$work/cups-files.conf" &
pids+=($!)
export CUPS_SERVER=$work/cups.sock
for _ in $(seq 50); do lpstat -r >/dev/null 2>&1 && break; sleep 0.1; done
for i in $(seq 0 16); do lpadmin -p "Q$i" -v "zorv:/var/run/zorv/Q$i.fifo" -E; done

config_with() {  # config_with N: a configuration with N entries
  printf '<Path>\nCUPS_ConfigPath %s/\n</Path>\n' "$work"
  for i in $(seq 1 "$1"); do printf '<Printer Q%d>\nDevicePath /dev/usb/lp%d\n</Printer>\n' "$i" "$i"; done
  printf '<Ports>\nUI_Port 59787\n</Ports>\n'
}

requests() { grep -c ' CUPS-Get-Printers ' "$work/log/access_log" || true; }
now_ms() { date +%s%N | cut -c1-13; }

# measure LABEL N COMMAND...: prints requests per run and the median wall time.
measure() {
  local label=$1 entries=$2
  shift 2
  local times=() before after
  before=$(requests)
  for _ in $(seq "$runs"); do
    config_with "$entries" > "$work/zorv.conf"
    local start end
    start=$(now_ms)
    "$@" >/dev/null
    end=$(now_ms)
    times+=($((end - start)))
  done
  after=$(requests)
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  printf '%-12s %7s %18s %14s\n' "$label" "$entries" "$(((after - before) / runs))" "$median"
}

export ZORV_CONF=$work/zorv.conf
echo "DNS-SD: $dnssd; $runs runs each; requests are CUPS-Get-Printers; add sets Q1's device (new at 0 entries, a modify otherwise)"
printf '%-12s %7s %18s %14s\n' command entries requests/run median_ms
for n in 0 4 16; do
  measure "list" "$n" "$zorvadmin" -o none
  measure "add" "$n" "$zorvadmin" -p Q1 -o /dev/usb/lp0
  measure "lpstat -v" "$n" lpstat -v
done
