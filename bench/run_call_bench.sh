#!/usr/bin/env bash
# Method trace points that record more than their entries, side by side in one run: calls of
# Account.move(J, Account)J untraced, traced for the entry alone, the entry with its two
# arguments, the entry and its exit, and both with arguments (each recorded and delivered, ns per
# call, medians of the repeats); then, from the recorder's Google benchmark, what thread and time
# add to every record beside a recorded hit.
#   bench/run_call_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
build=${1:-build}
calls=${VEXO_BENCH_HITS:-200000}
repeats=${VEXO_BENCH_REPEATS:-5}

result() { grep '^RESULT' | awk '{print $3}'; }
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

declare -A runs
kinds=(entry args exit args-exit)
for ((r = 1; r <= repeats; r++)); do
  runs[plain]+="$("$java" -cp "$cp" vexobench.BenchMain plain-move "$calls" | result) "
  for k in "${kinds[@]}"; do
    runs[$k]+="$("$java" -agentpath:"$lib" -cp "$cp" vexobench.BenchMain call "$calls" "$k" 2>/dev/null | result) "
  done
done
m() { echo "${runs[$1]}" | median; }
entry=$(m entry)
echo "medians of $repeats runs of $calls calls; ns per call, recorded and delivered"
printf '%-44s %10.1f ns/call\n' "untraced" "$(m plain)"
printf '%-44s %10.1f ns/call\n' "entry" "$entry"
for k in args exit args-exit; do
  case $k in
    args) label="entry with its two arguments" ;;
    exit) label="entry and exit (return value, duration)" ;;
    args-exit) label="both, with the arguments" ;;
  esac
  printf '%-44s %10.1f ns/call  (%.2fx the entry)\n' "$label" "$(m "$k")" \
    "$(awk -v a="$(m "$k")" -v b="$entry" 'BEGIN {print a / b}')"
done

if [[ -x $build/bench/trace_bench ]]; then
  out=$("$build/bench/trace_bench" --benchmark_filter='BM_ThreadAndTime|BM_RecordMethodHit/1$' \
        --benchmark_repetitions=5 --benchmark_report_aggregates_only 2>/dev/null | grep '_median')
  hit=$(awk '/BM_RecordMethodHit\/1_median/ {print $2}' <<<"$out")
  extra=$(awk '/BM_ThreadAndTime_median/ {print $2}' <<<"$out")
  echo "recorder (Google benchmark, medians of 5): a recorded hit $hit ns, of which thread and time $extra ns" \
    "($(awk -v h="$hit" -v e="$extra" 'BEGIN {printf "%.3fx", h / (h - e)}') a hit without them)"
fi
