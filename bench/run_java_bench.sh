#!/usr/bin/env bash
# Whole-JVM benchmarks, side by side in one run:
#   - the workload without the agent, with the agent loaded and nothing armed (the cost of
#     holding the start-up capabilities), and with one field trace point on a field the
#     workload never touches: instrumented (the default) and on the watch road (option
#     watches, a JVMTI field watch: HotSpot's interpreter-only mode);
#   - the cost per recorded hit, delivery included, of a method trace point and of a field
#     trace point on both roads, beside the same calls untraced and beside a JDI client that
#     records the receiver at a method-entry breakpoint.
#   bench/run_java_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
agent="-agentpath:$lib"
hits=${VEXO_BENCH_HITS:-20000}
jdi_hits=${VEXO_BENCH_JDI_HITS:-2000}
repeats=${VEXO_BENCH_REPEATS:-3}

result() { grep '^RESULT' | awk '{print $3}'; }
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

declare -A runs
for ((r = 1; r <= repeats; r++)); do
  runs[base]+="$("$java" -cp "$cp" vexobench.BenchMain workload | result) "
  runs[idle]+="$("$java" "$agent" -cp "$cp" vexobench.BenchMain workload 2>/dev/null | result) "
  runs[elsewhere]+="$("$java" "$agent" -cp "$cp" vexobench.BenchMain workload-watched 2>/dev/null | result) "
  runs[watched]+="$("$java" "$agent"=watches -cp "$cp" vexobench.BenchMain workload-watched 500000 2>/dev/null | result) "
  runs[unwatched]+="$("$java" "$agent" -cp "$cp" vexobench.BenchMain workload-unwatched 2>/dev/null | result) "
  runs[method]+="$("$java" "$agent" -cp "$cp" vexobench.BenchMain method "$hits" 2>/dev/null | result) "
  runs[field]+="$("$java" "$agent" -cp "$cp" vexobench.BenchMain field "$hits" 2>/dev/null | result) "
  runs[fieldw]+="$("$java" "$agent"=watches -cp "$cp" vexobench.BenchMain field "$hits" 2>/dev/null | result) "
  runs[plain]+="$("$java" -cp "$cp" vexobench.BenchMain plain "$hits" | result) "
  runs[jdi]+="$("$java" -cp "$cp" vexobench.JdiClient "$cp" "$jdi_hits" | result) "
done

m() { echo "${runs[$1]}" | tr ' ' '\n' | grep -v '^$' | median; }
base=$(m base); idle=$(m idle); elsewhere=$(m elsewhere); watched=$(m watched); unwatched=$(m unwatched)
method=$(m method); field=$(m field); fieldw=$(m fieldw); plain=$(m plain); jdi=$(m jdi)
echo "medians of $repeats runs (each workload figure the best of 7 timed loops: 20M rounds, 0.5M with the watch)"
printf '%-44s %12s ns/round\n' "workload, no agent" "$base"
printf '%-44s %12s ns/round  (%s of no agent)\n' "workload, agent loaded, nothing armed" "$idle" \
  "$(awk -v a="$idle" -v b="$base" 'BEGIN {printf "%.3fx", a / b}')"
printf '%-44s %12s ns/round  (%s of no agent)\n' "workload, field trace point elsewhere" "$elsewhere" \
  "$(awk -v a="$elsewhere" -v b="$base" 'BEGIN {printf "%.3fx", a / b}')"
printf '%-44s %12s ns/round  (%s of no agent)\n' "workload, the same on the watch road" "$watched" \
  "$(awk -v a="$watched" -v b="$base" 'BEGIN {printf "%.1fx", a / b}')"
printf '%-44s %12s ns/round  (%s of no agent)\n' "workload, that trace point armed and removed" "$unwatched" \
  "$(awk -v a="$unwatched" -v b="$base" 'BEGIN {printf "%.3fx", a / b}')"
printf '%-44s %12s ns/call\n' "call untraced" "$plain"
printf '%-44s %12s ns/hit\n' "method trace point hit, delivered" "$method"
printf '%-44s %12s ns/hit  (%s the method trace point)\n' "field trace point hit, delivered" "$field" \
  "$(awk -v a="$field" -v b="$method" 'BEGIN {printf "%.2fx", a / b}')"
printf '%-44s %12s ns/hit  (%s the method trace point)\n' "field hit on the watch road, delivered" "$fieldw" \
  "$(awk -v a="$fieldw" -v b="$method" 'BEGIN {printf "%.2fx", a / b}')"
printf '%-44s %12s ns/hit  (%s the method trace point)\n' "JDI client, breakpoint + receiver" "$jdi" \
  "$(awk -v a="$jdi" -v b="$method" 'BEGIN {printf "%.1fx", a / b}')"
