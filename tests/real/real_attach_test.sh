#!/bin/bash
# Attaching to H2 running the JDBC loop (a pause after each round): the driver's two statement
# methods and a field every statement reads, traced over a stretch of the run and detached; the
# program's standard output is then byte for byte that of an untraced run, its standard error
# empty, and within the stretch each round made one insert and one select.
#   real_attach_test.sh VEXO_TRACE BUILD_DIR WORKLOAD_JAR H2_JAR
set -u
tracer=$1 workload=$3 h2=$4
export VEXO_BUILD=$2
java=${JAVA_HOME:?JAVA_HOME names the JDK to run on}/bin/java
work=$(mktemp -d)
trap 'kill $target 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
cp=$workload:$h2
ps=org.h2.jdbc.JdbcPreparedStatement
rounds=400

"$java" -cp "$cp" vexoreal.JdbcLoop jdbc:h2:mem:real $rounds > "$work/plain.out" 2>&1 || fail "the untraced run fails"
"$java" -XX:+EnableDynamicAgentLoading -Xcheck:jni -cp "$cp" vexoreal.JdbcLoop jdbc:h2:mem:real $rounds pause=10 \
    > "$work/target.out" 2> "$work/target.err" &
target=$!
sleep 1.5
timeout 60 "$tracer" --pid $target --duration 1.5 --json --method "$ps.executeUpdate()I" \
    --method "$ps.executeQuery()Ljava/sql/ResultSet;" --field $ps.command > "$work/trace" 2> "$work/err"
status=$?
grep '"summary"' "$work/trace"
cat "$work/err"
[ $status -eq 0 ] || fail "exit status $status"
wait $target || fail "the program exits with $?"
cmp -s "$work/plain.out" "$work/target.out" || { fail "the program's output differs from the untraced run's"; diff "$work/plain.out" "$work/target.out" | head; }
[ -s "$work/target.err" ] && { fail "the program wrote on standard error"; head "$work/target.err"; }
updates=$(grep -c "\"tracePoint\":\"$ps.executeUpdate()I\"" "$work/trace")
queries=$(grep -c "\"tracePoint\":\"$ps.executeQuery()Ljava/sql/ResultSet;\"" "$work/trace")
reads=$(grep -c "\"tracePoint\":\"$ps.command\"" "$work/trace")
echo "within the stretch: $updates inserts, $queries selects, $reads reads of command"
[ "$updates" -ge 20 ] || fail "only $updates inserts traced"
[ $((updates - queries)) -le 1 ] && [ $((queries - updates)) -le 1 ] || fail "$updates inserts but $queries selects"
[ "$reads" -ge "$updates" ] || fail "fewer reads of command ($reads) than statements"
grep -q '"overflow":false,"limit":1000000,"complete":true' "$work/trace" || fail "the summary is not complete"
[ $failures -eq 0 ] && echo "H2 attach: all checks passed"
[ $failures -eq 0 ]
