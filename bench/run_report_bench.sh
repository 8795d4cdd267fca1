#!/usr/bin/env bash
# The report page of a trace of 1,000,000 events: H2 under the JDBC loop of tests/real, its JDBC
# and command classes' methods with arguments and exits and its sessions' fields, up to the
# recording limit of a million. Prints the page's size and bytes per event, the trace-events
# file's size, what writing both added to the run, and the page in headless chromium: load to
# first view, and a zoom's redraw (bench/report_bench.mjs).
#   bench/run_report_bench.sh [BUILD_DIR]     (default: build; the real-program tests' jar must be built)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
loop=$build/tests/real/vexo-real.jar h2=/usr/share/java/h2.jar
[[ -f $loop && -f $h2 ]] || { echo "needs $loop (cmake --build $build --target vexo_real_jar) and $h2" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VEXO_BUILD=$build
points=(--method 'org.h2.command.**@args,exits' --method 'org.h2.jdbc.**@args,exits' --field 'org.h2.engine.SessionLocal.*'
  --limit 1000000 --buffer 256 --output /dev/null)
program=(-- -cp "$loop:$h2" vexoreal.JdbcLoop jdbc:h2:mem:bench 40000)

seconds() { local start=$SECONDS; "$@" > /dev/null; echo $((SECONDS - start)); }
ms() { local start; start=$(date +%s%N); "$@" > /dev/null; echo $((($(date +%s%N) - start) / 1000000)); }
plain=$(ms "$here/vexo-trace" "${points[@]}" "${program[@]}")
with=$(ms "$here/vexo-trace" "${points[@]}" --html "$work/report.html" --trace-events "$work/events.json" "${program[@]}")
events=$(grep -o '"kept":[0-9]*' "$work/report.html" | cut -d: -f2)
size=$(stat -c %s "$work/report.html")
echo "the run: $plain ms with the text output alone, $with ms with the page and the trace-events file too"
echo "page: $size bytes for $events events, $(awk -v s="$size" -v e="$events" 'BEGIN {printf "%.1f", s / e}') bytes an event"
echo "trace-events file: $(stat -c %s "$work/events.json") bytes"
node "$here/bench/report_bench.mjs" "$work/report.html" "${VEXO_BENCH_RUNS:-3}"
