#!/usr/bin/env bash
# The in-VM session, side by side in one run: a program that defines and links 50,000 classes,
# untraced, with a session waiting for classes of another name, and with one whose pattern lets
# every class of the program through to its Java side (which arms nothing in them); then the time
# the session takes to arm patterns over Groovy's runtime at start, as its summary reports it.
#   bench/run_session_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
build=${1:-build}
classes=${VEXO_BENCH_CLASSES:-50000}
repeats=${VEXO_BENCH_REPEATS:-5}
jar=$build/java/vexo.jar

result() { grep '^RESULT' | awk '{print $3}'; }
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

declare -A runs
for ((r = 1; r <= repeats; r++)); do
  runs[plain]+="$("$java" -cp "$cp" vexobench.BenchMain load "$classes" | result) "
  runs[other]+="$("$java" -agentpath:"$lib"=method=other.Thing.run,jar="$jar" -cp "$cp" vexobench.BenchMain load "$classes" 2>/dev/null | result) "
  runs[every]+="$("$java" -agentpath:"$lib"=method=gen.*.absent,jar="$jar" -cp "$cp" vexobench.BenchMain load "$classes" 2>/dev/null | result) "
done
m() { echo "${runs[$1]}" | median; }
plain=$(m plain)
echo "medians of $repeats runs, $classes classes defined and linked; ns per class"
printf '%-58s %10.0f ns/class\n' "untraced" "$plain"
printf '%-58s %10.0f ns/class  (%.2fx)\n' "session waiting for other classes" "$(m other)" \
  "$(awk -v a="$(m other)" -v b="$plain" 'BEGIN {print a / b}')"
printf '%-58s %10.0f ns/class  (%.2fx)\n' "session offered every class (gen.*.absent)" "$(m every)" \
  "$(awk -v a="$(m every)" -v b="$plain" 'BEGIN {print a / b}')"

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
    done
    printf '  %-26s %s\n' "$pattern" "$line"
  done
fi
