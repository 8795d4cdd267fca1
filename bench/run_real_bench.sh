#!/usr/bin/env bash
# A real program under the agent: H2's embedded in-memory database (Debian's /usr/share/java/h2.jar)
# driven by a JDBC loop of prepared statements (vexobench.JdbcBench; a round is an insert, a
# select by key and a delete). Four configurations, interleaved in each repeat so the machine's
# noise hits all alike:
#   untraced      no agent;
#   methods       two method trace points on the driver, JdbcPreparedStatement.executeUpdate()I
#                 and executeQuery() (instrumented road);
#   field         one field trace point on JdbcPreparedStatement.command, read by every statement
#                 (instrumented: every site of the field calls the field hook);
#   watch         the same field trace point on the watch road (agent option watches: a JVMTI
#                 field watch, with which the whole JVM runs interpreted, so fewer rounds);
#   profiler      the same two method trace points in profiler mode (agent option nojvmdi);
#   timing        every method of org.h2.** counted and timed, nothing recorded (the tracer
#                 inside the program: method=org.h2.**,timing, its table to /dev/null);
#   interpreted   for reference, no agent and -Xint (what the field watch's interpreter-only
#                 mode costs by itself), with the field watch's rounds;
#   profiler-before  with VEXO_LIB_BEFORE=another build's libvexo.so: profiler mode with that
#                 library, in the same run (VEXO_BENCH_JDBC_BEFORE_ROUNDS rounds, default 1000).
# The time per round is measured inside the program, after a warm-up, until every recorded event
# was delivered; figures are medians of the repeats, ratios against the untraced median.
#   bench/run_real_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
h2=${VEXO_BENCH_H2_JAR:-/usr/share/java/h2.jar}
rounds=${VEXO_BENCH_JDBC_ROUNDS:-60000}
field_rounds=${VEXO_BENCH_JDBC_FIELD_ROUNDS:-1000}
profiler_rounds=${VEXO_BENCH_JDBC_PROFILER_ROUNDS:-$rounds}
before_rounds=${VEXO_BENCH_JDBC_BEFORE_ROUNDS:-1000}
repeats=${VEXO_BENCH_REPEATS:-5}
[[ -r $h2 ]] || { echo "run_real_bench.sh: no H2 jar at $h2 (Debian package libh2-java)" >&2; exit 2; }
cp="$cp:$h2"
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT

# One JVM: prints "ns_per_round events_per_round"; shows the JVM's standard error and stops the
# script when the program printed no result.
run() {
  local out
  out=$("$java" "$@" 2>"$errors" | grep '^RESULT' || true)
  if [[ -z $out ]]; then
    echo "run_real_bench.sh: no result from: $java $*" >&2
    cat "$errors" >&2
    exit 1
  fi
  awk '{print $3, $5}' <<<"$out"
}
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

configs=(untraced methods field watch profiler timing interpreted)
[[ -n ${VEXO_LIB_BEFORE:-} ]] && configs+=(profiler-before)
declare -A times events
for ((r = 1; r <= repeats; r++)); do
  for c in "${configs[@]}"; do
    case $c in
      untraced) res=$(run -cp "$cp" vexobench.JdbcBench plain "$rounds") ;;
      methods) res=$(run -agentpath:"$lib" -cp "$cp" vexobench.JdbcBench methods "$rounds") ;;
      field) res=$(run -agentpath:"$lib" -cp "$cp" vexobench.JdbcBench field "$rounds") ;;
      watch) res=$(run -agentpath:"$lib"=watches -cp "$cp" vexobench.JdbcBench field "$field_rounds") ;;
      profiler) res=$(run -agentpath:"$lib"=nojvmdi -cp "$cp" vexobench.JdbcBench methods "$profiler_rounds") ;;
      timing) res=$(run -agentpath:"$lib"='method=org.h2.**,timing,output=/dev/null' -cp "$cp" vexobench.JdbcBench plain "$rounds") ;;
      interpreted) res=$(run -Xint -cp "$cp" vexobench.JdbcBench plain "$field_rounds") ;;
      profiler-before) res=$(run -agentpath:"$(readlink -f "$VEXO_LIB_BEFORE")"=nojvmdi -cp "$cp" vexobench.JdbcBench methods "$before_rounds") ;;
    esac
    times[$c]+="${res% *} "
    events[$c]=${res#* }
  done
done

m() { tr ' ' '\n' <<<"${times[$1]}" | grep -v '^$' | median; }
base=$(m untraced)
echo "H2 $(basename "$(readlink -f "$h2")"), jdbc:h2:mem:, a round = insert + select by key + delete"
echo "medians of $repeats interleaved runs; timed loop of $rounds rounds ($field_rounds with the field watch," \
  "$profiler_rounds in profiler mode, $before_rounds with VEXO_LIB_BEFORE) after a warm-up"
printf '%-52s %12s %9s %14s   %s\n' "configuration" "us/round" "ratio" "events/round" "each run (us/round)"
for c in "${configs[@]}"; do
  case $c in
    untraced) label="untraced, no agent" ;;
    methods) label="2 method trace points (executeUpdate, executeQuery)" ;;
    field) label="1 field trace point (JdbcPreparedStatement.command)" ;;
    watch) label="the same on the watch road (option watches)" ;;
    profiler) label="profiler mode, the 2 method trace points" ;;
    timing) label="org.h2.** timed (--timing), nothing recorded" ;;
    interpreted) label="reference: untraced, no agent, -Xint" ;;
    profiler-before) label="profiler mode with VEXO_LIB_BEFORE" ;;
  esac
  med=$(m "$c")
  each=$(tr ' ' '\n' <<<"${times[$c]}" | grep -v '^$' | awk '{printf "%.1f ", $1 / 1000}')
  awk -v l="$label" -v t="$med" -v b="$base" -v e="${events[$c]}" -v each="$each" \
    'BEGIN {printf "%-52s %12.1f %8.2fx %14s   %s\n", l, t / 1000, t / b, e, each}'
done
