#!/bin/sh
# The command-line tracer, end to end: the demo traced by default, JSON lines with a limit, the
# subclass filter, arguments and exits (one line per call, paired through recursion, threads and
# exceptions), and clear one-line refusals of mistakes.
#   vexo_trace_test.sh VEXO_TRACE BUILD_DIR DEMO_JAR
set -u
tracer=$1
export VEXO_BUILD=$2
demo=$3
out=$(mktemp)
work=$(mktemp -d)
trap 'rm -rf "$out" "$work"' EXIT
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
# Each field event ends with the place of the access: the constructor, a subclass's own method
# reading the inherited field, and one statement reading and assigning it.
count_is '^demo\.Account\.balance  demo\.(Savings)?Account@[0-9a-f]+  assigned (100|250)  at demo\.Account\.<init>\(Account\.java:10\)$' 2
has '^demo\.Account\.balance  demo\.Account@[0-9a-f]+  assigned 150  at demo\.Account\.deposit\(Account\.java:15\)$'
has '^demo\.Account\.balance  demo\.SavingsAccount@[0-9a-f]+  read     175  at demo\.SavingsAccount\.addInterest\(SavingsAccount\.java:13\)$'
has '^demo\.Account\.balance  demo\.SavingsAccount@[0-9a-f]+  read     175  at demo\.Account\.deposit\(Account\.java:15\)$'
has '^demo\.Account\.balance  demo\.SavingsAccount@[0-9a-f]+  assigned 179  at demo\.Account\.deposit\(Account\.java:15\)$'
count_is '  at ' 15
has '^ +3  demo\.Account\.deposit\(J\)V$'
has '^ +2  demo\.Account\.withdraw\(J\)Z$'
has '^ +15  demo\.Account\.balance$'

echo "=== JSON lines, a limit, -jar and -Xcheck:jni"
"$tracer" --json --limit 3 --field demo.Account.balance -- -Xcheck:jni -jar "$demo" > "$out" 2>&1; status=$?
cat "$out"
[ $status -eq 0 ] || fail "exit status $status"
clean
count_is '^\{"tracePoint":"demo\.Account\.balance","kind":"field","subjectClass":"demo\.(Savings)?Account","identityHash":"[0-9a-f]+","access":"(read|assigned)","value":[0-9]+,"site":\{"class":"demo\.(Savings)?Account","method":"[a-zA-Z<>]+","file":"(Savings)?Account\.java","line":[0-9]+\}\}$' 3
has '^\{"summary":\{"events":3,"overflow":true,"limit":3,"complete":true,'

echo "=== a subclass's trace point takes only its instances"
"$tracer" --method 'demo.SavingsAccount.deposit(J)V' -- -cp "$demo" demo.Main > "$out" 2>&1; status=$?
cat "$out"
[ $status -eq 0 ] || fail "exit status $status"
count_is '^demo\.SavingsAccount\.deposit\(J\)V  demo\.SavingsAccount@' 1
count_is '  demo\.Account@' 0

echo "=== profiler mode and the class listing"
"$tracer" --profiler --method demo.Account.deposit@args,exits --classes -- -cp "$demo" demo.Main > "$out" 2>&1; status=$?
cat "$out" | grep -v '^\[' | head -20
[ $status -eq 0 ] || fail "exit status $status"
# the session says the mode in its own words, the agent's notice of no debug interface is left out
count_is '^Vexo' 0
has '^vexo-trace: profiler mode: method entries through the profiler interface, objects by stable identifiers; no field trace points; the arguments and exits asked for \(demo\.Account\.deposit@args\+exits\) are not recorded in profiler mode$'
has '^note: the arguments and exits asked for \(demo\.Account\.deposit@args\+exits\) are not recorded in profiler mode$'
count_is '^demo\.Account\.deposit\(J\)V  demo\.(Savings)?Account@[0-9a-f]+$' 3
has '^--- vexo-trace classes: [0-9]+ loaded \(from a heap dump\), modification count [0-9]+$'
has '^demo\.SavingsAccount$'
count_is '^java\.lang\.Object$' 1
"$tracer" --classes -- -cp "$demo" demo.Main > "$out" 2>&1; status=$?
[ $status -eq 0 ] || fail "exit status $status"
has '^--- vexo-trace classes: [0-9]+ loaded \(from the debug interface\), modification count 0$'
has '^demo\.Account$'

# The lines of the trace points named by $1 (a pattern), identity hashes numbered by first sight,
# so two runs compare although the VM hands out other hashes.
events_of() {
    grep -E -- "$1" "$2" | awk '{
        while (match($0, /@[0-9a-f]+/)) {
            h = substr($0, RSTART + 1, RLENGTH - 1)
            if (!(h in n)) n[h] = ++seen
            printf "%s#%d", substr($0, 1, RSTART - 1), n[h]; $0 = substr($0, RSTART + RLENGTH)
        }
        print }'
}

# The breakpoint road records arguments but no exits: its entries of trace points with exits are
# printed as entry lines at the end.
if [ "${VEXO_AGENT_OPTIONS:-}" = breakpoints ]; then exits=0; else exits=1; fi
dur='[0-9.]+ (ns|µs|us|ms|s)'
hash='@[0-9a-f]+'

echo "=== the demo with arguments and exits; the other trace points keep their lines"
"$tracer" > "$work/plain" 2>&1 || fail "plain run: exit status $?"
"$tracer" --method 'demo.Account.withdraw@args,exits' --method demo.Account.deposit --field demo.Account.balance \
    -- -cp "$demo" demo.Main > "$out" 2>&1; status=$?
cat "$out"
[ $status -eq 0 ] || fail "exit status $status"
clean
has '^alice has 225, bob has 179$'
[ "$(events_of '^demo\.Account\.(deposit|balance)' "$work/plain")" = "$(events_of '^demo\.Account\.(deposit|balance)' "$out")" ] \
    || fail "deposit and balance lines differ from a run without arguments and exits"
if [ $exits -eq 1 ]; then
    count_is "^demo\.Account\.withdraw\(J\)Z  demo\.SavingsAccount$hash  \(75\)  -> true  $dur  \[main\]\$" 1
    count_is "^demo\.Account\.withdraw\(J\)Z  demo\.Account$hash  \(1000\)  -> false  $dur  \[main\]\$" 1
    has '^ +4  demo\.Account\.withdraw\(J\)Z$'
    has '^--- vexo-trace calls \(trace points with exits\)$'
    has "^ +2 +0 +$dur +$dur +$dur  demo\.Account\.withdraw\(J\)Z\$"
    count_is ' +[0-9]+ +[0-9]+ .*  demo\.Account\.deposit' 0
else
    count_is "^demo\.Account\.withdraw\(J\)Z  demo\.(Savings)?Account$hash  \((75|1000)\)  \[main\]\$" 2
fi

echo "=== trace points of one member: merged in its class, said when named through another class"
"$tracer" --method 'demo.Account.withdraw@args' --method 'demo.Account.withdraw(J)Z@exits' --method 'demo.Account.deposit@args' \
    --method 'demo.SavingsAccount.deposit@exits' --field demo.SavingsAccount.balance --field demo.Account.balance \
    -- -cp "$demo" demo.Main > "$out" 2>&1 || fail "exit status $?"
cat "$out"
if [ $exits -eq 1 ]; then
    count_is "^demo\.Account\.withdraw\(J\)Z  demo\.SavingsAccount$hash  \(75\)  -> true  $dur  \[main\]\$" 1
    count_is "^demo\.Account\.withdraw\(J\)Z  demo\.Account$hash  \(1000\)  -> false  $dur  \[main\]\$" 1
else
    count_is "^demo\.Account\.withdraw\(J\)Z  demo\.(Savings)?Account$hash  \((75|1000)\)  \[main\]\$" 2
fi
count_is "^demo\.Account\.deposit\(J\)V  demo\.(Savings)?Account$hash  \((50|75|4)\)  \[main\]\$" 3
has '^not armed: demo\.SavingsAccount\.deposit\(J\)V: demo\.Account\.deposit\(J\)V traces the same method, armed first: the agent takes one trace point a member, whose class filters the hits; the exits asked for here cannot be added to it$'
has '^not armed: demo\.SavingsAccount\.balance: demo\.Account\.balance traces the same field, armed first: .*hits$'
has '^ +15  demo\.Account\.balance$'

echo "=== the summary: by count, highest first, ties by label, the rows without events in one line (--summary all lists them)"
"$tracer" --method 'demo.**' -- -cp "$demo" demo.Main > "$out" 2>&1 || fail "exit status $?"
sed -n '/^--- vexo-trace summary/,$p' "$out"
rows=$(sed -n '/^--- vexo-trace summary/,/^armed/p' "$out" | sed -n 's/^ *\([0-9][0-9]*\)  /\1 /p' | tr '\n' '|')
[ "$rows" = "3 demo.Account.deposit(J)V|2 demo.Account.balance()J|2 demo.Account.withdraw(J)Z|2 demo.Main.transfer(Ldemo/Account;Ldemo/Account;J)Z|1 demo.Main.main([Ljava/lang/String;)V|1 demo.SavingsAccount.addInterest()V|" ] \
    || fail "summary rows not by count and label: $rows"
has '^1 more armed trace point had no events$'
"$tracer" --summary all --json --method 'demo.**' -- -cp "$demo" demo.Main > "$out" 2>&1 || fail "exit status $?"
has '"tracePoints":\{"demo\.Account\.deposit\(J\)V":3,"demo\.Account\.balance\(\)J":2,.*"demo\.SavingsAccount\.addInterest\(\)V":1,"demo\.Account\.owner\(\)Ljava/lang/String;":0\}'
"$tracer" --summary all --exits --method 'demo.**' -- -cp "$demo" demo.Main > "$out" 2>&1 || fail "exit status $?"
has '^ +0  demo\.Account\.owner\(\)Ljava/lang/String;$'
count_is 'more armed trace points? had no events' 0
if [ $exits -eq 1 ]; then
    # the calls table by total time, longest first
    sed -n '/^--- vexo-trace calls/,$p' "$out" | awk 'NR > 2 { v = $3; u = $4; f = u == "s" ? 1e9 : u == "ms" ? 1e6 : u == "ns" ? 1 : 1e3
        if (NR > 3 && v * f > last) bad = 1; last = v * f } END { exit bad }' || fail "the calls table is not by total time"
fi

echo "=== JSON lines with arguments, exits, threads and times"
"$tracer" --json --args --exits --threads --times --method demo.Account.deposit --field demo.Account.balance \
    -- -cp "$demo" demo.Main > "$out" 2>&1; status=$?
cat "$out"
[ $status -eq 0 ] || fail "exit status $status"
clean
call='^\{"tracePoint":"demo\.Account\.deposit\(J\)V","kind":"method","subjectClass":"demo\.(Savings)?Account","identityHash":"[0-9a-f]+","args":\['
if [ $exits -eq 1 ]; then
    for amount in 50 75 4; do count_is "$call$amount\],\"durationNs\":[0-9]+,\"thread\":\"main\",\"timeNs\":[0-9]+\}\$" 1; done
    has '"calls":\{"demo\.Account\.deposit\(J\)V":\{"calls":3,"thrown":0,"totalNs":[0-9]+,"meanNs":[0-9]+,"maxNs":[0-9]+\}\}\}\}$'
else
    for amount in 50 75 4; do count_is "$call$amount\],\"thread\":\"main\",\"timeNs\":[0-9]+\}\$" 1; done
fi
count_is '^\{"tracePoint":"demo\.Account\.balance",.*,"value":[0-9]+,"thread":"main","timeNs":[0-9]+,"site":\{[^}]*\}\}$' 15

echo "=== exits of the JDK's own methods on the instrumented road; on the breakpoint road one note per reason in the summary, nothing on standard error"
"$tracer" --exits --method java.lang.String.isEmpty --method java.lang.String.length --method demo.Account.deposit \
    -- -cp "$demo" demo.Main > "$out" 2>&1 || fail "exit status $?"
grep -E '^(note|Vexo)' "$out"
count_is '^Vexo' 0
if [ $exits -eq 1 ]; then
    count_is '^note: exits not recorded' 0
    has '^java\.lang\.String\.length\(\)I  java\.lang\.String@[0-9a-f]+  -> [0-9]+  [0-9.]+ [nµm]?s  \[main\]$'
else
    count_is '^note: exits not recorded' 1
    has '^note: exits not recorded for 3 methods traced by breakpoints \(the option breakpoints\): java\.lang\.String\.isEmpty\(\)Z, java\.lang\.String\.length\(\)I, demo\.Account\.deposit\(J\)V$'
fi

echo "=== calls paired through recursion, exceptions and two threads; a call the trace outlives"
mkdir -p "$work/src"
cat > "$work/src/Calls.java" <<'EOF_JAVA'
import java.util.concurrent.CountDownLatch;

public class Calls {
    int fact(int n) {
        if (n < 0) throw new IllegalArgumentException("negative");
        return n <= 1 ? 1 : n * fact(n - 1);
    }

    static int down(int n) {
        if (n == 0) throw new IllegalStateException("bottom");
        return down(n - 1);
    }

    static int safe(int n) {
        try {
            return down(n);
        } catch (IllegalStateException e) {
            return -1;
        }
    }

    // Two calls that overlap on two threads: each thread's exit must find its own entry.
    void hold(CountDownLatch entered) throws InterruptedException {
        entered.await();
    }

    void block(CountDownLatch entered, CountDownLatch left) throws InterruptedException {
        entered.countDown();
        left.await();
    }

    static void quit() {
        System.exit(0);
    }

    public static void main(String[] args) throws Exception {
        Calls c = new Calls();
        System.out.println("fact " + c.fact(4));
        try {
            c.fact(-1);
        } catch (IllegalArgumentException e) {
            System.out.println("refused");
        }
        System.out.println("safe " + safe(2));
        CountDownLatch entered = new CountDownLatch(1), left = new CountDownLatch(1);
        Thread second = new Thread(() -> {
            try {
                c.block(entered, left);
                c.fact(2);
            } catch (InterruptedException e) {
                throw new IllegalStateException(e);
            }
        }, "second");
        second.start();
        c.hold(entered);
        left.countDown();
        second.join();
        quit();
    }
}
EOF_JAVA
javac=javac
if [ -n "${JAVA_HOME:-}" ]; then javac=$JAVA_HOME/bin/javac; fi
"$javac" -d "$work" "$work/src/Calls.java" || fail "Calls.java does not compile"
"$tracer" --method 'Calls.fact@args,exits' --method 'Calls.down@args,exits' --method 'Calls.safe@exits' \
    --method 'Calls.hold@exits' --method 'Calls.block@exits' --method 'Calls.quit@exits' \
    --method 'Calls.<init>@exits' -- -cp "$work" Calls > "$out" 2>&1; status=$?
cat "$out"
[ $status -eq 0 ] || fail "exit status $status"
has '^fact 24$'
has '^safe -1$'
if [ $exits -eq 1 ]; then
    fact="^Calls\.fact\(I\)I  Calls$hash"
    # innermost first, each call's argument with its own result
    got=$(grep -E "$fact" "$out" | grep -F '[main]' | sed -E 's/^[^ ]+  [^ ]+  (\([^)]*\))  (-> [^ ]+|threw [^@]+).*$/\1 \2/' | tr '\n' ' ')
    [ "$got" = "(1) -> 1 (2) -> 2 (3) -> 6 (4) -> 24 (-1) threw java.lang.IllegalArgumentException " ] \
        || fail "fact's calls on main, innermost first: $got"
    count_is "$fact  \(-1\)  threw java\.lang\.IllegalArgumentException$hash: \"negative\"  $dur  \[main\]\$" 1
    count_is "$fact  \(1\)  -> 1  $dur  \[second\]\$" 1
    count_is "$fact  \(2\)  -> 2  $dur  \[second\]\$" 1
    # one exception leaves three frames of down, and safe returns
    [ "$(grep -E '^Calls\.down\(I\)I  static  \([0-2]\)  threw ' "$out" | sed -E 's/.*threw ([^ ]+) .*/\1/' | sort -u | wc -l)" -eq 1 ] \
        || fail "the three frames of down do not show one exception"
    count_is "^Calls\.down\(I\)I  static  \([0-2]\)  threw java\.lang\.IllegalStateException$hash: \"bottom\"  $dur  \[main\]\$" 3
    count_is "^Calls\.safe\(I\)I  static  -> -1  $dur  \[main\]\$" 1
    count_is '^Calls\.(hold|block)\(' 2
    count_is "^Calls\.hold\(Ljava/util/concurrent/CountDownLatch;\)V  Calls$hash  -> void  $dur  \[main\]\$" 1
    count_is "^Calls\.block\(Ljava/util/concurrent/CountDownLatch;Ljava/util/concurrent/CountDownLatch;\)V  Calls$hash  -> void  $dur  \[second\]\$" 1
    # a constructor's entry has no object yet: the call shows the one its exit made
    count_is "^Calls\.<init>\(\)V  Calls$hash  -> void  $dur  \[main\]\$" 1
    # the call of quit is under way when the trace stops: its entry is printed at the end
    [ "$(grep -B1 '^--- vexo-trace summary' "$out" | head -n 1)" = "Calls.quit()V  static  [main]" ] \
        || fail "the unfinished call of quit is not the last line before the summary"
    has "^ +7 +1 +$dur +$dur +$dur  Calls\.fact\(I\)I\$"
    has "^ +3 +3 +$dur +$dur +$dur  Calls\.down\(I\)I\$"
    has "^ +0 +0 +0 ns +0 ns +0 ns  Calls\.quit\(\)V\$"
else
    count_is "^Calls\.fact\(I\)I  Calls$hash  \((4|3|2|1|-1)\)  \[(main|second)\]\$" 7
fi

echo "=== stacks: under each event line, the top frame the traced method or the field's accessor"
"$tracer" --stack --method demo.Account.deposit --field 'demo.Account.balance@stack=2' -- -cp "$demo" demo.Main > "$out" 2>&1 \
    || fail "exit status $?"
cat "$out"
clean
has '^alice has 225, bob has 179$'
# Each event line and the frames under it: deposit's own frame first, then its caller; a balance
# event has two frames (stack=2), its accessor (a method of the demo's) first.
awk '
    function done() {
        if (want == "deposit" && n < 2) bad = bad " deposit:" n "frames"
        if (want == "balance" && n != 2) bad = bad " balance:" n "frames"
        want = ""
    }
    /^demo\.Account\.deposit\(J\)V  / { done(); want = "deposit"; n = 0; next }
    /^demo\.Account\.balance  / { done(); want = "balance"; n = 0; next }
    /^    at / { n++
        if (want == "deposit" && n == 1 && $2 !~ /^demo\.Account\.deposit\(Account\.java:[0-9]+\)$/) bad = bad " deposit:" $2
        if (want == "deposit" && n == 2 && $2 !~ /^demo\.(Main\.(main|transfer)\(Main|SavingsAccount\.addInterest\(SavingsAccount)\.java:[0-9]+\)$/) bad = bad " caller:" $2
        if (want == "balance" && $2 !~ /^demo\.(Savings)?Account\.|^demo\.Main\./) bad = bad " balance:" $2
        next }
    { done() }
    END { done(); if (bad != "") { print "wrong frames:" bad; exit 1 } }' "$out" || fail "stack frames"
count_is '^demo\.Account\.deposit\(J\)V  demo\.(Savings)?Account@[0-9a-f]+$' 3
"$tracer" --profiler --method 'demo.Account.deposit@stack=1' -- -cp "$demo" demo.Main > "$out" 2>&1 || fail "exit status $?"
count_is '^    at demo\.Account\.deposit\(Account\.java:[0-9]+\)$' 3
count_is '^    at ' 3
"$tracer" --json --method 'demo.Account.deposit@args,stack=1' -- -cp "$demo" demo.Main > "$out" 2>&1 || fail "exit status $?"
count_is '^\{"tracePoint":"demo\.Account\.deposit\(J\)V",.*"args":\[[0-9]+\],.*"stack":\[\{"class":"demo\.Account","method":"deposit","file":"Account\.java","line":[0-9]+\}\]\}$' 3

refused() {
    expected=$1; shift
    "$tracer" "$@" > "$out" 2>&1; status=$?
    cat "$out"
    [ $status -eq 2 ] || fail "exit status $status for: $*"
    clean
    grep -qF -- "vexo-trace: $expected" "$out" || fail "no message '$expected' for: $*"
    # one line (profiler mode's own notice that the debug interface is off aside)
    [ "$(grep -vc '^Vexo error:  cannot obtain jvmdi' "$out")" -eq 1 ] || fail "not one line for: $*"
    grep -q '^alice has' "$out" && fail "the program ran after: $*"
}
# A trace point whose class never loads, or that names no member of its class, waits or is said
# in the summary: the program runs as itself.
said() {
    expected=$1; shift
    "$tracer" "$@" > "$out" 2>&1; status=$?
    cat "$out"
    [ $status -eq 0 ] || fail "exit status $status for: $*"
    clean
    has '^alice has 225, bob has 179$'
    grep -qxF -- "$expected" "$out" || fail "no line '$expected' for: $*"
}
echo "=== mistakes"
said "never matched: demo.Acount.deposit (no class it names was loaded)" --method demo.Acount.deposit -- -cp "$demo" demo.Main
said "not armed: demo.Account.depositt: demo.Account has no method depositt" --method demo.Account.depositt -- -cp "$demo" demo.Main
said "not armed: demo.Account.deposit(I)V: demo.Account has no method deposit(I)V (it has deposit(J)V)" \
    --method 'demo.Account.deposit(I)V' -- -cp "$demo" demo.Main
said "not armed: demo.Account.cash: demo.Account has no field cash" --field demo.Account.cash -- -cp "$demo" demo.Main
refused "bad trace point 'deposit'" --method deposit -- -cp "$demo" demo.Main
refused "--limit needs a whole number" --limit many --method demo.Account.deposit -- -cp "$demo" demo.Main
refused "no main class given" --method demo.Account.deposit -- -cp "$demo"
refused "field trace points need debug mode" --profiler --field demo.Account.balance -- -cp "$demo" demo.Main
refused "bad trace point 'demo.Account.withdraw@results'" --method 'demo.Account.withdraw@results' -- -cp "$demo" demo.Main
refused "bad trace point 'demo.Account.balance@args': expected stack or stack=N" --field 'demo.Account.balance@args' -- -cp "$demo" demo.Main
refused "stack=N in 'demo.Account.deposit@stack=300' needs a number of frames from 1 to 256" \
    --method 'demo.Account.deposit@stack=300' -- -cp "$demo" demo.Main
refused "--summary takes only all, not 'some'" --summary some --method demo.Account.deposit -- -cp "$demo" demo.Main
refused "unknown option '--mehtod'" --mehtod demo.Account.deposit -- -cp "$demo" demo.Main
# A method trace point that names a field, and the other way round, say what to write instead;
# unusual names that are valid still reach the program.
said "not armed: demo.SavingsAccount.rate: demo.SavingsAccount has no method rate (it has a field rate: use --field)" \
    --method demo.SavingsAccount.rate --field demo.Account.deposit --method 'demo.Outer$Inner.m([[Ljava/lang/String;I)[J' \
    --method 'demo.Account.<clinit>' --method 'demo.*.<init>' -- -cp "$demo" demo.Main
has '^not armed: demo\.Account\.deposit: demo\.Account has no field deposit \(it has a method deposit: use --method\)$'
has '^never matched: demo\.Outer\$Inner\.m\(\[\[Ljava/lang/String;I\)\[J \(no class it names was loaded\)$'

echo "=== one-line refusals: options, --pid's (before any attach), names no class can have"
point=demo.Account.deposit
refused "unknown option '-cp' (did you mean: ./vexo-trace ... -- -cp ...? java's options and the program come after --)" \
    --method $point -cp "$demo" demo.Main
refused "unknown option 'demo.Main' (did you mean: ./vexo-trace ... -- demo.Main ...?" --method $point demo.Main
refused "unknown option '--colour' (see ./vexo-trace --help)" --colour --method $point -- -cp "$demo" demo.Main
refused "no trace point given (--method, --field or --points), nor --classes" -- -cp "$demo" demo.Main
refused "no trace point given (--method, --field or --points), nor --classes" --pid 1
refused "--duration applies to --pid only" --duration 2 --method $point -- -cp "$demo" demo.Main
for d in 0 -1 NaN Infinity 2s; do refused "--duration needs a number of seconds more than 0" --pid 1 --duration $d --method $point; done
refused "--limit must be at least 1" --limit 0 --method $point -- -cp "$demo" demo.Main
refused "--limit must be at most 2147483647, not 2147483648" --limit 2147483648 --method $point -- -cp "$demo" demo.Main
for m in app..Calc.add .Calc.add app.util.Calc::add 'demo.Account.a:b' 'demo.Account.a b' 'demo.Account.add;' \
        demo/Account.deposit 'demo.Account.<foo>' 'demo.Account.deposit(J)X' 'demo.Account.deposit(long)V' \
        'demo.Account.deposit(J)' 'demo.Account.m(Ljava.lang.String;)V'; do
    refused "bad trace point '$m': " --method "$m" -- -cp "$demo" demo.Main
done
refused "bad trace point 'demo.Account.bal?ance': '?' cannot be in a Java name" --pid 1 --field 'demo.Account.bal?ance'

echo "=== a trace points file: # starts a comment anywhere; its mistakes carry the file and line"
printf '# the demo\nmethod demo.Account.deposit(J)V   # entries\nfield demo.Account.balance#reads, assignments\n' > "$work/points"
said "--- vexo-trace summary: 18 events" --points "$work/points" -- -cp "$demo" demo.Main
printf 'method demo.Account.deposit\n\nmethod app..Calc.add  # empty part\n' > "$work/points"
refused "$work/points:3: bad trace point 'app..Calc.add': " --points "$work/points" -- -cp "$demo" demo.Main

echo "=== --version: the project's version; --help: the usage"
version=$(sed -n 's/^project(vexo VERSION \([^ )]*\).*/\1/p' "$(dirname "$tracer")/CMakeLists.txt")
[ -n "$version" ] && [ "$("$tracer" --version)" = "vexo-trace $version" ] || fail "--version: '$("$tracer" --version 2>&1)', project $version"
"$tracer" --help | grep -q -- '--pid PID' || fail "--help prints no usage"
# The program's own main class is the VM's to find.
"$tracer" --method demo.Account.deposit -- -cp "$demo" demo.Nothing > "$out" 2>&1; status=$?
[ $status -eq 1 ] || fail "exit status $status for a main class that is missing"
has 'Could not find or load main class demo\.Nothing'

[ $failures -eq 0 ] && echo "vexo-trace: all checks passed"
[ $failures -eq 0 ]
