#!/usr/bin/env bash
# What one object listing in debug mode costs the program afterwards: the workload and a loop of
# small allocations with the agent initialised (a consumer waiting, nothing armed), beside the
# same after one nativeGetObjects call, side by side in one run (medians of the repeats).
#   bench/run_listing_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
agent="-agentpath:$lib"
repeats=${VEXO_BENCH_REPEATS:-3}

result() { grep '^RESULT' | awk '{print $3}'; }
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

declare -A runs
for ((r = 1; r <= repeats; r++)); do
  for mode in workload-agent-started workload-after-object-listing; do
    runs[$mode]+="$("$java" "$agent" -cp "$cp" vexobench.BenchMain "$mode" 2>/dev/null | result) "
  done
  for mode in allocations-agent-started allocations-after-object-listing; do
    runs[$mode]+="$("$java" "$agent" -cp "$cp" vexobench.BenchMain "$mode" 1000000 2>/dev/null | result) "
  done
done

m() { echo "${runs[$1]}" | tr ' ' '\n' | grep -v '^$' | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2fx", a / b}'; }
echo "medians of $repeats runs (each figure the best of 7 timed loops: 20M rounds, 1M allocations), agent loaded, debug mode"
printf '%-44s %10s ns/round\n' "workload" "$(m workload-agent-started)"
printf '%-44s %10s ns/round  (%s)\n' "workload after one object listing" "$(m workload-after-object-listing)" \
  "$(ratio "$(m workload-after-object-listing)" "$(m workload-agent-started)")"
printf '%-44s %10s ns/object\n' "allocations" "$(m allocations-agent-started)"
printf '%-44s %10s ns/object  (%s)\n' "allocations after one object listing" "$(m allocations-after-object-listing)" \
  "$(ratio "$(m allocations-after-object-listing)" "$(m allocations-agent-started)")"
