#!/bin/bash
# Class handling that cannot hang: eight threads, each with a loader of its own, load, link and
# initialise classes whose static initialisers load more classes and start threads, under
# patterns that hand the session the JDK's classes, every class, and every Runnable. Each traced
# run must end within its time-out with the program's own output, and no class may be loaded or
# initialised on a thread while it hands a class over (-Xlog's class loads and initialisations
# beside the agent's marks of each handing over, option "handlings"), since the thread preparing
# a class may hold class initialisation locks another thread waits on.
#   class_storm_test.sh VEXO_BUILD SOURCE_DIR [RUNS] [LIMIT]
set -u
build=$1 source=$2 runs=${3:-1} limit=${4:-1000}
java=java javac=javac
if [ -n "${JAVA_HOME:-}" ]; then java=$JAVA_HOME/bin/java javac=$JAVA_HOME/bin/javac; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

"$javac" -d "$work/all" "$source"/storm/*.java || exit 2
mkdir -p "$work/app/storm" "$work/gen/storm"
cp "$work/all/storm/Storm"*.class "$work/app/storm/"
cp "$work/all/storm/G"*.class "$work/all/storm/Next"*.class "$work/gen/storm/"
"$java" -cp "$work/app" storm.Storm "$work/gen" > "$work/plain" || fail "the untraced run fails"

# Classes loaded or initialised on a thread between its marks, besides the VM's rewriting of
# classes that arming does (scratch classes and their verification, with the classes the
# verifier loads to check the new version's types: loaded, never initialised).
during() {
    awk '{ tid = substr($1, 2, index($1, "]") - 2) }
         /\]\[vexo\] handling/ { inside[tid] = 1; next }
         /\]\[vexo\] handled/ { inside[tid] = 0; next }
         /Start class verification for/ { verifying[tid] = 1; next }
         /End class verification for/ { verifying[tid] = 0; next }
         /__VM_RedefineClasses__/ { next }
         /\[class,load\]/ && verifying[tid] { next }
         /\[class,(load|init)\]/ { if (inside[tid]) print }' "$1"
}

for pattern in 'java.**' '**.*' 'java.lang.Runnable+.run'; do
    for ((run = 1; run <= runs; run++)); do
        start=$(date +%s%N)
        timeout 120 "$java" -Xlog:class+load,class+init:stdout:tid,tags \
            "-agentpath:$build/libvexo.so=method=$pattern,limit=$limit,handlings,output=$work/events" \
            -cp "$work/app" storm.Storm "$work/gen" > "$work/out" 2> "$work/err"
        status=$?
        ms=$((($(date +%s%N) - start) / 1000000))
        handed=$(grep -c '\]\[vexo\] handling' "$work/out")
        printf '%-26s run %2d: exit %d, %4d classes handed over, %6d ms\n' "$pattern" "$run" "$status" "$handed" "$ms"
        [ $status -eq 124 ] && fail "$pattern run $run: no end within 120 s"
        [ $status -eq 0 ] || { fail "$pattern run $run: exit status $status"; head -5 "$work/err"; }
        grep -v '^\[' "$work/out" | cmp -s - "$work/plain" || fail "$pattern run $run: the program's output differs"
        [ "$handed" -gt 0 ] || fail "$pattern run $run: no class was handed over"
        grep -q '^--- vexo-trace summary' "$work/events" || fail "$pattern run $run: no summary"
        during "$work/out" > "$work/during"
        [ -s "$work/during" ] && { fail "$pattern run $run: classes loaded while a class was handed over"; head "$work/during"; }
    done
done
[ $failures -eq 0 ] && echo "class storm: all checks passed"
[ $failures -eq 0 ]
