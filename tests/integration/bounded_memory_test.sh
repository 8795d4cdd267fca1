#!/bin/sh
# Bounded memory: a program that keeps 24 MB of a 64 MB heap runs to its end traced with
# arguments and exits; four threads hitting one trace point as fast as they can end with every
# event written or counted as dropped, exactly; a bad --buffer is refused in one line.
#   bounded_memory_test.sh VEXO_TRACE BUILD_DIR SOURCE_DIR
set -u
tracer=$1 build=$2 sources=$3
export VEXO_BUILD=$build
java=java javac=javac
if [ -n "${JAVA_HOME:-}" ]; then java=$JAVA_HOME/bin/java javac=$JAVA_HOME/bin/javac; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
"$javac" -d "$work/classes" "$sources"/bounded/*.java || exit 2
cp=$work/classes

echo "=== 24 MB kept of -Xmx64m, two million calls with @args,exits"
"$java" -Xmx64m -cp "$cp" bounded.Alloc > "$work/plain" 2>&1 || fail "the untraced run fails"
"$tracer" --output "$work/events" --method 'bounded.Alloc.f@args,exits' -- -Xmx64m -cp "$cp" bounded.Alloc \
    > "$work/traced" 2>&1 || fail "exit status $?"
cat "$work/traced"; grep -v '^bounded' "$work/events"
cmp -s "$work/plain" "$work/traced" || fail "the program's output differs under the tracer"
grep -q OutOfMemoryError "$work/traced" "$work/events" && fail "out of memory"
grep -qE '^--- vexo-trace summary: [0-9]+ events$' "$work/events" || fail "no summary"
grep -q '^incomplete' "$work/events" && fail "the trace is incomplete"

echo "=== four threads, no reachable limit, a 1 MB buffer: written + dropped = made"
"$tracer" --json --buffer 1 --limit 2147483647 --output "$work/json" --method 'bounded.Threads.hit@exits' \
    -- -Xmx64m -cp "$cp" bounded.Threads 4 500000 > "$work/traced" 2>&1 || fail "exit status $?"
summary=$(grep '^{"summary"' "$work/json")
echo "$summary" | cut -c1-200
events=$(echo "$summary" | sed -nE 's/.*"events":([0-9]+),.*/\1/p')
dropped=$(echo "$summary" | sed -nE 's/.*"dropped":([0-9]+),.*/\1/p')
lines=$(grep -c '^{"tracePoint"' "$work/json")
[ $((${events:-0} + ${dropped:-0})) -eq 4000000 ] || fail "written $events + dropped $dropped is not 4000000"
# An entry whose exit was dropped is printed alone; a pair is one line.
[ "$lines" -le "${events:-0}" ] && [ "$lines" -gt 0 ] || fail "$lines event lines for $events events"
echo "$summary" | grep -q '"complete":true' || fail "incomplete"
if [ "${dropped:-0}" -gt 0 ]; then
    echo "$summary" | grep -qE "\"droppedBy\":\\{\"bounded\\.Threads\\.hit\\(I\\)V\":$dropped\\}" || fail "drops not by trace point"
    "$tracer" --buffer 1 --limit 2147483647 --output "$work/text" --method 'bounded.Threads.hit' \
        -- -Xmx64m -cp "$cp" bounded.Threads 4 500000 > /dev/null 2>&1
    grep -E '^dropped [0-9,]+ events: the tracer fell behind \(raise --buffer, or trace fewer points\)$' "$work/text" ||
        grep -qE '^--- vexo-trace summary: 2000000 events$' "$work/text" || fail "no line on the drops"
fi

echo "=== a bad buffer"
for bad in 0 -3 lots 4097; do
    "$tracer" --buffer "$bad" --method bounded.Alloc.f -- -cp "$cp" bounded.Alloc > "$work/out" 2>&1
    status=$?
    [ $status -eq 2 ] || fail "--buffer $bad: exit status $status"
    [ "$(cat "$work/out")" = "vexo-trace: --buffer needs a number of megabytes from 1 to 4096, not '$bad'" ] ||
        fail "--buffer $bad: $(cat "$work/out")"
done

[ $failures -eq 0 ] && echo "all passed"
exit $failures
