#!/usr/bin/env bash
# Runs the libFuzzer targets of a fuzz build (VEXO_FUZZ=ON) side by side, each for about SECONDS
# of processor time, on seeds from real inputs, and fails on any finding.
# Usage: scripts/run-fuzzers.sh BUILD_DIR [SECONDS]
#
# The fuzzers: the heap dump walker's and the class file rewriter's (tests/fuzz), and the
# class-file engine's (bytecode/fuzz), which reads the same class files as the rewriter's.
# Seeds: the committed ones (tests/fuzz/seeds), heap dumps the bridge writes of an embedded
# JVM's heap (heap_dump_seeds), and class files sampled from real programs' jars and the JDK's
# own modules, extracted into BUILD_DIR/fuzz/seeds. Each fuzzer's growing corpus stays in
# BUILD_DIR/fuzz/corpus between runs; findings are written to BUILD_DIR/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: scripts/run-fuzzers.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
work="$build/fuzz"
# Each fuzzer: its name, its program in the build, and the inputs it reads (the saved ones
# under tests/fuzz and the seeds extracted here share one name).
targets="heap_dump class_rewriter class_engine"
program_of() { case $1 in class_engine) echo "$build/bytecode/fuzz/fuzz_$1" ;; *) echo "$build/tests/fuzz/fuzz_$1" ;; esac; }
inputs_of() { case $1 in class_engine) echo class_rewriter ;; *) echo "$1" ;; esac; }
mkdir -p "$work/seeds/heap_dump" "$work/seeds/class_rewriter" "$work/findings"
for target in $targets; do
  mkdir -p "$work/corpus/$target"
  [ -x "$(program_of "$target")" ] || {
    echo "run-fuzzers: $(program_of "$target") is missing (configure with -DVEXO_FUZZ=ON)" >&2
    exit 1
  }
done

# Heap dumps of a real heap, cut into small slices.
"$build/tests/fuzz/heap_dump_seeds" "$work/seeds/heap_dump" 8 >/dev/null 2>&1 || {
  echo "run-fuzzers: heap_dump_seeds failed" >&2
  exit 1
}

# Every 40th class file of each jar (the first 50), and a few packages of the JDK's modules.
classes="$work/seeds/class_rewriter"
for jar in h2 derby groovy jython clojure; do
  file=/usr/share/java/$jar.jar
  [ -f "$file" ] || { echo "run-fuzzers: $file is missing, skipped" >&2; continue; }
  n=0
  while read -r member; do
    unzip -p "$file" "$member" > "$classes/$jar-$n.class"
    n=$((n + 1))
  done < <(unzip -Z1 "$file" | grep '\.class$' | awk 'NR % 40 == 1' | head -n 50)
done
rm -rf "$work/jdk-classes"
"$jdk/bin/jimage" extract --dir "$work/jdk-classes" \
  --include 'regex:/(java\.base/java/(util/concurrent|lang/invoke)|jdk\.compiler/com/sun/tools/javac/(comp|jvm))/[^/]*\.class' \
  "$jdk/lib/modules"
n=0
while read -r file; do
  cp "$file" "$classes/jdk-$n.class"
  n=$((n + 1))
done < <(find "$work/jdk-classes" -name '*.class' | sort | awk 'NR % 4 == 1')
echo "seeds: $(ls "$work/seeds/heap_dump" | wc -l) heap dumps, $(ls "$classes" | wc -l) class files"

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
# The fuzzers run side by side, each for as long as gives it SECONDS of a processor when they
# share the machine's: three on two processors run 1.5 times as long, together, as one alone.
count=$(echo $targets | wc -w)
cores=$(nproc)
[ "$cores" -lt "$count" ] || cores=$count
wall=$(( (seconds * count + cores - 1) / cores ))
echo "=== $count fuzzers side by side on $(nproc) processors, $wall s each"
for target in $targets; do
  inputs=$(inputs_of "$target")
  # -close_fd_mask=2: the agent's own messages on standard error are dropped; libFuzzer's and
  # the sanitizers' reports still come through.
  "$(program_of "$target")" -max_total_time="$wall" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -close_fd_mask=2 -print_final_stats=1 \
    -artifact_prefix="$work/findings/$target-" \
    "$work/corpus/$target" "$work/seeds/$inputs" "tests/fuzz/seeds/$inputs" \
    "tests/fuzz/regressions/$inputs" > "$work/$target.log" 2>&1 &
  eval "pid_$target=$!"
done
status=0
for target in $targets; do
  log="$work/$target.log"
  if eval "wait \$pid_$target"; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$target: $runs executions, no finding"
  else
    status=1
    tail -n 60 "$log"
    echo "fuzz_$target: FINDING (log $log, input in $work/findings)"
  fi
done
exit $status
