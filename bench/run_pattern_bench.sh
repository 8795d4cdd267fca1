#!/usr/bin/env bash
# A pattern over a whole library whose hits record nothing: H2's JDBC loop (vexobench.JdbcBench)
# under ./vexo-trace --limit 1 --method 'org.h2.**' (every hit after the first only finds the
# limit reached), and under --method 'org.h2.**' --timing (every call counted and timed, nothing
# recorded), beside the same loop untraced, interleaved in each repeat; with
# VEXO_BUILD_BEFORE=another build tree, the same traced run with that build too. The time per
# round is measured inside the program after a warm-up; figures are medians of the repeats.
#   bench/run_pattern_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
here=$(cd "$(dirname "$0")/.." && pwd)
h2=${VEXO_BENCH_H2_JAR:-/usr/share/java/h2.jar}
rounds=${VEXO_BENCH_JDBC_ROUNDS:-60000}
repeats=${VEXO_BENCH_REPEATS:-5}
[[ -r $h2 ]] || { echo "run_pattern_bench.sh: no H2 jar at $h2 (Debian package libh2-java)" >&2; exit 2; }
cp="$cp:$h2"
round() { grep '^RESULT' | awk '{print $3}'; }
traced() { VEXO_BUILD=$1 "$here/vexo-trace" --limit 1 --method 'org.h2.**' --output /dev/null -- -cp "$cp" vexobench.JdbcBench plain "$rounds" 2>/dev/null | round; }
# Every call of the library counted and timed instead: no event recorded at all.
timed() { VEXO_BUILD=$1 "$here/vexo-trace" --method 'org.h2.**' --timing --output /dev/null -- -cp "$cp" vexobench.JdbcBench plain "$rounds" 2>/dev/null | round; }
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
declare -A t
for ((r = 1; r <= repeats; r++)); do
  t[untraced]+="$("$java" -cp "$cp" vexobench.JdbcBench plain "$rounds" | round) "
  t[traced]+="$(traced "$(readlink -f "$build")") "
  t[timing]+="$(timed "$(readlink -f "$build")") "
  [[ -n ${VEXO_BUILD_BEFORE:-} ]] && t[before]+="$(traced "$(readlink -f "$VEXO_BUILD_BEFORE")") "
done
base=$(median <<<"${t[untraced]}")
echo "H2 JDBC loop, $rounds rounds, medians of $repeats interleaved runs (ns a round: each run)"
for c in untraced traced timing before; do
  [[ -n ${t[$c]:-} ]] || continue
  m=$(median <<<"${t[$c]}")
  awk -v c="$c" -v m="$m" -v b="$base" -v e="${t[$c]}" 'BEGIN {printf "%-10s %10.1f ns/round %6.2fx   %s\n", c, m, m / b, e}'
done
