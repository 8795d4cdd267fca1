#!/usr/bin/env bash
# Memory at full rate: a program whose threads call a small method as fast as they can for
# SECONDS, untraced and traced with arguments and exits and no reachable limit, side by side;
# the peak resident memory of each (sampled every second, and the kernel's high-water mark),
# and what the tracer wrote and dropped. Then the small-heap case: a program that keeps 24 MB
# of a 64 MB heap and calls a method two million times, traced with @args,exits and the default
# limit, must end as it ends untraced.
#   bench/run_memory_bench.sh [BUILD_DIR] [SECONDS] [THREADS]
# VEXO_BUILD_BEFORE: another build to run the same traced cases with (e.g. an older one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_env.sh" "${1:-build}"
seconds=${2:-60}
threads=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
javac=${JAVA_HOME:+$JAVA_HOME/bin/}javac
"$javac" -d "$work/classes" "$root"/tests/integration/bounded/bounded/*.java

# Runs a command, samples the resident memory of the process it becomes; prints "peak_kb".
peak_of() {
  "$@" > "$work/out" 2> "$work/err" &
  local pid=$! peak=0 rss
  while kill -0 "$pid" 2> /dev/null; do
    rss=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status" 2> /dev/null || echo 0)
    [ "${rss:-0}" -gt "$peak" ] && peak=$rss
    sleep 1
  done
  wait "$pid" || echo "exit status $?" >> "$work/err"
  echo "$peak"
}
summary_of() {
  sed -nE 's/^--- vexo-trace summary: ([0-9]+) events?$/written \1/p; s/^dropped ([0-9,]+) events: (.*)$/dropped \1 (\2)/p' "$1" | tr '\n' ' '
}

echo "full rate, $threads threads, ${seconds} s, -Xmx256m (peak resident memory):"
untraced=$(peak_of "$java" -Xmx256m -cp "$work/classes" bounded.Threads "$threads" 100000 "$seconds")
printf '  %-34s %8d KB\n' untraced "$untraced"
for b in "$build" ${VEXO_BUILD_BEFORE:+"$VEXO_BUILD_BEFORE"}; do
  traced=$(VEXO_BUILD=$b peak_of "$root/vexo-trace" --output "$work/events" --limit 2147483647 \
    --method 'bounded.Threads.hit@args,exits' -- -Xmx256m -cp "$work/classes" bounded.Threads "$threads" 100000 "$seconds")
  printf '  %-34s %8d KB  (+%d KB) %s %s\n' "traced ($(basename "$(dirname "$b/x")"))" "$traced" $((traced - untraced)) \
    "$(summary_of "$work/events")" "$(grep -m1 -E 'Exception|Error' "$work/err" || true)"
done

echo "24 MB kept of -Xmx64m, two million calls traced with @args,exits:"
"$java" -Xmx64m -cp "$work/classes" bounded.Alloc > "$work/plain"
for b in "$build" ${VEXO_BUILD_BEFORE:+"$VEXO_BUILD_BEFORE"}; do
  status=0
  VEXO_BUILD=$b "$root/vexo-trace" --output "$work/events" --method 'bounded.Alloc.f@args,exits' \
    -- -Xmx64m -cp "$work/classes" bounded.Alloc > "$work/traced" 2> "$work/err" || status=$?
  same=$(cmp -s "$work/plain" "$work/traced" && echo "output unchanged" || echo "OUTPUT DIFFERS")
  printf '  %-34s exit %d, %s; %s %s\n' "$(basename "$(dirname "$b/x")")" "$status" "$same" "$(summary_of "$work/events")" \
    "$(grep -m1 -E 'OutOfMemoryError' "$work/err" "$work/traced" || true)"
done
