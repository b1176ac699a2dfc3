# The scale mode of lookup_bench.sh (sourced by it, after both builds):
# private schedulers of 10, 1,000 and 5,000 queues, made by writing
# printers.conf and classes.conf before cupsd starts, with 16 entries in
# the configuration; DNS-SD off (and with --dnssd, then on). Each cell is
# the median of $runs alternating runs; requests come from the scheduler's
# access log, bytes of printers.conf from strace and peak memory (the run
# and its children) from GNU time, each of one more run, and the
# scheduler's CPU time per run from /proc over 40 more. After each table,
# each build's growth: its time at 5,000 queues over its time at 10, the
# floor the scheduler's own time sets, and its peak memory at 5,000; then
# the scheduler's CPU time per request of each kind at each size.

sizes=(10 1000 5000)
big_size=1000
big_extra=10000

# write_scheduler N: a scheduler directory whose printers.conf has N raw
# queues Q0..Q(N-1) and classes.conf one class of the first two.
write_scheduler() {
  local n=$1
  rm -rf "$scheduler"
  write_scheduler_dir "$scheduler" "AccessLogLevel all"
  awk -v n="$n" 'BEGIN {
    for (i = 0; i < n; i++) {
      printf "<Printer Q%d>\nUUID urn:uuid:%08d-0000-4000-8000-000000000000\nInfo Queue %d of the scale benchmark\n", i, i, i
      printf "Location Building %d, room %d\nMakeModel Local Raw Printer\nDeviceURI zorv:/var/run/zorv/Q%d.fifo\n", i % 40, i, i
      printf "State Idle\nStateTime 1700000000\nConfigTime 1700000000\nType 4\nAccepting Yes\nShared No\n"
      printf "JobSheets none none\nQuotaPeriod 0\nPageLimit 0\nKLimit 0\nOpPolicy default\nErrorPolicy stop-printer\n</Printer>\n"
    }
  }' > "$scheduler/printers.conf"
  printf '<Class C0>\nPrinter Q0\nPrinter Q1\nState Idle\nAccepting Yes\n</Class>\n' > "$scheduler/classes.conf"
}

# start_scheduler N: until its last queue and the class answer.
start_scheduler() {
  cupsd -f -c "$scheduler/cupsd.conf" -s "$scheduler/cups-files.conf" &
  scheduler_pid=$!
  pids+=("$scheduler_pid")
  for _ in $(seq 300); do lpstat -v "Q$(($1 - 1))" C0 >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "cupsd did not start; see $scheduler/log/error_log" >&2
  exit 1
}

stop_scheduler() {
  kill "$scheduler_pid" 2>/dev/null || true
  wait "$scheduler_pid" 2>/dev/null || true
}

# scale_config N [UNKNOWN [EXTRA]]: 16 entries spread over the N queues,
# the last one named UNKNOWN when given, then EXTRA more blocks (past the
# table, as --tsv and --check read them) naming queues in turn.
scale_config() {
  awk -v n="$1" -v unknown="${2:-}" -v extra="${3:-0}" -v root="$scheduler/" 'BEGIN {
    printf "<Path>\nCUPS_ConfigPath %s\n</Path>\n", root
    for (i = 0; i < 16; i++) {
      name = "Q" int(i * n / 16)
      if (i == 15 && unknown != "") name = unknown
      printf "<Printer %s>\nDevicePath /dev/usb/lp%d\n</Printer>\n", name, i
    }
    for (i = 0; i < extra; i++) printf "<Printer Q%d>\nDevicePath /dev/usb/lp%d\n</Printer>\n", i % n, i
    printf "<Ports>\nUI_Port 59787\n</Ports>\n"
  }'
}

# scheduler_cpu_ms RUNS COMMAND...: the scheduler's own CPU time (user and
# system, from /proc; clock ticks, hence many runs) per run of COMMAND.
scheduler_cpu_ms() {
  local count=$1 before after
  shift
  before=$(awk '{ print $14 + $15 }' "/proc/$scheduler_pid/stat")
  for _ in $(seq "$count"); do "$@" >/dev/null 2>&1 || true; done
  after=$(awk '{ print $14 + $15 }' "/proc/$scheduler_pid/stat")
  awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v n="$count" 'BEGIN { printf "%.1f\n", t * 1000 / hz / n }'
}

# profile KEY SETUP COMMAND...: bytes of printers.conf read, peak memory and
# the scheduler's CPU time per run.
profile() {
  local key=$1 setup=$2
  shift 2
  eval "$setup" > "$ZORV_CONF"
  sched_ms[$key]=$(scheduler_cpu_ms 40 "$@")
  eval "$setup" > "$ZORV_CONF"
  # A file per process: no read split in two by another process's line.
  rm -f "$work"/strace.*
  strace -ff --seccomp-bpf -y -e trace=read -o "$work/strace" "$@" >/dev/null 2>&1 || true
  conf_bytes[$key]=$(cat "$work"/strace.* | awk '/printers\.conf>/ && $NF ~ /^[0-9]+$/ { n += $NF } END { printf "%.0f\n", n }')
  eval "$setup" > "$ZORV_CONF"
  /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>&1 || true
  peak_kib[$key]=$(tail -n 1 "$work/rss")
}

# One table row per case; cases of a size run round after round, both builds.
scale_size() {
  local n=$1 c build r case_runs
  write_scheduler "$n"
  start_scheduler "$n"
  local q="Q$((n / 2))"
  labels=() setups=() arguments=()
  add_case "list" "scale_config $n" "-o none"
  add_case "modify" "scale_config $n" "-p Q$((n / 16)) -o /dev/usb/lp0"
  add_case "--tsv" "scale_config $n" "--tsv"
  add_case "--check" "scale_config $n" "--check"
  add_case "list, one name unknown" "scale_config $n Nowhere" "-o none"
  if [ "$n" = $big_size ]; then
    add_case "--tsv, $big_extra extra blocks" "scale_config $n '' $big_extra" "--tsv"
    add_case "--check, $big_extra extra blocks" "scale_config $n '' $big_extra" "--check"
  fi
  times=() reqs=() conf_bytes=() peak_kib=() sched_ms=()
  for r in $(seq "$runs"); do
    for c in "${!labels[@]}"; do
      for build in old new; do
        # An old build may take tens of seconds for the extra blocks: timed once.
        case_runs=$runs
        [[ ${labels[$c]} == *extra* && $build == old ]] && case_runs=1
        [ "$r" -le "$case_runs" ] || continue
        # shellcheck disable=SC2086  # the arguments are split on purpose
        one_run "$c.$build" "${setups[$c]}" "${binary[$build]}" ${arguments[$c]}
      done
    done
    one_run lpstat true lpstat -v "$q"
  done
  for c in "${!labels[@]}"; do
    for build in old new; do
      [[ ${labels[$c]} == *extra* && $build == old ]] && continue
      # shellcheck disable=SC2086
      profile "$c.$build" "${setups[$c]}" "${binary[$build]}" ${arguments[$c]}
    done
  done
  # shellcheck disable=SC2086
  local lpstat_ms old_ms new_ms
  lpstat_ms=$(median ${times[lpstat]})
  # shellcheck disable=SC2086
  echo "| $n | \`lpstat -v $q\` | | $lpstat_ms | 1.00 | | $(median ${reqs[lpstat]}) | | | |"
  for c in "${!labels[@]}"; do
    # shellcheck disable=SC2086
    old_ms=$(median ${times[$c.old]}) new_ms=$(median ${times[$c.new]})
    # shellcheck disable=SC2086
    echo "| $n | ${labels[$c]} | $old_ms | $new_ms | $(ratio "$new_ms" "$lpstat_ms") | $(ratio "$new_ms" "$old_ms")" \
      "| $(median ${reqs[$c.old]}) / $(median ${reqs[$c.new]})" \
      "| ${conf_bytes[$c.old]:--} / ${conf_bytes[$c.new]}| ${peak_kib[$c.old]:--} / ${peak_kib[$c.new]}" \
      "| ${sched_ms[$c.old]:--} / ${sched_ms[$c.new]} |"
    growth_ms[$n.$c.old]=$old_ms growth_ms[$n.$c.new]=$new_ms growth_sched[$n.$c.new]=${sched_ms[$c.new]}
    growth_kib[$n.$c.old]=${peak_kib[$c.old]:--} growth_kib[$n.$c.new]=${peak_kib[$c.new]}
  done
  local kind cpu
  request_kinds=()
  while IFS=$'\t' read -r kind cpu _; do
    request_kinds+=("$kind")
    request_cpu[$n.$kind]=$cpu
  done < <(python3 "$top/bench/request_cost.py" "$scheduler/cups.sock" "$n" "$scheduler_pid")
  stop_scheduler
}

# The scheduler's CPU time per request of each kind, at each size: what
# any client pays for each request it makes.
request_cost_table() {
  local kind n row
  echo "| request, one at a time | $(printf '%s queues | ' "${sizes[@]}")"
  echo "|---|$(printf -- '---:|%.0s' "${sizes[@]}")"
  for kind in "${request_kinds[@]}"; do
    row="| $kind |"
    for n in "${sizes[@]}"; do row+=" ${request_cpu[$n.$kind]} |"; done
    echo "$row"
  done
}

# Each build's time at the largest size over its time at the smallest, and
# its peak memory there, for the cases both sizes have. The floor is the
# growth the new build would show if nothing but the scheduler's own CPU
# time grew: its time at the smallest size, less the scheduler's time
# there, plus the scheduler's time at the largest, over its time at the
# smallest.
growth_table() {
  local small=${sizes[0]} large=${sizes[-1]} c floor
  echo "| run | old ${large} ÷ ${small} queues | new ${large} ÷ ${small} queues | floor: the scheduler's time alone | peak KiB at ${large}, old / new |"
  echo "|---|---:|---:|---:|---:|"
  for c in 0 1 2 3 4; do
    floor=$(awk -v t="${growth_ms[$small.$c.new]}" -v s="${growth_sched[$small.$c.new]}" -v l="${growth_sched[$large.$c.new]}" \
      'BEGIN { if (t == 0) print "-"; else printf "%.2f", (t - s + l) / t }')
    echo "| ${labels[$c]} | $(ratio "${growth_ms[$large.$c.old]}" "${growth_ms[$small.$c.old]}")" \
      "| $(ratio "${growth_ms[$large.$c.new]}" "${growth_ms[$small.$c.new]}") | $floor" \
      "| ${growth_kib[$large.$c.old]} / ${growth_kib[$large.$c.new]} |"
  done
}

scale_table() {
  declare -gA growth_ms=() growth_kib=() growth_sched=() request_cpu=()
  declare -ga request_kinds=()
  echo "DNS-SD active: $1; $runs runs each, medians (old once for the extra blocks); old is $old_rev ($old_binary), new is this tree"
  echo
  echo "| queues | run | old ms | new ms | new ÷ lpstat | new ÷ old | requests old / new | printers.conf bytes old / new | peak KiB old / new | scheduler CPU ms per run, old / new |"
  echo "|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  for n in "${sizes[@]}"; do scale_size "$n"; done
  echo
  growth_table
  echo
  echo "The scheduler's CPU ms per request (bench/request_cost.py):"
  echo
  request_cost_table
  echo
}

scheduler=$work/cups
chmod 755 "$work"
export CUPS_SERVER=$scheduler/cups.sock ZORV_CONF=$work/zorv.conf HOME=$work
declare -A times=() reqs=() conf_bytes=() peak_kib=() sched_ms=()

if "$top/scripts/dnssd.sh" status 2>/dev/null; then
  echo "warning: DNS-SD is running already; the first table is not one without it" >&2
fi
scale_table "$("$top/scripts/dnssd.sh" status 2>/dev/null && echo yes || echo no)"
[ $dnssd = yes ] || exit 0
if ! "$top/scripts/dnssd.sh" status 2>/dev/null; then
  "$top/scripts/dnssd.sh" start
  dnssd_started=yes
fi
scale_table yes
