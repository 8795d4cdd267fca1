#!/bin/sh
# Runs one program on both field roads and requires the same events from both.
#   same_on_both_roads.sh RUN_JAVA JAVA AGENT_LIBRARY CLASS_PATH MAIN_CLASS
set -u
run_java=$1 java=$2 lib=$3 cp=$4 main=$5
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for road in instrumented watches; do
    option=""
    [ "$road" = watches ] && option="=watches"
    if ! "$run_java" -- "$java" -Xcheck:jni "-agentpath:$lib$option" -cp "$cp" "$main" > "$dir/$road.out"; then
        cat "$dir/$road.out"
        echo "FAILED: the run on the $road road"
        exit 1
    fi
    grep '^EVENT' "$dir/$road.out" > "$dir/$road.events"
done
grep '^EVENTS' "$dir/instrumented.events"
if ! diff "$dir/instrumented.events" "$dir/watches.events"; then
    echo "FAILED: the roads' events differ (< instrumented, > watches)"
    exit 1
fi
[ "$(grep -c '^EVENT ' "$dir/instrumented.events")" -gt 0 ] || { echo "FAILED: no events"; exit 1; }
echo "PASSED: the same events on both field roads"
