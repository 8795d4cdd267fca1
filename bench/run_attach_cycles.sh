#!/usr/bin/env bash
# Attach cycles: a program with -Xmx64m that calls Counter.hit in a loop (1 ms rounds) is
# traced CYCLES times in a row (a method and a field, --duration 0.5 --limit 3000; or
# VEXO_CYCLE_POINTS); after each
# detach, its resident memory, metaspace in use and thread count.
#   bench/run_attach_cycles.sh [BUILD_DIR] [CYCLES]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_env.sh" "${1:-build}"
cycles=${2:-20}
# VEXO_CYCLE_POINTS: other trace points, as vexo-trace options
read -r -a points <<< "${VEXO_CYCLE_POINTS:---method att.Counter.hit --field att.Counter.last}"
export VEXO_BUILD=$build
work=$(mktemp -d)
trap 'touch "$work/stop"; sleep 0.3; rm -rf "$work"' EXIT
javac=${JAVA_HOME:+$JAVA_HOME/bin/}javac
jcmd=${JAVA_HOME:+$JAVA_HOME/bin/}jcmd
"$javac" -d "$work/classes" "$root/tests/integration/attach/att/Target.java"
"$java" -Xmx64m -XX:NativeMemoryTracking=summary -XX:+EnableDynamicAgentLoading -cp "$work/classes" att.Target "$work/stop" 1 > /dev/null &
target=$!
sleep 1
state() {
  local rss threads meta classes
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$target/status")
  threads=$(awk '/^Threads/ {print $2}' "/proc/$target/status")
  meta=$("$jcmd" "$target" GC.heap_info | sed -nE 's/.*Metaspace +used ([0-9]+)K.*/\1/p')
  # the Java heap's own pages, from the mapping its first address opens
  local start heap
  start=$("$jcmd" "$target" GC.heap_info | sed -nE 's/.*\[0x0*([0-9a-f]+),.*/\1/p' | head -1)
  heap=$(awk -v s="$start" '$1 ~ "^0*"s"-" {m = 1; next} m && /^Rss:/ {print $2; exit}' "/proc/$target/smaps")
  classes=$(${JAVA_HOME:+$JAVA_HOME/bin/}jstat -class "$target" | awk 'NR == 2 {print $1 - $3}')
  printf '%-8s %8d KB resident (%6s KB Java heap) %6s KB metaspace used %6d classes %4d threads\n' \
    "$1" "$rss" "${heap:-?}" "$meta" "$classes" "$threads"
}
state before
for ((c = 1; c <= cycles; c++)); do
  "$root/vexo-trace" --pid "$target" --duration 0.5 --limit 3000 "${points[@]}" > "$work/trace" 2>&1
  events=$(sed -nE 's/^--- vexo-trace summary: ([0-9]+) events$/\1/p' "$work/trace")
  state "cycle $c" | sed "s/\$/  ($events events)/"
  [ "$c" = 1 ] && "$jcmd" "$target" VM.native_memory baseline > /dev/null
done
# What grew between the first cycle's end and the last's, by the JVM's own accounting (the
# categories that changed by more than 64 KB).
echo "--- native memory, cycle 1 to cycle $cycles (committed)"
"$jcmd" "$target" VM.native_memory summary.diff | grep -E '^-|^ *\(' | \
  sed -nE 's/^-? *([A-Za-z ]+[a-z]) \(reserved=[0-9]+KB[^,]*, committed=([0-9]+)KB ([+-][0-9]+)KB\).*/\1: \2 KB (\3 KB)/p' | \
  awk -F'[(]' '{ split($2, d, " "); v = d[1] + 0; if (v > 64 || v < -64) print }'
echo "resident (VmRSS) includes the Java heap's pages as it grows towards -Xmx"
