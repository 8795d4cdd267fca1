#!/bin/sh
# The tracer inside the program, started by the agent's option string: the program runs as
# itself (initialisation order, main class), classes of any loader are armed as they load, an
# interface method traces its implementations, patterns, many trace points, the tracer never
# records its own work, start through JAVA_TOOL_OPTIONS, and a bad option string.
#   in_vm_session_test.sh VEXO_TRACE BUILD_DIR SOURCE_DIR [GROOVY_JAR]
set -u
tracer=$1 build=$2 sources=$3 groovy=${4:-}
export VEXO_BUILD=$build
lib=$build/libvexo.so
java=java javac=javac
if [ -n "${JAVA_HOME:-}" ]; then java=$JAVA_HOME/bin/java javac=$JAVA_HOME/bin/javac; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$work/out err=$work/err
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
has() { grep -qE -- "$1" "$2" || fail "no line matching /$1/ in $(basename "$2")"; }
count_of() { grep -E -- "^ +[0-9]+  $1\$" "$out" | awk '{ print $1 }'; }
count_is() {
    n=$(count_of "$1")
    [ "${n:-none}" = "$2" ] || fail "summary counts ${n:-no line} for /$1/, expected $2"
}
same_output() { cmp -s "$work/plain" "$1" || { fail "the program's output differs under $2"; diff "$work/plain" "$1" | head; }; }

"$javac" -d "$work/classes" "$sources"/sess/*.java "$sources"/sess/plugin/*.java || exit 2
cp=$work/classes
"$java" -cp "$cp" sess.Main 100 > "$work/plain" 2>&1 || fail "the untraced run fails"

echo "=== the program runs as itself; an interface method through its implementations"
"$tracer" --output "$work/events" --method 'sess.Shape+.area' --method 'sess.Shape.area' --method 'sess.Worker.work' \
    -- -cp "$cp" sess.Main 100 > "$work/traced" 2>&1 || fail "exit status $?"
cat "$work/traced" "$work/events"
same_output "$work/traced" "the tracer (initialisers, sun.java.command, the bottom frame)"
cp "$work/events" "$out"
count_is 'sess\.Square\.area\(\)D' 2
count_is 'sess\.Circle\.area\(\)D' 1
count_is 'sess\.Worker\.work\(\)V' 1
has '^not armed: sess\.Shape\.area\(\)D: an abstract method has no code to trace; name sess\.Shape\+\.area to trace its implementations$' "$out"

echo "=== arming loads no class the program does not load (trace points from a file)"
printf '# a field of a type never loaded\nfield sess.Worker.unused\n\nmethod sess.Worker.work\n' > "$work/points"
"$tracer" --points "$work/points" -- -Xlog:class+load -cp "$cp" sess.Main 100 > "$out" 2>&1 || fail "exit status $?"
grep -q 'sess\.Worker source' "$out" || fail "no class loading logged"
grep 'sess\.Unused' "$out" && fail "the field's type was loaded"
count_is 'sess\.Worker\.work\(\)V' 1

echo "=== a lambda's Runnable.run; one plugin class of two loaders, told apart"
"$tracer" --method 'java.lang.Runnable+.run' --method 'sess.plugin.Plugin.run' -- -cp "$cp" sess.Main 100 > "$out" 2>&1 \
    || fail "exit status $?"
cat "$out"
count_is 'sess\.Main\$\$Lambda[^ ]*\.run\(\)V' 3
count_is 'sess\.plugin\.Plugin\.run\(\)V' 1
count_is 'sess\.plugin\.Plugin\.run\(\)V\{2\}' 2

echo "=== Class.* and pkg.**"
"$tracer" --method 'sess.Square.*' --method 'sess.**' -- -cp "$cp" sess.Main 100 > "$out" 2>&1 || fail "exit status $?"
cat "$out"
count_is 'sess\.Square\.area\(\)D' 2
count_is 'sess\.Main\.main\(\[Ljava/lang/String;\)V' 1
count_is 'sess\.Circle\.area\(\)D' 1
count_is 'sess\.plugin\.Plugin\.run\(\)V\{2\}' 2
[ "$(grep -c '<init>' "$out")" -eq 0 ] || fail "a pattern armed constructors"
has '^armed: [0-9]+ trace points? in [0-9]+ class(es)? in [0-9]+ ms$' "$out"

echo "=== classes that load after the start are armed as they load, never rewritten again"
"$tracer" --method 'sess.**' -- -Xlog:redefine+class+load=info:file="$work/redefined" -cp "$cp" sess.Main 100 > "$out" 2>&1 \
    || fail "exit status $?"
count_is 'sess\.Square\.area\(\)D' 2
count_is 'sess\.plugin\.Plugin\.run\(\)V\{2\}' 2
grep 'redefined name=sess\.' "$work/redefined" && fail "classes of the program were rewritten after they loaded"

echo "=== the tracer does not trace itself"
# Which thread runs a class initialiser both the program and the tracer need depends on timing,
# so the program's count of StringBuilder.toString may differ between runs; what the tracer does
# during the sleep and at the end must add none: the pause that ends the program comes last.
for sleep in 100 1500; do
    "$tracer" --threads --method java.lang.StringBuilder.toString --method sess.Main.pause \
        -- -cp "$cp" sess.Main $sleep > "$work/sb$sleep" 2>&1 || fail "exit status $?"
    grep -A3 summary "$work/sb$sleep"
    last=$(grep -E '^(java\.lang\.StringBuilder|sess\.Main)\.' "$work/sb$sleep" | tail -1)
    [ "$last" = "sess.Main.pause(I)V  static  [main]" ] || { fail "an event after the program's last call: $last"; tail "$work/sb$sleep"; }
    [ "$(grep -cE '^java\.lang\.StringBuilder\.toString' "$work/sb$sleep")" -ge 1 ] || fail "no StringBuilder.toString"
done
[ "$(grep -E '^java\.lang\.StringBuilder' "$work/sb1500" | grep -vc '\[main\]$')" -eq 0 ] || fail "events on the tracer's threads"
grep -q overflow "$work/sb1500" && fail "the limit was reached"

echo "=== started through JAVA_TOOL_OPTIONS: events on standard error, standard output untouched"
JAVA_TOOL_OPTIONS="-agentpath:$lib=method=sess.Square.area" "$java" -cp "$cp" sess.Main 100 > "$work/tool.out" 2> "$err" \
    || fail "exit status $?"
cat "$err"
same_output "$work/tool.out" "JAVA_TOOL_OPTIONS"
cp "$err" "$out"
count_is 'sess\.Square\.area\(\)D' 2
[ "$(grep -c '^sess\.Square\.area()D  sess\.Square@' "$err")" -eq 2 ] || fail "no event lines on standard error"

echo "=== the agent loaded twice, by JAVA_TOOL_OPTIONS and by the tracer: one library, the last session, said"
JAVA_TOOL_OPTIONS="-agentpath:$lib=method=sess.Worker.work" "$tracer" --method sess.Square.area -- -cp "$cp" sess.Main 100 \
    > "$out" 2>&1 || fail "exit status $?"
cat "$out"
[ "$(grep -c '^vexo-trace: ' "$out")" -eq 1 ] || fail "not one line on the second load"
has "^vexo-trace: the agent library is loaded twice \(-agentpath more than once, one perhaps in JAVA_TOOL_OPTIONS\): .*so the trace points of 'method=sess\.Worker\.work' record nothing\$" "$out"
count_is 'sess\.Square\.area\(\)D' 2
grep -qE '^ *[0-9]*  sess\.Worker|^sess\.Worker' "$out" && fail "the first load's trace point shows up"

echo "=== a bad option string: one line, the program runs untraced"
"$java" "-agentpath:$lib=method=sess.Square.area,colour" -cp "$cp" sess.Main 100 > "$work/bad.out" 2> "$err" \
    || fail "exit status $?"
cat "$err"
same_output "$work/bad.out" "a bad option string"
[ "$(cat "$err")" = "vexo-trace: unknown agent option 'colour'" ] || fail "not one clear line on standard error"

echo "=== the limit is exact when the program ends while eight threads still hit"
for run in 1 2 3; do
    "$tracer" --output "$out" --limit 5000 --method sess.Hits.hit -- -cp "$cp" sess.Hits 5000 > /dev/null 2>&1 \
        || fail "exit status $?"
    grep -qx -- '--- vexo-trace summary: 5000 events' "$out" || { fail "run $run: not 5000 events"; grep summary "$out"; }
    [ "$(grep -c '^sess\.Hits\.hit' "$out")" = 5000 ] || fail "run $run: not 5000 event lines"
done

echo "=== 10,000 armed trace points"
mkdir -p "$work/many/many"
awk 'BEGIN { n = 10000
    print "package many;\npublic class Many {"
    for (i = 0; i < n; i++) printf "  static int m%d(int x) { return x + 1; }\n", i
    print "  public static void main(String[] a) { long s = 0;"
    for (k = 0; k < n / 1000; k++) printf "    s += part%d();\n", k
    print "    System.out.println(\"sum \" + s); }"
    for (k = 0; k < n / 1000; k++) { printf "  static long part%d() { long s = 0;\n", k
        for (i = k * 1000; i < (k + 1) * 1000; i++) printf "    s += m%d(1);\n", i
        print "    return s; }" }
    print "}" }' > "$work/many/many/Many.java"
"$javac" -d "$work/many" "$work/many/many/Many.java" || fail "Many.java does not compile"
"$tracer" --method 'many.Many.m*' -- -cp "$work/many" many.Many > "$out" 2>&1 || fail "exit status $?"
tail -3 "$out"
has '^sum 20000$' "$out"
has '^--- vexo-trace summary: 10001 events$' "$out"  # and main
[ "$(grep -cE '^ +1  many\.Many\.m[0-9]+\(I\)I$' "$out")" -eq 10000 ] || fail "not every one of the 10,000 hit once"

if [ -n "$groovy" ] && [ -f "$groovy" ]; then
    echo "=== a Groovy script's own method, compiled and loaded by Groovy's class loader"
    printf 'int fib(int n) { n < 2 ? n : fib(n - 1) + fib(n - 2) }\nprintln fib(10)\n' > "$work/fib.groovy"
    "$tracer" --method fib.fib -- -cp "$groovy" groovy.ui.GroovyMain "$work/fib.groovy" > "$out" 2>&1 || fail "exit status $?"
    tail -3 "$out"
    has '^55$' "$out"
    count_is 'fib\.fib\(I\)I' 177
fi

[ $failures -eq 0 ] && echo "in-VM session: all checks passed"
[ $failures -eq 0 ]
