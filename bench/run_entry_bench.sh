#!/usr/bin/env bash
# Method trace points side by side in one run: method entry by instrumentation (the default),
# by JVMTI breakpoints (the agent option "breakpoints"), and a JDI client; safepoints per hit
# (-Xlog:safepoint), whether the traced method stays compiled (-XX:+PrintCompilation), and hits
# per second with one and two threads on the same trace point.
#   bench/run_entry_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
hits=${VEXO_BENCH_HITS:-200000}
bp_hits=${VEXO_BENCH_BP_HITS:-20000}
jdi_hits=${VEXO_BENCH_JDI_HITS:-2000}
repeats=${VEXO_BENCH_REPEATS:-3}

result() { grep '^RESULT' | awk '{print $3}'; }
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

inst=""; bp=""; jdi=""; one=""; two=""
for ((r = 1; r <= repeats; r++)); do
  inst+="$("$java" -agentpath:"$lib" -cp "$cp" vexobench.BenchMain method "$hits" 2>/dev/null | result) "
  bp+="$("$java" -agentpath:"$lib"=breakpoints -cp "$cp" vexobench.BenchMain method "$bp_hits" 2>/dev/null | result) "
  jdi+="$("$java" -cp "$cp" vexobench.JdiClient "$cp" "$jdi_hits" | result) "
  one+="$("$java" -agentpath:"$lib" -cp "$cp" vexobench.BenchMain method-threads "$hits" 1 2>/dev/null | result) "
  two+="$("$java" -agentpath:"$lib" -cp "$cp" vexobench.BenchMain method-threads "$hits" 2 2>/dev/null | result) "
done
inst=$(echo "$inst" | median); bp=$(echo "$bp" | median); jdi=$(echo "$jdi" | median)
one=$(echo "$one" | median); two=$(echo "$two" | median)

safepoints() {  # safepoints during one run of N hits (the log's whole run, start-up included)
  "$java" "$@" -Xlog:safepoint -cp "$cp" vexobench.BenchMain method "$hits" 2>/dev/null | grep -c 'Safepoint "' || true
}
compiled() {  # the traced method's compilation events (time ms, id, tier, ...), or none
  local events
  events=$("$java" "$@" -XX:+PrintCompilation -cp "$cp" vexobench.BenchMain method "$hits" 2>/dev/null \
    | grep 'Workload\$Account::deposit' | sed 's/^ *//; s/  */ /g' | paste -sd '|' -)
  echo "${events:-none}"
}

echo "medians of $repeats runs; per recorded hit, delivery included"
printf '%-42s %12.1f ns/hit\n' "instrumented method entry" "$inst"
printf '%-42s %12.1f ns/hit  (%.0fx the instrumented)\n' "JVMTI breakpoint + GetLocalObject" "$bp" "$(awk -v a="$bp" -v b="$inst" 'BEGIN {print a / b}')"
printf '%-42s %12.1f ns/hit  (%.0fx the instrumented)\n' "JDI client, breakpoint + receiver" "$jdi" "$(awk -v a="$jdi" -v b="$inst" 'BEGIN {print a / b}')"
printf '%-42s %12.0f hits/s\n' "one thread, instrumented" "$one"
printf '%-42s %12.0f hits/s  (%.2fx one thread)\n' "two threads on the same trace point" "$two" "$(awk -v a="$two" -v b="$one" 'BEGIN {print a / b}')"
echo "safepoints in a whole run of $hits hits: instrumented $(safepoints -agentpath:"$lib")," \
  "breakpoints $(safepoints -agentpath:"$lib"=breakpoints)"
echo "compilations of the traced method, instrumented: $(compiled -agentpath:"$lib")"
echo "compilations of the traced method, breakpoints:  $(compiled -agentpath:"$lib"=breakpoints)"
