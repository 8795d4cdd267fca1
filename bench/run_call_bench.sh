#!/usr/bin/env bash
# Method trace points that record more than their entries, side by side in one run: calls of
# Account.move(J, Account)J untraced, traced for the entry alone, the entry with its two
# arguments (a primitive and an object), the same with an object that changes every call, the
# entry and its exit, and both; then Account.charge(J, I)J traced for its entry alone and with its
# two primitive arguments. For each: ns per call until every event was recorded and delivered, the
# CPU time the calling thread spent per call (what the traced program pays), and the consumer's CPU
# time per event delivered: medians over VEXO_BENCH_REPEATS JVMs (5), each timing every kind in
# turn VEXO_BENCH_ROUNDS times (3), a round starting one kind later. Each timed run follows as
# many calls, delivered, to warm the banks: the steady state, not the first touch of their memory
# (VEXO_BENCH_COLD=1 warms with 100 calls only). Then, from the recorder's Google benchmark, what
# thread and time add to every record beside a recorded hit, and an instrumented entry's record
# with and without arguments, beside what a weak reference alone costs.
#   bench/run_call_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
build=${1:-build}
# A million calls a run: in runs of 200,000 (60 ms) the JIT compiling the tracer's own Java code
# and a collection or two moved single figures by a third.
calls=${VEXO_BENCH_HITS:-1000000}
repeats=${VEXO_BENCH_REPEATS:-5}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

declare -A runs
warm=$((2 * calls))  # hits: an exit is an event of its own
[[ ${VEXO_BENCH_COLD:-0} == 1 ]] && warm=100
rounds=${VEXO_BENCH_ROUNDS:-3}
kinds=(entry args args-around exit args-exit entry-charge args-charge)
for ((r = 1; r <= repeats; r++)); do
  runs[plain]+="$("$java" -cp "$cp" vexobench.BenchMain plain-move "$calls" | awk '/^RESULT/ {print $3}') "
  # Every kind in one JVM, in turn, each round starting one later: side by side, without the
  # differences between one JVM and the next.
  while read -r name value; do
    runs[$name]+="$value "
  done < <("$java" -Dvexo.warm="$warm" -agentpath:"$lib" -cp "$cp" vexobench.BenchMain calls "$calls" "$rounds" \
             "${kinds[@]}" 2>/dev/null | awk '/^RESULT/ {print $2, $3}')
done
m() { echo "${runs[$1]}" | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2fx", a / b}'; }
echo "medians of $repeats JVMs x $rounds rounds of $calls calls; ratios against the entry alone of the same method"
printf '%-40s %22s %22s %24s\n' "" "recorded+delivered" "calling thread CPU" "consumer CPU per event"
printf '%-40s %14.1f ns/call\n' "move untraced" "$(m plain)"
for k in "${kinds[@]}"; do
  case $k in
    entry) label="move: entry" ;;
    args) label="move: entry with a long and an object" ;;
    args-around) label="  the object another each call" ;;
    exit) label="move: entry and exit" ;;
    args-exit) label="move: both, with the arguments" ;;
    entry-charge) label="charge: entry" ;;
    args-charge) label="charge: entry with a long and an int" ;;
  esac
  base="entry"; [[ $k == *charge ]] && base="entry-charge"
  printf '%-40s' "$label"
  for x in call calling-cpu consumer-cpu; do
    printf ' %9.1f ns (%s)' "$(m "$x-$k")" "$(ratio "$(m "$x-$k")" "$(m "$x-$base")")"
  done
  echo
done

if [[ -x $build/bench/trace_bench ]]; then
  out=$("$build/bench/trace_bench" --benchmark_filter='BM_ThreadAndTime|BM_RecordMethodHit/1$|BM_RecordEntryWithArguments|BM_Floor_WeakReference' \
        --benchmark_repetitions=5 --benchmark_report_aggregates_only 2>/dev/null | grep '_median')
  hit=$(awk '/BM_RecordMethodHit\/1_median/ {print $2}' <<<"$out")
  extra=$(awk '/BM_ThreadAndTime_median/ {print $2}' <<<"$out")
  echo "recorder (Google benchmark, medians of 5): a recorded hit $hit ns, of which thread and time $extra ns" \
    "($(awk -v h="$hit" -v e="$extra" 'BEGIN {printf "%.3fx", h / (h - e)}') a hit without them)"
  none=$(awk '/BM_RecordEntryWithArguments\/0_median/ {print $2}' <<<"$out")
  two=$(awk '/BM_RecordEntryWithArguments\/1_median/ {print $2}' <<<"$out")
  object=$(awk '/BM_RecordEntryWithArguments\/2_median/ {print $2}' <<<"$out")
  another=$(awk '/BM_RecordEntryWithArguments\/3_median/ {print $2}' <<<"$out")
  echo "an instrumented entry's record: $none ns; with a long and an int $two ns ($(ratio "$two" "$none"));" \
    "with a long and an object $object ns ($(ratio "$object" "$none")), another each call $another ns" \
    "($(ratio "$another" "$none"))"
  weak=$(awk '/BM_Floor_WeakReference_median/ {print $2}' <<<"$out")
  echo "the floor of another object each call: its weak reference made and deleted, $weak ns; the entry with" \
    "it alone would be $(awk -v n="$none" -v w="$weak" 'BEGIN {printf "%.2fx", (n + w) / n}')"
fi
