#!/usr/bin/env bash
# Profiler mode side by side in one run: the cost of a recorded method trace point hit in
# profiler mode (method entries by instrumentation, and by JVMTI method entry events) beside
# debug mode; and the class listing from a heap dump against the heap's size, beside the JVM's
# own class histogram (jcmd GC.class_histogram, started from the same process, on the same heap).
#   bench/run_profiler_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
hits=${VEXO_BENCH_HITS:-200000}
slow_hits=${VEXO_BENCH_SLOW_HITS:-5000}

result() { grep '^RESULT' | sed 's/^RESULT //'; }

echo "per recorded hit, delivery included"
echo "  debug mode, instrumented:    $("$java" -agentpath:"$lib" -cp "$cp" vexobench.BenchMain method "$hits" 2>/dev/null | result)"
echo "  profiler mode, instrumented: $("$java" -agentpath:"$lib"=nojvmdi -cp "$cp" vexobench.BenchMain method "$hits" 2>/dev/null | result)"
echo "  profiler mode, JVMTI method entry events: $("$java" -agentpath:"$lib"=nojvmdi,breakpoints -cp "$cp" vexobench.BenchMain method "$slow_hits" 2>/dev/null | result)"
echo "class listing from a heap dump (profiler mode) against the heap's live size"
for mb in ${VEXO_BENCH_HEAPS:-10 100 1000}; do
  "$java" -Xmx6g -agentpath:"$lib"=nojvmdi -cp "$cp" vexobench.BenchMain listing "$mb" 2>/dev/null | result | sed 's/^/  /'
done
