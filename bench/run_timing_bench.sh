#!/usr/bin/env bash
# A timed call (TIMING: counted and timed, nothing recorded) of a JIT-compiled method beside the
# same call untraced, side by side in one JVM: Account.move(J, Account)J called N times untraced,
# then N times with its trace point timed, then N times with exits of at least 1 s only (every
# call shorter than its threshold: held, then only counted), each after N calls that compile it,
# R rounds a JVM;
# medians over VEXO_BENCH_REPEATS JVMs (5) of each JVM's median.
#   bench/run_timing_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
calls=${VEXO_BENCH_HITS:-5000000}
repeats=${VEXO_BENCH_REPEATS:-5}
rounds=${VEXO_BENCH_ROUNDS:-3}
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
declare -A runs
for ((r = 1; r <= repeats; r++)); do
  out=$("$java" -agentpath:"$lib" -cp "$cp" vexobench.BenchMain timed "$calls" "$rounds" 2>/dev/null)
  for k in untimed-move timed-move short-move; do
    runs[$k]+="$(awk -v k="$k" '$1 == "RESULT" && $2 == k {print $3}' <<<"$out" | median) "
  done
done
u=$(median <<<"${runs[untimed-move]}")
t=$(median <<<"${runs[timed-move]}")
echo "Account.move, $calls calls, medians of $repeats JVMs x $rounds rounds (ns a call: each JVM)"
printf '%-10s %8.1f ns/call   %s\n' untraced "$u" "${runs[untimed-move]}"
printf '%-10s %8.1f ns/call   %s\n' timed "$t" "${runs[timed-move]}"
s=$(median <<<"${runs[short-move]}")
printf '%-10s %8.1f ns/call   %s\n' "exits>1s" "$s" "${runs[short-move]}"
awk -v u="$u" -v t="$t" -v s="$s" 'BEGIN {printf "a timed call costs %.1f ns more than untraced; a call shorter than its threshold %.1f ns (%.2fx a timed call)\n", t - u, s - u, (s - u) / (t - u)}'
