#!/bin/sh
# The command-line tracer, end to end: the demo traced by default, JSON lines with a limit, the
# subclass filter, and clear one-line refusals of mistakes.
#   vexo_trace_test.sh VEXO_TRACE BUILD_DIR DEMO_JAR
set -u
tracer=$1
export VEXO_BUILD=$2
demo=$3
out=$(mktemp)
trap 'rm -f "$out"' EXIT
failures=0

fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
has() { grep -qE -- "$1" "$out" || fail "no line matching /$1/"; }
count_is() {
    n=$(grep -cE -- "$1" "$out")
    [ "$n" -eq "$2" ] || fail "$n lines match /$1/, expected $2"
}
clean() {
    for bad in WARNING 'FATAL ERROR' 'Exception' '	at '; do
        if grep -q "$bad" "$out"; then fail "output holds '$bad'"; fi
    done
}

echo "=== the demo, traced by default"
"$tracer" > "$out" 2>&1; status=$?
cat "$out"
[ $status -eq 0 ] || fail "exit status $status"
clean
has '^alice has 225, bob has 179$'
count_is '^demo\.Account\.deposit\(J\)V  demo\.(Savings)?Account@[0-9a-f]+$' 3
count_is '^demo\.Account\.withdraw\(J\)Z  demo\.(Savings)?Account@[0-9a-f]+$' 2
has '^demo\.Account\.balance  demo\.Account@[0-9a-f]+  assigned 150$'
has '^demo\.Account\.balance  demo\.SavingsAccount@[0-9a-f]+  read     175$'
has '^demo\.Account\.balance  demo\.SavingsAccount@[0-9a-f]+  assigned 179$'
has '^ +3  demo\.Account\.deposit\(J\)V$'
has '^ +2  demo\.Account\.withdraw\(J\)Z$'
has '^ +15  demo\.Account\.balance$'

echo "=== JSON lines, a limit, -jar and -Xcheck:jni"
"$tracer" --json --limit 3 --field demo.Account.balance -- -Xcheck:jni -jar "$demo" > "$out" 2>&1; status=$?
cat "$out"
[ $status -eq 0 ] || fail "exit status $status"
clean
count_is '^\{"tracePoint":"demo\.Account\.balance","kind":"field","subjectClass":"demo\.(Savings)?Account","identityHash":"[0-9a-f]+","access":"(read|assigned)","value":[0-9]+\}$' 3
has '^\{"summary":\{"events":3,"overflow":true,"limit":3,"complete":true,'

echo "=== a subclass's trace point takes only its instances"
"$tracer" --method 'demo.SavingsAccount.deposit(J)V' -- -cp "$demo" demo.Main > "$out" 2>&1; status=$?
cat "$out"
[ $status -eq 0 ] || fail "exit status $status"
count_is '^demo\.SavingsAccount\.deposit\(J\)V  demo\.SavingsAccount@' 1
count_is '  demo\.Account@' 0

echo "=== profiler mode and the class listing"
"$tracer" --profiler --method demo.Account.deposit --classes -- -cp "$demo" demo.Main > "$out" 2>&1; status=$?
cat "$out" | grep -v '^\[' | head -20
[ $status -eq 0 ] || fail "exit status $status"
count_is '^demo\.Account\.deposit\(J\)V  demo\.(Savings)?Account@[0-9a-f]+$' 3
has '^--- vexo-trace classes: [0-9]+ loaded \(from a heap dump\), modification count [0-9]+$'
has '^demo\.SavingsAccount$'
count_is '^java\.lang\.Object$' 1
"$tracer" --classes -- -cp "$demo" demo.Main > "$out" 2>&1; status=$?
[ $status -eq 0 ] || fail "exit status $status"
has '^--- vexo-trace classes: [0-9]+ loaded \(from the debug interface\), modification count 0$'
has '^demo\.Account$'

refused() {
    expected=$1; shift
    "$tracer" "$@" > "$out" 2>&1; status=$?
    cat "$out"
    [ $status -eq 2 ] || fail "exit status $status for: $*"
    clean
    grep -qF -- "vexo-trace: $expected" "$out" || fail "no message '$expected' for: $*"
}
echo "=== mistakes"
refused "unknown class demo.Acount" --method demo.Acount.deposit -- -cp "$demo" demo.Main
refused "demo.Account has no method depositt" --method demo.Account.depositt -- -cp "$demo" demo.Main
refused "demo.Account has no method deposit(I)V (it has deposit(J)V)" --method 'demo.Account.deposit(I)V' -- -cp "$demo" demo.Main
refused "demo.Account has no field cash" --field demo.Account.cash -- -cp "$demo" demo.Main
refused "bad trace point 'deposit'" --method deposit -- -cp "$demo" demo.Main
refused "--limit needs a whole number" --limit many --method demo.Account.deposit -- -cp "$demo" demo.Main
refused "no main class given" --method demo.Account.deposit -- -cp "$demo"
refused "main class demo.Nothing not found" --method demo.Account.deposit -- -cp "$demo" demo.Nothing
refused "field trace points need debug mode" --profiler --field demo.Account.balance -- -cp "$demo" demo.Main

[ $failures -eq 0 ] && echo "vexo-trace: all checks passed"
[ $failures -eq 0 ]
