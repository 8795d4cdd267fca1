#!/usr/bin/env bash
# The class storm (tests/integration/class_storm_test.sh) RUNS times per pattern on JDK 17 and
# on the newest JDK 21 or later under /usr/lib/jvm: every run bounded by a time-out that fails
# it, the program's output unchanged, nothing loaded while a class is handed over.
#   scripts/stress-class-handling.sh [BUILD_DIR] [RUNS] [LIMIT]
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build} runs=${2:-30} limit=${3:-1000}
status=0
for home in /usr/lib/jvm/java-17-openjdk-amd64 $(ls -d /usr/lib/jvm/*/ | sort -V | tail -1); do
  home=${home%/}
  echo "=== $home"
  JAVA_HOME=$home tests/integration/class_storm_test.sh "$build" tests/integration/storm "$runs" "$limit" \
    > "$build/stress-$(basename "$home").log" 2>&1 || status=1
  awk '/ run / { n[$1]++; if ($5 != "0,") bad[$1]++; split($0, a, ", "); ms = a[3] + 0; t[$1] += ms; if (ms > max[$1]) max[$1] = ms }
       END { for (p in n) printf "%-26s %3d runs, %d failed, mean %d ms, longest %d ms\n", p, n[p], bad[p], t[p] / n[p], max[p] }' \
    "$build/stress-$(basename "$home").log"
  grep -E '^FAILED|all checks passed' "$build/stress-$(basename "$home").log" | sort | uniq -c
done
exit $status
