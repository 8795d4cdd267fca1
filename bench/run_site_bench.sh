#!/usr/bin/env bash
# What a field event's site costs, side by side in one run: the field bench (N assignments of a
# traced field, recorded and delivered) with the Java side's TraceFieldEvent as it is (delivery
# stores each event's m_Site) and with a TraceFieldEvent without m_Site (the same records, no
# site delivered), on both field roads; with VEXO_BASE_LIB, a library built without access
# sites, that library too (its sites pass no number, its records carry none).
#   bench/run_site_bench.sh [BUILD_DIR]     (VEXO_BENCH_HITS, VEXO_BENCH_REPEATS)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
hits=${VEXO_BENCH_HITS:-1000000}
repeats=${VEXO_BENCH_REPEATS:-9}
javac=${JAVA_HOME:+$JAVA_HOME/bin/}javac
base=${VEXO_BASE_LIB:+$(readlink -f "$VEXO_BASE_LIB")}

# The field event class of a Java side that has no m_Site, ahead of vexo.jar's.
plain=$(mktemp -d)
trap 'rm -rf "$plain"' EXIT
mkdir -p "$plain/src/com/vexo"
printf 'package com.vexo;\npublic class TraceFieldEvent extends TraceMethodEvent {\n    public boolean m_bAssigned;\n}\n' \
  > "$plain/src/com/vexo/TraceFieldEvent.java"
"$javac" -d "$plain/classes" -cp "$build/java/vexo.jar" "$plain/src/com/vexo/TraceFieldEvent.java"

result() { grep '^RESULT' | awk '{print $3}'; }
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# The best of the runs as well: on a machine other work shares, the fastest run is the one it disturbed least.
best() { tr ' ' '\n' | grep -v '^$' | sort -g | head -1; }
run() {  # LIBRARY OPTIONS CLASSPATH
  "$java" "-agentpath:$1$2" -cp "$3" vexobench.BenchMain field "$hits" 2>/dev/null | result
}

declare -A runs
for ((r = 1; r <= repeats; r++)); do
  for road in instrumented watches; do
    options=; [ $road = watches ] && options="=watches"
    runs[$road-site]+="$(run "$lib" "$options" "$cp") "
    runs[$road-nosite]+="$(run "$lib" "$options" "$plain/classes:$cp") "
    if [ -n "$base" ]; then runs[$road-base]+="$(run "$base" "$options" "$cp") "; fi
  done
done

echo "$repeats runs of $hits field hits each, recorded and delivered (ns/hit), interleaved"
for statistic in median best; do
  for road in instrumented watches; do
    site=$(echo "${runs[$road-site]}" | $statistic); nosite=$(echo "${runs[$road-nosite]}" | $statistic)
    printf '%-7s %-13s with m_Site %8s   without m_Site %8s   (%s)' "$statistic" "$road" "$site" "$nosite" \
      "$(awk -v a="$site" -v b="$nosite" 'BEGIN {printf "%.3fx", a / b}')"
    if [ -n "$base" ]; then
      old=$(echo "${runs[$road-base]}" | $statistic)
      printf '   library without sites %8s   (%s)' "$old" "$(awk -v a="$site" -v b="$old" 'BEGIN {printf "%.3fx", a / b}')"
    fi
    echo
  done
done
