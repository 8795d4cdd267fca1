#!/usr/bin/env bash
# The in-VM session, side by side in one run: a program that defines and links 50,000 classes,
# untraced, with a session waiting for classes of another name, and with one whose pattern lets
# every class of the program through to its Java side (which arms nothing in them); then the time
# the session takes to arm patterns over Groovy's runtime at start, as its summary reports it.
# Arming as classes load: the same program's classes with four methods each, untraced and with
# every method armed by a pattern (gen.*.*); the class storm of the tests (eight threads loading
# JDK classes and classes of loaders of their own) untraced and under java.**, wall clock. With
# VEXO_BUILD_BEFORE=another build tree, its library and tracer run beside in each repeat.
#   bench/run_session_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
build=${1:-build}
classes=${VEXO_BENCH_CLASSES:-50000}
repeats=${VEXO_BENCH_REPEATS:-5}
jar=$build/java/vexo.jar

result() { grep '^RESULT' | awk '{print $3}'; }
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

armed=${VEXO_BENCH_ARMED_CLASSES:-4000}  # 4 trace points each: below the session's 20,000
before=${VEXO_BUILD_BEFORE:+$(readlink -f "$VEXO_BUILD_BEFORE")}
here=$(cd "$(dirname "$0")/.." && pwd)
storm=$(mktemp -d)
trap 'rm -rf "$storm"' EXIT
"$javac" -d "$storm/all" "$here"/tests/integration/storm/storm/*.java
mkdir -p "$storm/app/storm" "$storm/gen/storm"
cp "$storm/all/storm/Storm"*.class "$storm/app/storm/"
cp "$storm/all/storm/G"*.class "$storm/all/storm/Next"*.class "$storm/gen/storm/"
ms() { local s; s=$(date +%s%N); "$@" > /dev/null 2>&1; echo $((($(date +%s%N) - s) / 1000000)); }
stormed() { VEXO_BUILD=$1 ms "$here/vexo-trace" --limit 1000 --method 'java.**' -- -cp "$storm/app" storm.Storm "$storm/gen"; }
armAll() { "$java" -agentpath:"$1/libvexo.so"=method=gen.*.*,jar="$1/java/vexo.jar" -cp "$cp" vexobench.BenchMain load-methods "$armed" 2>/dev/null | result; }

declare -A runs
for ((r = 1; r <= repeats; r++)); do
  runs[plain]+="$("$java" -cp "$cp" vexobench.BenchMain load "$classes" | result) "
  runs[other]+="$("$java" -agentpath:"$lib"=method=other.Thing.run,jar="$jar" -cp "$cp" vexobench.BenchMain load "$classes" 2>/dev/null | result) "
  runs[every]+="$("$java" -agentpath:"$lib"=method=gen.*.absent,jar="$jar" -cp "$cp" vexobench.BenchMain load "$classes" 2>/dev/null | result) "
  runs[methods]+="$("$java" -cp "$cp" vexobench.BenchMain load-methods "$armed" | result) "
  runs[armed]+="$(armAll "$(readlink -f "$build")") "
  [[ -n $before ]] && runs[armedBefore]+="$(armAll "$before") "
  runs[storm]+="$(ms "$java" -cp "$storm/app" storm.Storm "$storm/gen") "
  runs[stormed]+="$(stormed "$(readlink -f "$build")") "
  [[ -n $before ]] && runs[stormedBefore]+="$(stormed "$before") "
done
m() { echo "${runs[$1]}" | median; }
plain=$(m plain)
echo "medians of $repeats runs, $classes classes defined and linked; ns per class"
printf '%-58s %10.0f ns/class\n' "untraced" "$plain"
printf '%-58s %10.0f ns/class  (%.2fx)\n' "session waiting for other classes" "$(m other)" \
  "$(awk -v a="$(m other)" -v b="$plain" 'BEGIN {print a / b}')"
printf '%-58s %10.0f ns/class  (%.2fx)\n' "session offered every class (gen.*.absent)" "$(m every)" \
  "$(awk -v a="$(m every)" -v b="$plain" 'BEGIN {print a / b}')"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {print a / b}'; }
methods=$(m methods)
echo "$armed classes of four methods each, defined and linked; ns per class"
printf '%-58s %10.0f ns/class\n' "untraced" "$methods"
printf '%-58s %10.0f ns/class  (%.2fx; arming %.0f ns a class)\n' "every method armed as its class loads (gen.*.*)" \
  "$(m armed)" "$(ratio "$(m armed)" "$methods")" "$(awk -v a="$(m armed)" -v b="$methods" 'BEGIN {print a - b}')"
if [[ -n $before ]]; then
  printf '%-58s %10.0f ns/class  (%.2fx; arming %.0f ns a class)\n' "the same, $before" "$(m armedBefore)" \
    "$(ratio "$(m armedBefore)" "$methods")" "$(awk -v a="$(m armedBefore)" -v b="$methods" 'BEGIN {print a - b}')"
fi
echo "the class storm (eight threads, JDK classes and loaders of their own), whole run, ms"
printf '%-58s %10.0f ms\n' "untraced" "$(m storm)"
printf '%-58s %10.0f ms  (%.2fx)\n' "vexo-trace --limit 1000 --method 'java.**'" "$(m stormed)" "$(ratio "$(m stormed)" "$(m storm)")"
[[ -n $before ]] && printf '%-58s %10.0f ms  (%.2fx)\n' "the same, $before" "$(m stormedBefore)" "$(ratio "$(m stormedBefore)" "$(m storm)")"

groovy=/usr/share/java/groovy-all.jar
if [[ -f $groovy ]]; then
  script=$(mktemp --suffix .groovy)
  trap 'rm -f "$script"' EXIT
  printf 'int fib(int n) { n < 2 ? n : fib(n - 1) + fib(n - 2) }\nprintln fib(10)\n' > "$script"
  echo "arming patterns over Groovy's runtime ($groovy), as the summary reports it (the last of $repeats runs):"
  export VEXO_BUILD=$build
  for pattern in 'groovy.lang.*.*' 'org.codehaus.groovy.**'; do
    for ((r = 1; r <= repeats; r++)); do
      line=$("$(dirname "$0")/../vexo-trace" --limit 1 --method "$pattern" -- -cp "$groovy" groovy.ui.GroovyMain "$script" | grep '^armed:')
      [[ -n $before ]] && lineBefore=$(VEXO_BUILD=$before "$(dirname "$0")/../vexo-trace" --limit 1 --method "$pattern" -- \
        -cp "$groovy" groovy.ui.GroovyMain "$script" | grep '^armed:')
    done
    printf '  %-26s %s\n' "$pattern" "$line"
    [[ -n $before ]] && printf '  %-26s %s (%s)\n' "" "$lineBefore" "$before"
  done
fi
