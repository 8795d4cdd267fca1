#!/bin/bash
# Attaching to a running JVM: a program that counts rounds is traced twice over a stretch (a
# method with its argument, a field), each time for exactly the rounds it ran while attached;
# after each detach every class of the program has its bytecodes back and the program goes on
# printing as before; the second attach reuses the loaded agent. Refused attaches: a pid of no
# process, a pid that is not a JVM. Ctrl-C ends a trace with its summary.
#   attach_test.sh VEXO_TRACE BUILD_DIR SOURCE_DIR
set -u
tracer=$1 source=$3
export VEXO_BUILD=$2
java=java javac=javac
if [ -n "${JAVA_HOME:-}" ]; then java=$JAVA_HOME/bin/java javac=$JAVA_HOME/bin/javac; fi
work=$(mktemp -d)
pids=()
cleanup() { touch "$work/stop"; for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"; }
trap cleanup EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

"$javac" -d "$work/classes" "$source"/att/Target.java || exit 2
# The flag keeps JDK 21 and later from warning about a dynamically loaded agent.
"$java" -XX:+EnableDynamicAgentLoading -Xcheck:jni -Xlog:redefine+class+load=info:file="$work/redefined" \
    -cp "$work/classes" att.Target "$work/stop" 10 \
    > "$work/target.out" 2> "$work/target.err" &
target=$!
pids+=("$target")
sleep 1

# The values of a trace's events: hit's arguments, last's assignments, one per line.
values() { sed -nE "s/^$2  att\.Counter@[0-9a-f]+  ${3:-}\(?([0-9]+)\)?.*$/\1/p" "$1"; }

for run in 1 2; do
    echo "=== attach $run"
    VEXO_AGENT_OPTIONS=digests timeout 60 "$tracer" --pid "$target" --duration 1.5 --method 'att.Counter.hit@args' \
        --field att.Counter.last > "$work/trace$run" 2> "$work/err$run"
    status=$?
    grep -v '^digest\|^restored' "$work/trace$run" | tail -4
    cat "$work/err$run"
    [ $status -eq 0 ] || fail "attach $run: exit status $status"
    [ -s "$work/err$run" ] && fail "attach $run: the command said something on standard error"
    # Each trace point sees every round of its stretch once, in order (the two are armed one
    # after the other, so their stretches may differ by a round at either end).
    for point in hit last; do
        if [ $point = hit ]; then got=$(values "$work/trace$run" 'att\.Counter\.hit\(I\)V' | tr '\n' ' ') label='att\.Counter\.hit\(I\)V'
        else got=$(values "$work/trace$run" 'att\.Counter\.last' 'assigned ' | tr '\n' ' ') label='att\.Counter\.last'; fi
        first=${got%% *} n=$(echo "$got" | wc -w)
        [ "$n" -ge 10 ] || fail "attach $run: only $n events of $point"
        [ "$got" = "$(seq -s ' ' "$first" $((first + n - 1))) " ] || fail "attach $run: $point not once per round: $got"
        grep -qE "^ +$n  $label\$" "$work/trace$run" || fail "attach $run: the summary does not count $n events of $point"
        eval "first_$point=$first n_$point=$n"
    done
    [ $((first_hit - first_last)) -le 1 ] && [ $((first_last - first_hit)) -le 1 ] && [ $((n_hit - n_last)) -le 2 ] && \
        [ $((n_last - n_hit)) -le 2 ] || fail "attach $run: the stretches of hit and last differ by more than a round"
    # main was running when att.Counter.last was armed and reads it at its end: it is named, once.
    note='note: att.Target.main([Ljava/lang/String;)V runs code from before att.Counter.last was armed: its accesses are not seen until it returns'
    [ "$(grep -cxF "$note" "$work/trace$run")" = 2 ] || fail "attach $run: main's old frame not named at the start and in the summary"
    grep '^digest' "$work/trace$run" | cut -d' ' -f2- > "$work/before$run"
    grep '^restored' "$work/trace$run" | cut -d' ' -f2- > "$work/after$run"
    grep -q '^att\.Counter@' "$work/before$run" || fail "attach $run: no digest of att.Counter"
    cmp -s "$work/before$run" "$work/after$run" || { fail "attach $run: classes not restored"; diff "$work/before$run" "$work/after$run"; }
done
cmp -s "$work/before1" "$work/before2" || fail "the second attach found other bytecodes than the first"

echo "=== a class that loads while attached gets its methods' probes as it loads, and its own code back at detach"
(timeout 60 "$tracer" --pid "$target" --duration 3 --method 'att.Late.*' > "$work/trace7" 2> "$work/err7") &
traced=$!
sleep 1.5
touch "$work/stop.load"
for i in $(seq 50); do [ -e "$work/stop.loaded" ] && break; sleep 0.1; done
[ -e "$work/stop.loaded" ] || fail "the program did not load att.Late"
wait $traced || fail "tracing att.Late: exit status $?"
# Never prepared, the class is not armed; the probes it got as it loaded are taken out at detach.
[ "$(grep -c 'redefined name=att\.Late,' "$work/redefined")" = 1 ] \
    || { fail "att.Late not rewritten once, at detach"; grep 'att\.Late' "$work/redefined"; cat "$work/trace7"; }

echo "=== a reused agent records exactly its limit"
timeout 60 "$tracer" --pid "$target" --duration 1 --limit 4 --method att.Counter.hit > "$work/trace4" 2> "$work/err4"
grep -qx -- '--- vexo-trace summary: 4 events' "$work/trace4" || { fail "the third attach's limit of 4"; cat "$work/trace4"; }

echo "=== a method and a field of one session start together"
timeout 60 "$tracer" --pid "$target" --duration 1 --limit 20 --method att.Counter.hit --field att.Counter.last \
    > "$work/trace5" 2> "$work/err5"
hits=$(grep -cE '^att\.Counter\.hit\(I\)V ' "$work/trace5") lasts=$(grep -cE '^att\.Counter\.last ' "$work/trace5")
[ $((hits + lasts)) = 20 ] && [ $((hits - lasts)) -le 1 ] && [ $((lasts - hits)) -le 1 ] \
    || { fail "one session's method and field did not start together: $hits entries, $lasts assignments"; cat "$work/trace5"; }

echo "=== the report files, written by the session where the command runs; one it cannot write is one line"
(cd "$work" && timeout 60 "$tracer" --pid "$target" --duration 1 --method 'att.Counter.hit@args' --html report.html \
    --trace-events /nonexistent/events.json > "$work/trace6" 2> "$work/err6"); status=$?
cat "$work/err6"
[ $status -eq 0 ] || fail "report files after attach: exit status $status"
[ "$(wc -l < "$work/err6")" = 1 ] && grep -q '^vexo-trace: cannot write /nonexistent/events.json: ' "$work/err6" \
    || fail "report files after attach: not one line for the file that cannot be written"
hits=$(grep -cE '^att\.Counter\.hit\(I\)V ' "$work/trace6")
grep -q '"attached":true' "$work/report.html" && grep -q "\"kept\":$hits," "$work/report.html" \
    || fail "report files after attach: the page is missing or does not keep the $hits events printed"

echo "=== Ctrl-C ends the trace with its summary"
timeout 60 "$tracer" --pid "$target" --method att.Counter.hit > "$work/trace3" 2>&1 &
client=$!
sleep 2
kill -INT "$client"
wait "$client"
tail -2 "$work/trace3"
grep -qE '^ +[0-9]+  att\.Counter\.hit\(I\)V$' "$work/trace3" || fail "no summary after Ctrl-C"

# The program went on as itself: every round once, in order, and nothing else.
sleep 0.5
touch "$work/stop"
wait "$target" || fail "the target exits with $?"
rounds=$(grep -c '^round ' "$work/target.out")
[ "$(grep -v '^stopped after' "$work/target.out" | md5sum)" = "$(seq -f 'round %g' 1 "$rounds" | md5sum)" ] \
    || fail "the target's output is not its rounds in order"
grep -qx "stopped after $rounds" "$work/target.out" || fail "the target's last line"
[ -s "$work/target.err" ] && { fail "the target wrote on standard error"; cat "$work/target.err"; }

echo "=== refused attaches"
"$tracer" --pid 999999999 --method att.Counter.hit > "$work/out" 2>&1; status=$?
cat "$work/out"
[ $status -eq 2 ] && grep -q '^vexo-trace: cannot attach to process 999999999' "$work/out" || fail "a pid of no process"
sleep 30 & sleeper=$!
pids+=("$sleeper")
"$tracer" --pid "$sleeper" --method att.Counter.hit > "$work/out" 2>&1; status=$?
cat "$work/out"
[ $status -eq 2 ] && grep -q "^vexo-trace: cannot attach to process $sleeper" "$work/out" || fail "a pid that is not a JVM"

[ $failures -eq 0 ] && echo "attach: all checks passed"
[ $failures -eq 0 ]
