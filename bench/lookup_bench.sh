#!/usr/bin/env bash
# Measures zorvadmin's cost against a private CUPS scheduler with 17 queues,
# this tree beside the previous release and beside `lpstat -v` against the
# same scheduler, all in one run: median wall time of single runs spaced
# apart, scheduler requests per run (from the scheduler's access log) and
# sync() calls per run (strace -c). Prints Markdown tables.
#   bench/lookup_bench.sh [--dnssd] [--busy-disk] [--scale] [--runs N] [--old REV] [--old-binary FILE]
#                         [--build-dir DIR]
# --dnssd      also runs dbus and avahi-daemon (scripts/dnssd.sh), so libcups
#              browses DNS-SD as on a desktop or print server.
# --busy-disk  instead times adds while a background dd keeps writing 1 GiB
#              to the same file system, idle first for comparison. The old
#              build's adds then take seconds to minutes each, so this mode
#              makes 5 runs unless told otherwise (about 10 minutes).
# --old REV    the previous release to compare with (default 59a52a8, the
#              last one that wrote each line with its own sync(); with
#              --scale 56345dc, release 1.2).
# --old-binary FILE  a build of the previous release to use instead of
#              building REV (REV then only names it in the tables).
# --scale      instead schedulers of 10, 1,000 and 5,000 queues, beside
#              `lpstat -v Q` (bench/scale.sh), and each build's growth from
#              10 to 5,000 queues; with --dnssd again with DNS-SD on. 5 runs
#              unless told otherwise, a few minutes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/private_scheduler.sh
. "$top/bench/private_scheduler.sh"
runs=
dnssd=no
busy=no
old_rev=
old_binary=
build_dir=$top/build-release
scale=no
usage="usage: $0 [--dnssd] [--busy-disk] [--scale] [--runs N] [--old REV] [--old-binary FILE] [--build-dir DIR]"
while [ $# -gt 0 ]; do
  case $1 in
    --dnssd) dnssd=yes ;;
    --busy-disk) busy=yes ;;
    --scale) scale=yes ;;
    --runs) runs=${2:?$usage}; shift ;;
    --old) old_rev=${2:?$usage}; shift ;;
    --old-binary) old_binary=${2:?$usage}; shift ;;
    --build-dir) build_dir=${2:?$usage}; shift ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
  shift
done
if [ -z "$runs" ]; then
  runs=9
  [ $busy = yes ] || [ $scale = yes ] && runs=5
fi
if [ -z "$old_rev" ]; then
  old_rev=59a52a8
  [ $scale = yes ] && old_rev=56345dc
fi
if [ -n "$old_binary" ] && [ ! -x "$old_binary" ]; then
  echo "$0: $old_binary is not an executable" >&2
  exit 2
fi
if [ -z "$old_binary" ] && ! git -C "$top" cat-file -e "$old_rev^{commit}" 2>/dev/null; then
  echo "$0: commit $old_rev is not in this repository; fetch it, or name another with --old REV" >&2
  exit 2
fi

packages=(g++ cmake ninja-build libcups2-dev cups-daemon cups-client strace)
[ $dnssd = yes ] || [ $scale = yes ] && packages+=(dbus avahi-daemon avahi-utils)
[ $scale = yes ] && packages+=(time python3)
"$top/scripts/deps.sh" "${packages[@]}" >&2

work=$(mktemp -d /tmp/zorvbench.XXXXXX)
pids=()
writer=
dnssd_started=no
cleanup() {
  if [ -n "$writer" ]; then kill -- "-$writer" 2>/dev/null || true; fi
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ $dnssd_started = yes ]; then "$top/scripts/dnssd.sh" stop || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

build() {  # build SOURCE DIR
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORV_BUILD_TESTS=OFF >/dev/null
  cmake --build "$2" --target zorvadmin >/dev/null
}
echo "building this tree and $old_rev ..." >&2
build "$top" "$build_dir"
if [ -z "$old_binary" ]; then
  mkdir -p "$work/old"
  git -C "$top" archive "$old_rev" | tar -x -C "$work/old"
  build "$work/old" "$work/old/build"
  old_binary=$work/old/build/zorvadmin
fi
declare -A binary=([new]=$build_dir/zorvadmin [old]=$old_binary)

labels=() setups=() arguments=()
add_case() { labels+=("$1"); setups+=("$2"); arguments+=("$3"); }
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
# Both modes: the scheduler's access log counts the requests, and each run
# starts from a fresh configuration at $ZORV_CONF.
requests() { wc -l < "$scheduler/log/access_log"; }
# one_run KEY SETUP COMMAND...: one timed run from a fresh configuration.
one_run() {
  local key=$1 setup=$2
  shift 2
  eval "$setup" > "$ZORV_CONF"
  rm -f "$ZORV_CONF.bak" "$ZORV_CONF~"
  local before start end
  before=$(requests)
  start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 || true
  end=$EPOCHREALTIME
  times[$key]+=" $(awk -v us=$((${end/./} - ${start/./})) 'BEGIN { printf "%.1f", us / 1000 }')"
  reqs[$key]+=" $(($(requests) - before))"
  sleep 0.2  # spaced apart: no run pays for the previous one's writeback
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "-"; else printf "%.2f", a / b }'; }

if [ $scale = yes ]; then
  # shellcheck source=bench/scale.sh
  . "$top/bench/scale.sh"
  exit 0
fi

# Started only when not running yet, and then stopped again at the end.
if [ $dnssd = yes ] && ! "$top/scripts/dnssd.sh" status; then
  "$top/scripts/dnssd.sh" start
  dnssd_started=yes
fi
dnssd_active=no
if "$top/scripts/dnssd.sh" status 2>/dev/null; then dnssd_active=yes; fi
if [ $dnssd != $dnssd_active ]; then
  echo "warning: asked for DNS-SD $dnssd, but it is $( [ $dnssd_active = yes ] && echo running || echo not running)" >&2
fi

scheduler=$work/cups
chmod 755 "$work"
write_scheduler_dir "$scheduler" "AccessLogLevel all"
cupsd -f -c "$scheduler/cupsd.conf" -s "$scheduler/cups-files.conf" &
pids+=($!)
export CUPS_SERVER=$scheduler/cups.sock
for _ in $(seq 50); do lpstat -r >/dev/null 2>&1 && break; sleep 0.1; done
for i in $(seq 0 16); do lpadmin -p "Q$i" -v "zorv:/var/run/zorv/Q$i.fifo" -E; done
export ZORV_CONF=$work/zorv.conf HOME=$work

# config_with N [UNKNOWN [PADDING]]: N entries, the last one named UNKNOWN
# when given, and PADDING comment lines.
config_with() {
  printf '<Path>\nCUPS_ConfigPath %s/\n</Path>\n' "$scheduler"
  for i in $(seq 1 "$1"); do
    local name=Q$i
    [ "$i" = "$1" ] && [ -n "${2:-}" ] && name=$2
    printf '<Printer %s>\nDevicePath /dev/usb/lp%d\n</Printer>\n' "$name" "$i"
  done
  for _ in $(seq 1 "${3:-0}"); do printf '# padding, as a long commented file has\n'; done
  printf '<Ports>\nUI_Port 59787\n</Ports>\n'
}



declare -A times=() reqs=() syncs=()

# sync_count SETUP COMMAND...: sync() calls of one run.
sync_count() {
  local setup=$1
  shift
  eval "$setup" > "$work/zorv.conf"
  rm -f "$work/zorv.conf.bak" "$work/zorv.conf~"
  strace -f -c -e trace=sync -o "$work/strace" "$@" >/dev/null 2>&1 || true
  awk '$NF == "sync" { n = $4 } END { print n + 0 }' "$work/strace"
}

# measure_cases [count-syncs]: every case with both builds, round after
# round, so a drift of the machine falls on all of them alike.
measure_cases() {
  local c build
  for _ in $(seq "$runs"); do
    for c in "${!labels[@]}"; do
      for build in old new; do
        # shellcheck disable=SC2086  # the arguments are split on purpose
        one_run "$c.$build" "${setups[$c]}" "${binary[$build]}" ${arguments[$c]}
      done
    done
    one_run lpstat true lpstat -v
  done
  [ "${1:-}" = count-syncs ] || return 0
  for c in "${!labels[@]}"; do
    for build in old new; do
      # shellcheck disable=SC2086
      syncs[$c.$build]=$(sync_count "${setups[$c]}" "${binary[$build]}" ${arguments[$c]})
    done
  done
}

echo "DNS-SD active: $dnssd_active; $runs runs each, medians; old is $old_rev, new is this tree;" \
  "requests are the scheduler's access-log lines per run"
echo

if [ $busy = no ]; then
  add_case "list, 0 entries" "config_with 0" "-o none"
  add_case "list, 4 entries" "config_with 4" "-o none"
  add_case "list, 16 entries" "config_with 16" "-o none"
  add_case "list, 16 entries, one unknown to CUPS" "config_with 16 Nowhere" "-o none"
  add_case "add of a known queue (Q1 modified), 16 entries" "config_with 16" "-p Q1 -o /dev/usb/lp0"
  add_case "add of an unknown name, 16 entries" "config_with 16" "-p Nowhere -o /dev/usb/lp0"
  measure_cases count-syncs
  # shellcheck disable=SC2086
  lpstat_ms=$(median ${times[lpstat]})
  echo "| run | old ms | new ms | new ÷ lpstat -v | new ÷ old | old requests | new requests | old sync() | new sync() |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  # shellcheck disable=SC2086
  echo "| \`lpstat -v\` | | $lpstat_ms | 1.00 | | | $(median ${reqs[lpstat]}) | | |"
  for c in "${!labels[@]}"; do
    # shellcheck disable=SC2086
    old_ms=$(median ${times[$c.old]}) new_ms=$(median ${times[$c.new]})
    # shellcheck disable=SC2086
    echo "| ${labels[$c]} | $old_ms | $new_ms | $(ratio "$new_ms" "$lpstat_ms") | $(ratio "$new_ms" "$old_ms")" \
      "| $(median ${reqs[$c.old]}) | $(median ${reqs[$c.new]}) | ${syncs[$c.old]} | ${syncs[$c.new]} |"
  done
  exit 0
fi

# Busy disk: the same adds idle, then with a writer dirtying the page cache
# of this file system all the time, so each sync() has to wait for it.
add_case "add of a known queue, 16 entries (54 lines)" "config_with 16" "-p Q1 -o /dev/usb/lp0"
add_case "add of a known queue, 16 entries + 200 comment lines (254 lines)" "config_with 16 '' 200" "-p Q1 -o /dev/usb/lp0"
measure_cases count-syncs
declare -A idle_times=()
for key in "${!times[@]}"; do idle_times[$key]=${times[$key]}; done
times=()
# Bounded: a run of this script stops it at the end, and it stops itself
# after an hour whatever happens. Its own process group, so the kill
# reaches the dd that is writing.
setsid timeout 3600 bash -c "while :; do dd if=/dev/zero of='$work/busy' bs=1M count=1024 status=none; done" &
writer=$!
sleep 3
measure_cases
if ! kill -0 "$writer" 2>/dev/null; then
  echo "warning: the background writer ended before the measurements did; the busy column is partly idle" >&2
fi
kill -- "-$writer" 2>/dev/null || true
writer=
rm -f "$work/busy"

echo "| add | old ms, idle | new ms, idle | old ms, disk busy | new ms, disk busy | busy: new ÷ old | old sync() | new sync() |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|"
for c in "${!labels[@]}"; do
  # shellcheck disable=SC2086
  old_busy=$(median ${times[$c.old]}) new_busy=$(median ${times[$c.new]})
  # shellcheck disable=SC2086
  echo "| ${labels[$c]} | $(median ${idle_times[$c.old]}) | $(median ${idle_times[$c.new]}) | $old_busy | $new_busy" \
    "| $(ratio "$new_busy" "$old_busy") | ${syncs[$c.old]} | ${syncs[$c.new]} |"
done
