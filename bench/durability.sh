#!/usr/bin/env bash
# Measures what a change costs in durability, release 1.2 beside this tree in
# one run: alternating -p modifications of one entry of a scratch ZORV_CONF
# (16 entries) against a private CUPS scheduler, each build in turn, round
# after round, first with the disk idle, then while a writer keeps filling
# the same file system (dd with conv=fsync, in a loop). Reports changes per
# second (changes ÷ their summed wall time), the median change time, the
# ratio of the medians and the median of the per-round ratios, and the
# sync()/fsync() calls of one change of each build (strace -c). Prints
# Markdown tables.
#   bench/durability.sh [--runs N] [--old REV | --old-binary PATH] [--new-binary PATH] [--build-dir DIR]
# --old REV          the release to compare with (default 56345dc, 1.2),
#                    built from a git worktree of that commit
# --old-binary PATH  a zorvadmin built before, instead of building REV
# --new-binary PATH  this tree's zorvadmin built before (a Release build)
# --runs N           changes per build and disk state (default 21)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/private_scheduler.sh
. "$top/bench/private_scheduler.sh"
runs=21
old_rev=56345dc
old_binary=
new_binary=
build_dir=$top/build-release
usage="usage: $0 [--runs N] [--old REV | --old-binary PATH] [--new-binary PATH] [--build-dir DIR]"
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=${2:?$usage}; shift ;;
    --old) old_rev=${2:?$usage}; shift ;;
    --old-binary) old_binary=${2:?$usage}; shift ;;
    --new-binary) new_binary=${2:?$usage}; shift ;;
    --build-dir) build_dir=${2:?$usage}; shift ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
  shift
done
if [ -z "$old_binary" ] && ! git -C "$top" cat-file -e "$old_rev^{commit}" 2>/dev/null; then
  echo "$0: commit $old_rev is not in this repository; name another with --old REV or give --old-binary" >&2
  exit 2
fi

"$top/scripts/deps.sh" g++ cmake ninja-build libcups2-dev cups-daemon cups-client strace >&2

work=$(mktemp -d /tmp/zorvdurability.XXXXXX)
pids=()
writer=
old_tree=
cleanup() {
  if [ -n "$writer" ]; then kill -- "-$writer" 2>/dev/null || true; fi
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "$old_tree" ]; then git -C "$top" worktree remove --force "$old_tree" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

build() {  # build SOURCE DIR
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORV_BUILD_TESTS=OFF >/dev/null
  cmake --build "$2" --target zorvadmin >/dev/null
}
if [ -z "$new_binary" ]; then
  echo "building this tree ..." >&2
  build "$top" "$build_dir"
  new_binary=$build_dir/zorvadmin
fi
if [ -z "$old_binary" ]; then
  echo "building $old_rev ..." >&2
  old_tree=$work/old
  git -C "$top" worktree add --detach "$old_tree" "$old_rev" >/dev/null 2>&1
  build "$old_tree" "$work/old-build"
  old_binary=$work/old-build/zorvadmin
  old_label=$(git -C "$top" rev-parse --short "$old_rev")
else
  old_label=$old_binary
fi
declare -A binary=([old]=$old_binary [new]=$new_binary)

# The private scheduler, as the other benchmarks make it.
scheduler=$work/cups
chmod 755 "$work"
write_scheduler_dir "$scheduler"
cupsd -f -c "$scheduler/cupsd.conf" -s "$scheduler/cups-files.conf" &
pids+=($!)
export CUPS_SERVER=$scheduler/cups.sock ZORV_CONF=$work/zorv.conf HOME=$work
for _ in $(seq 50); do lpstat -r >/dev/null 2>&1 && break; sleep 0.1; done
for i in $(seq 1 16); do lpadmin -p "Q$i" -v "zorv:/var/run/zorv/Q$i.fifo" -E; done

{
  printf '<Path>\nCUPS_ConfigPath %s/\n</Path>\n' "$scheduler"
  for i in $(seq 1 16); do printf '<Printer Q%d>\nDevicePath /dev/usb/lp%d\n</Printer>\n' "$i" "$i"; done
  printf '<Ports>\nUI_Port 59787\n</Ports>\n'
} > "$work/start.conf"

median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "-"; else printf "%.2f", a / b }'; }

# Each build changes its own copy, Q1's device path back and forth, so
# every run is a real change with a backup.
declare -A times=() turn=()
one_change() {  # one_change KEY BUILD
  local build=$2 start end
  turn[$build]=$(((${turn[$build]:-0} + 1) % 2))
  start=$EPOCHREALTIME
  ZORV_CONF=$work/$build.conf "${binary[$build]}" --quiet -p Q1 -o "/dev/usb/lp1${turn[$build]}" >/dev/null 2>&1 || true
  end=$EPOCHREALTIME
  times[$1]+=" $(((${end/./} - ${start/./}) / 1000))"
}

# Every change of both builds, round after round, so a drift of the
# machine falls on both alike.
measure() {  # measure STATE
  local build
  for build in old new; do cp "$work/start.conf" "$work/$build.conf"; done
  for _ in $(seq "$runs"); do
    for build in old new; do one_change "$1.$build" "$build"; done
  done
}

# sync_calls BUILD: "sync() / fsync()" of one change, strace -c.
sync_calls() {
  cp "$work/start.conf" "$work/$1.conf"
  ZORV_CONF=$work/$1.conf strace -f -c -e trace=sync,syncfs,fsync,fdatasync -o "$work/strace" \
    "${binary[$1]}" --quiet -p Q1 -o /dev/usb/lp9 >/dev/null 2>&1 || true
  awk '$NF == "sync" { s = $4 } $NF == "fsync" || $NF == "fdatasync" { f += $4 } END { printf "%d / %d\n", s, f }' "$work/strace"
}

measure idle
# Bounded: stopped at the end of this script, and after an hour whatever
# happens. Its own process group, so the kill reaches the dd that is writing.
setsid timeout 3600 bash -c "while :; do dd if=/dev/zero of='$work/busy' bs=1M count=512 conv=fsync status=none; done" &
writer=$!
sleep 2  # the writer's dirty pages pile up first
measure busy
kill -- "-$writer" 2>/dev/null || true
writer=

echo "Machine: $(nproc) cores, $(uname -r), $(df -T "$work" | awk 'NR == 2 { print $2 }') at $work;" \
  "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Each build: $runs changes per disk state, alternating with the other build; old is $old_label (1.2), new is this tree"
echo
echo "| disk | build | changes/s | median change ms | sync() / fsync() per change |"
echo "|---|---|---:|---:|---:|"
declare -A calls=([old]=$(sync_calls old) [new]=$(sync_calls new))
for state in idle busy; do
  for build in old new; do
    # shellcheck disable=SC2086  # the times are split on purpose
    sum=$(printf '%s\n' ${times[$state.$build]} | awk '{ s += $1 } END { print s }')
    # shellcheck disable=SC2086
    echo "| $state | $([ $build = old ] && echo 1.2 || echo new) | $(ratio "$((runs * 1000))" "$sum")" \
      "| $(median ${times[$state.$build]}) | ${calls[$build]} |"
  done
done
echo
for state in idle busy; do
  read -ra old_times <<< "${times[$state.old]}"
  read -ra new_times <<< "${times[$state.new]}"
  per_round=()
  for i in "${!old_times[@]}"; do per_round+=("$(ratio "${new_times[$i]}" "${old_times[$i]}")"); done
  # shellcheck disable=SC2086
  echo "$state disk: new ÷ 1.2 median change time $(ratio "$(median ${times[$state.new]})" "$(median ${times[$state.old]})");" \
    "median of the per-round ratios $(median "${per_round[@]}")"
done
