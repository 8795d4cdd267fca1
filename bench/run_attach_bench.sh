#!/usr/bin/env bash
# Attaching to a running program with 5,000 loaded classes (besides the JDK's), side by side in one
# run: the program's throughput (calls of a small method per second) before, during and after an
# attach that traces that method; how long the attach takes to its first event, and the detach
# from "stop" to the session's end (every class restored, summary sent); the program's resident
# memory over 20 attach and detach cycles.
#   bench/run_attach_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
build=${1:-build}
export VEXO_BUILD=$build
tracer=$(dirname "$0")/../vexo-trace
classes=${VEXO_BENCH_CLASSES:-5000}
cycles=${VEXO_BENCH_CYCLES:-20}
work=$(mktemp -d)
trap 'touch "$work/stop"; rm -rf "$work"' EXIT

"$java" -XX:+EnableDynamicAgentLoading -Xmx256m -cp "$cp" vexobench.BenchMain attach-target "$classes" "$work/stop" > "$work/rates" &
target=$!
until grep -q ready "$work/rates" 2>/dev/null; do sleep 0.2; done
sleep 3
mark() { wc -l < "$work/rates"; }
median_since() { tail -n +"$(($1 + 1))" "$work/rates" | head -n "$2" | awk '/^rate/ {print $2}' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

before=$(mark)
sleep 3
during=$(mark)
VEXO_ATTACH_TIMES=1 "$tracer" --pid "$target" --duration 4 --method vexobench.Work.work > "$work/trace" 2> "$work/times"
after=$(mark)
sleep 3
rate_before=$(median_since "$before" $(((during - before))))
# the attached stretch, less its first and last second (arming and restoring)
rate_during=$(median_since $((during + 4)) $(((after - during) - 8)))
rate_after=$(median_since "$after" 12)
cat "$work/times"
grep -A1 '^--- vexo-trace summary' "$work/trace"
echo "throughput (calls of Work.work(int) per second, medians of 250 ms intervals; 2-CPU machine):"
printf '  %-40s %12.0f  1\n' "before the attach" "$rate_before"
printf '  %-40s %12.0f  %.2fx\n' "attached, every call recorded" "$rate_during" "$(awk -v a="$rate_before" -v b="$rate_during" 'BEGIN {print a / b}')"
printf '  %-40s %12.0f  %.2fx\n' "after the detach" "$rate_after" "$(awk -v a="$rate_before" -v b="$rate_after" 'BEGIN {print a / b}')"

rss() { awk '/^VmRSS/ {print $2}' "/proc/$target/status"; }
rss_first=$(rss)
for ((i = 1; i <= cycles; i++)); do
  "$tracer" --pid "$target" --duration 0.3 --method vexobench.Work.work > /dev/null
  if [[ $i -eq 1 ]]; then rss_one=$(rss); fi
done
rss_last=$(rss)
echo "resident memory of the program: $rss_first kB before, $rss_one kB after 1 cycle, $rss_last kB after $cycles cycles"
