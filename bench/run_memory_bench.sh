#!/usr/bin/env bash
# Memory at full rate: a program whose threads call a small method as fast as they can for
# SECONDS, untraced and traced with arguments and exits and no reachable limit, side by side;
# the peak resident memory of each (sampled every second, and the kernel's high-water mark),
# and what the tracer wrote and dropped. Then the small-heap case: a program that keeps 24 MB
# of a 64 MB heap and calls a method two million times, traced with @args,exits and the default
# limit, must end as it ends untraced.
#   bench/run_memory_bench.sh [BUILD_DIR] [SECONDS] [THREADS] [HEAP_MB]
# VEXO_BUILD_BEFORE: another build to run the same traced cases with (e.g. an older one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_env.sh" "${1:-build}"
seconds=${2:-60}
threads=${3:-2}
heap_mb=${4:-256}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
javac=${JAVA_HOME:+$JAVA_HOME/bin/}javac
"$javac" -d "$work/classes" "$root"/tests/integration/bounded/bounded/*.java

# Runs a command, samples the resident memory of the process it becomes every second; prints
# "peak_kb heap_kb outside_kb": the peak, the Java heap's own pages at their peak (a heap below
# 4 GB ends there with compressed references), and the peak of the rest (the JVM's and the
# agent's native memory).
peak_of() {
  "$@" > "$work/out" 2> "$work/err" &
  local pid=$! peak=0 heap=0 outside=0 rss h
  while kill -0 "$pid" 2> /dev/null; do
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status" 2> /dev/null || echo 0)
    h=$(heap_rss "$pid")
    [ "${rss:-0}" -gt "$peak" ] && peak=$rss
    [ "${h:-0}" -gt "$heap" ] && heap=$h
    [ $((${rss:-0} - ${h:-0})) -gt "$outside" ] && outside=$((${rss:-0} - ${h:-0}))
    sleep 1
  done
  wait "$pid" || echo "exit status $?" >> "$work/err"
  echo "$peak $heap $outside"
}
heap_kb=$((heap_mb * 1024))
heap_rss() {
  local lo=$((0x100000000 - heap_kb * 1024)) sum=0 in=0 a b rest start
  while read -r a b rest; do
    case "$a" in
      *-*) start=$((16#${a%%-*})); if [ "$start" -ge "$lo" ] && [ "$start" -lt 4294967296 ]; then in=1; else in=0; fi ;;
      Rss:) [ $in = 1 ] && sum=$((sum + b)) ;;
    esac
  done < "/proc/$1/smaps" 2> /dev/null
  echo "$sum"
}
summary_of() {
  sed -nE 's/^--- vexo-trace summary: ([0-9]+) events?$/written \1/p; s/^dropped ([0-9,]+) events: (.*)$/dropped \1 (\2)/p' "$1" | tr '\n' ' '
}

echo "full rate, $threads threads, ${seconds} s, -Xmx${heap_mb}m (peak resident memory; Java heap pages; the rest):"
read -r u_peak u_heap u_out <<< "$(peak_of "$java" -Xmx${heap_mb}m -cp "$work/classes" bounded.Threads "$threads" 100000 "$seconds")"
printf '  %-22s %8d KB  heap %8d KB  rest %8d KB\n' untraced "$u_peak" "$u_heap" "$u_out"
for b in "$build" ${VEXO_BUILD_BEFORE:+"$VEXO_BUILD_BEFORE"}; do
  read -r t_peak t_heap t_out <<< "$(VEXO_BUILD=$b peak_of "$root/vexo-trace" --output "$work/events" --limit 2147483647 \
    --method 'bounded.Threads.hit@args,exits' -- -Xmx${heap_mb}m -Xlog:gc:file="$work/gc" -cp "$work/classes" bounded.Threads \
    "$threads" 100000 "$seconds")"
  live=$(sed -nE 's/.*Pause Young.* [0-9]+M->([0-9]+)M.*/\1/p' "$work/gc" | sort -n | tail -1)
  printf '  %-22s %8d KB  heap %8d KB  rest %8d KB  (+%d KB, rest +%d KB; heap after a collection at most %s MB) %s %s\n' \
    "traced $(basename "${b%/build}")" "$t_peak" "$t_heap" "$t_out" $((t_peak - u_peak)) $((t_out - u_out)) "${live:-?}" \
    "$(summary_of "$work/events")" "$(grep -m1 -E 'Exception|Error' "$work/err" || true)"
done

echo "24 MB kept of -Xmx64m, two million calls traced with @args,exits:"
"$java" -Xmx64m -cp "$work/classes" bounded.Alloc > "$work/plain"
for b in "$build" ${VEXO_BUILD_BEFORE:+"$VEXO_BUILD_BEFORE"}; do
  status=0
  VEXO_BUILD=$b "$root/vexo-trace" --output "$work/events" --method 'bounded.Alloc.f@args,exits' \
    -- -Xmx64m -cp "$work/classes" bounded.Alloc > "$work/traced" 2> "$work/err" || status=$?
  same=$(cmp -s "$work/plain" "$work/traced" && echo "output unchanged" || echo "OUTPUT DIFFERS")
  printf '  %-34s exit %d, %s; %s %s\n' "$(basename "${b%/build}")" "$status" "$same" "$(summary_of "$work/events")" \
    "$(grep -m1 -E 'OutOfMemoryError' "$work/err" "$work/traced" || true)"
done
