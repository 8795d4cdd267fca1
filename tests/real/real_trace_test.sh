#!/bin/sh
# The command-line tracer on a real program nobody here wrote: the workload runs once without the
# agent and once under vexo-trace, on the same JDK ($JAVA_HOME), both with -Xcheck:jni, in a
# temporary working directory.
#   real_trace_test.sh PROGRAM MODE TRACER BUILD_DIR WORKLOAD_JAR SCRIPT_DIR ENGINE_JAR
# PROGRAM: h2 | derby (the JDBC loop), groovy | jython | clojure (a script through the
# language's own main class). MODE: instrumented | breakpoints (method trace points on either
# road), profiler (--profiler --classes), fields (method and field trace points, watches).
# The run fails unless the program's standard output and exit status are the untraced run's,
# no output holds a VerifyError, fatal error, JNI warning or hs_err file, and the events the
# workload fixes arrive in exactly that number.
set -u
program=$1 mode=$2 tracer=$3
export VEXO_BUILD=$4
workload_jar=$5 scripts=$6 engine=$7
java=${JAVA_HOME:?JAVA_HOME names the JDK to run on}/bin/java
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# Workload sizes: the breakpoint road stops every thread at each hit, and a field watch makes
# the whole program run interpreted, so those runs stay small.
case $mode in
    instrumented) n=200 ;;
    profiler|calls) n=50 ;;
    breakpoints|fields) n=10 ;;
    *) echo "unknown mode $mode" >&2; exit 2 ;;
esac

# Per program: class path, main class and arguments, JVM options, the method trace points with
# the number of hits the workload fixes, the field trace point, and two classes of the engine
# the profiler's class listing must name.
jopts=""
case $program in
    h2|derby)
        cp=$workload_jar:$engine main=vexoreal.JdbcLoop
        if [ "$program" = h2 ]; then
            url=jdbc:h2:mem:real
            ps=org.h2.jdbc.JdbcPreparedStatement field=$ps.command
            listed="$ps org.h2.engine.Database"
        else
            url="jdbc:derby:memory:real;create=true"
            # derby.log goes to the system home: the working directory, removed afterwards.
            jopts="-Dderby.system.home=$work"
            ps=org.apache.derby.impl.jdbc.EmbedPreparedStatement field=$ps.activation
            listed="$ps org.apache.derby.impl.sql.GenericPreparedStatement"
        fi
        set -- "$url" "$n"
        methods="$ps.executeUpdate()I=$n $ps.executeQuery()Ljava/sql/ResultSet;=$n" ;;
    groovy)
        cp=$engine main=groovy.ui.GroovyMain
        set -- "$scripts/squares.groovy" "$n"
        methods="groovy.lang.Script.println(Ljava/lang/Object;)V=$((n + 1))"
        field=groovy.lang.Script.binding listed="groovy.lang.Script groovy.ui.GroovyMain" ;;
    jython)
        cp=$engine main=org.python.util.jython jopts="-Dpython.cachedir.skip=true"
        set -- "$scripts/powers.py" "$n"
        methods="org.python.core.PyComplex.__mul__(Lorg/python/core/PyObject;)Lorg/python/core/PyObject;=$n"
        field=org.python.core.PyComplex.real listed="org.python.core.PyComplex org.python.core.PySystemState" ;;
    clojure)
        cp=$engine main=clojure.main
        set -- "$scripts/queue.clj" "$n"
        methods="clojure.lang.PersistentQueue.cons(Ljava/lang/Object;)Lclojure/lang/PersistentQueue;=$n"
        field=clojure.lang.PersistentQueue.cnt listed="clojure.lang.PersistentQueue clojure.lang.RT" ;;
    *) echo "unknown program $program" >&2; exit 2 ;;
esac

tracer_args="--json --output events.json"
for m in $methods; do tracer_args="$tracer_args --method ${m%=*}"; done
case $mode in
    breakpoints) export VEXO_AGENT_OPTIONS=breakpoints ;;
    profiler) tracer_args="$tracer_args --profiler --classes" ;;
    fields) tracer_args="$tracer_args --field $field" ;;
    calls) tracer_args="$tracer_args --args --exits" ;;
esac
[ "$mode" = breakpoints ] || unset VEXO_AGENT_OPTIONS

echo "=== $program, untraced: $java -Xcheck:jni $jopts -cp $cp $main $*"
# shellcheck disable=SC2086  # the option lists are words
"$java" -Xcheck:jni $jopts -cp "$cp" "$main" "$@" > plain.out 2> plain.err
plain_status=$?
echo "=== $program, traced ($mode): vexo-trace $tracer_args -- ..."
# shellcheck disable=SC2086
"$tracer" $tracer_args -- -Xcheck:jni $jopts -cp "$cp" "$main" "$@" > traced.out 2> traced.err
traced_status=$?
touch events.json
for f in plain.out plain.err traced.out traced.err; do echo "--- $f"; head -c 3000 "$f"; done
echo "--- events.json (first lines)"; head -5 events.json | cut -c1-300; grep '^{"summary"' events.json

# The program behaves as without the agent.
[ $plain_status -eq 0 ] || fail "the untraced run exits with $plain_status"
[ $traced_status -eq $plain_status ] || fail "the traced run exits with $traced_status, untraced $plain_status"
[ -s plain.out ] || fail "the untraced run prints nothing"
cmp -s plain.out traced.out || { fail "standard output differs from the untraced run's"; diff plain.out traced.out | head -20; }
for f in plain.out plain.err traced.out traced.err events.json; do
    for bad in VerifyError 'FATAL ERROR' WARNING 'Exception in thread' hs_err_pid; do
        if grep -q "$bad" "$f"; then fail "$f holds '$bad'"; grep -m3 "$bad" "$f"; fi
    done
done
ls hs_err_pid* > /dev/null 2>&1 && fail "a VM crash log was written: $(ls hs_err_pid*)"
# Profiler mode starts without the debug interface, which the session says once as the mode it
# runs (the agent's own notice is for a Java side of its own); no agent error line.
n_errors=$(grep -c 'Vexo error' traced.err)
[ "$n_errors" -eq 0 ] || fail "$n_errors agent error lines, expected none"
if [ "$mode" = profiler ]; then
    [ "$(grep -c '^vexo-trace: profiler mode: ' traced.err)" -eq 1 ] || fail "no one-line profiler-mode notice"
fi

# Every delivered event is counted, the summary agrees, the recording is complete.
summary=$(grep '^{"summary"' events.json)
case $summary in
    *'"overflow":false,'*'"complete":true,'*) ;;
    *) fail "no complete summary without overflow: '$summary'" ;;
esac
for m in $methods; do
    point=${m%=*} expected=${m##*=}
    got=$(grep -cF "{\"tracePoint\":\"$point\",\"kind\":\"method\"" events.json)
    [ "$got" -eq "$expected" ] || fail "$got events on $point, expected $expected"
    # The summary counts events: with exits recorded, an entry and an exit per call.
    counted=$expected
    [ "$mode" = calls ] && counted=$((2 * expected))
    case $summary in
        *"\"$point\":$counted"[,}]*) ;;
        *) fail "the summary does not count $counted on $point" ;;
    esac
    echo "checked: $point: $got events (expected $expected)"
done
# The JDBC loop names the class its driver returns: every method event's subject is one.
if [ -n "${ps:-}" ]; then
    returned=$(sed -n 's/^statement class //p' plain.out)
    others=$(grep '"kind":"method"' events.json | grep -cvF "\"subjectClass\":\"$returned\"")
    [ -n "$returned" ] && [ "$others" -eq 0 ] || fail "$others method events on other subjects than $returned"
fi

if [ "$mode" = profiler ]; then
    listing=$(grep '^{"classes":' events.json)
    [ -n "$listing" ] || fail "no class listing"
    for c in $listed; do
        case $listing in *"\"$c\""*) echo "checked: the listing names $c" ;; *) fail "the class listing lacks $c" ;; esac
    done
fi

if [ "$mode" = calls ]; then
    # One line per call, with its arguments, how it ended and its duration; every call of the
    # workload returns normally (an insert's executeUpdate counts its one row).
    for m in $methods; do
        point=${m%=*}
        grep -F "{\"tracePoint\":\"$point\",\"kind\":\"method\"" events.json > calls.txt
        incomplete=$(grep -cv '"args":\[.*"durationNs":[0-9]' calls.txt)
        [ "$incomplete" -eq 0 ] || fail "$incomplete calls of $point without arguments or duration"
        threw=$(grep -c '"thrown":' calls.txt)
        [ "$threw" -eq 0 ] || fail "$threw calls of $point threw"
        case $point in
            *executeUpdate*) odd=$(grep -cv '"return":1,' calls.txt)
                             [ "$odd" -eq 0 ] || fail "$odd calls of $point did not return 1" ;;
            *\)V) odd=$(grep -c '"return":' calls.txt)
                   [ "$odd" -eq 0 ] || fail "$odd calls of the void $point with a return value" ;;
            *) odd=$(grep -cv '"return":' calls.txt)
               [ "$odd" -eq 0 ] || fail "$odd calls of $point without a return value" ;;
        esac
        echo "checked: $point: every call with arguments, a return value and a duration"
    done
fi

if [ "$mode" = fields ]; then
    # One line per field event: subject (or -), access, value (every event says where it happened).
    sited=$(grep -F "{\"tracePoint\":\"$field\",\"kind\":\"field\"" events.json | grep -c ',"site":{"class":"[^"]*","method":"[^"]*","file":')
    grep -F "{\"tracePoint\":\"$field\",\"kind\":\"field\"" events.json |
        sed -e 's/,"site":{[^}]*}}$/}/' -e 's/.*"identityHash":"\([0-9a-f]*\)".*"access":"\([a-z]*\)","value":\(.*\)}$/\1 \2 \3/' \
            -e 's/.*"subjectClass":null.*"access":"\([a-z]*\)","value":\(.*\)}$/- \1 \2/' > field.txt
    reads=$(grep -c ' read ' field.txt) assigns=$(grep -c ' assigned ' field.txt)
    echo "checked: $field: $reads reads, $assigns assignments"
    [ "$sited" -eq $((reads + assigns)) ] || fail "$sited of $((reads + assigns)) $field events say where they happened"
    # A field read sees the value last assigned to it (single-threaded workloads). An object
    # value is held weakly until it is delivered, so one collected before that arrives as null.
    stale=$(awk '$1 != "-" { if ($2 == "assigned") last[$1] = $3
                             else if (($1 in last) && last[$1] != $3 && $3 != "null") n++ }
                 END { print n + 0 }' field.txt)
    [ "$stale" -eq 0 ] || fail "$stale reads of $field differ from the value last assigned"
    case $program in
        h2|derby)
            # Each of the 2N statements gets its field assigned when prepared and cleared when
            # closed, and reads it on every execution, the same number of times for every
            # statement of the same SQL. The object assigned first may have been collected
            # before delivery (null then), but not for every statement.
            awk -v n=$((2 * n)) '
                $1 == "-" { print "an event on a collected statement"; bad++; next }
                !($1 in seen) { seen[$1] = 1; order[++subjects] = $1 }
                $2 == "assigned" { a[$1]++
                                    if (a[$1] == 1 && $3 != "null") objects++
                                    if (a[$1] == 2 && $3 != "null") { print $1 ": assignment 2 of " $3; bad++ } }
                $2 == "read" { r[$1]++ }
                END {
                    if (subjects != n) { print subjects " statements, expected " n; bad++ }
                    for (i = 1; i <= subjects; i++) {
                        s = order[i]
                        if (a[s] != 2) { print s ": " a[s] + 0 " assignments, expected 2"; bad++ }
                        if (r[s] < 1) { print s ": never read"; bad++ }
                        if (!(r[s] in kinds)) { kinds[r[s]] = 1; k++ }
                    }
                    if (k > 2) { print k " different read counts per statement, expected at most 2"; bad++ }
                    if (objects == 0) { print "no statement was delivered with its object"; bad++ }
                    exit (bad > 0) }' field.txt &&
                echo "checked: $((2 * n)) statements, each assigned twice (object, then null) and read" ||
                fail "the statements' $field events are not as prepared, executed and closed" ;;
        groovy)
            # Every println looks the script's binding up.
            [ "$reads" -ge $((n + 1)) ] || fail "$reads reads of $field, expected at least $((n + 1))"
            [ "$assigns" -ge 1 ] || fail "$field never assigned" ;;
        jython)
            # Each multiplication reads both operands and makes a new complex.
            [ "$reads" -ge "$n" ] || fail "$reads reads of $field, expected at least $n"
            [ "$assigns" -ge "$n" ] || fail "$assigns assignments of $field, expected at least $n" ;;
        clojure)
            # The class is armed before its initialiser runs, which makes the empty queue
            # (counted 0); cons reads the count of the queue it grows (0 .. N-1) and makes one
            # counted N; count reads N once.
            want_assigned=$(seq -s ' ' 0 "$n") want_read=$(seq -s ' ' 0 "$n")
            got_assigned=$(awk '$2 == "assigned" { printf "%s%s", sep, $3; sep = " " }' field.txt)
            got_read=$(awk '$2 == "read" { printf "%s%s", sep, $3; sep = " " }' field.txt)
            [ "$got_assigned" = "$want_assigned" ] || fail "$field assigned '$got_assigned', expected '$want_assigned'"
            [ "$got_read" = "$want_read" ] || fail "$field read '$got_read', expected '$want_read'" ;;
    esac
fi

if [ $failures -ne 0 ] && [ -n "${VEXO_REAL_KEEP:-}" ]; then
    mkdir -p "$VEXO_REAL_KEEP" && cp -r "$work" "$VEXO_REAL_KEEP/$program-$mode-$$" && echo "kept in $VEXO_REAL_KEEP/$program-$mode-$$"
fi
[ $failures -eq 0 ] && echo "$program ($mode): all checks passed"
[ $failures -eq 0 ]
