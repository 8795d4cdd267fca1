#!/bin/sh
# The commands the README and docs/*.md show, run against the demo so the pages cannot drift from
# the code: each line of a ```sh block, and each "$ " line of a plain ``` block, that starts with
# ./vexo-trace or java -agentpath. Each must exit 0 and print no "vexo-trace: " refusal.
#   docs_commands_test.sh VEXO_TRACE BUILD_DIR SOURCE_DIR
set -u
tracer=$1
build=$2
src=$3
export VEXO_BUILD=$build
java=java
[ -n "${JAVA_HOME:-}" ] && java=$JAVA_HOME/bin/java
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Commands that need what this machine lacks: a running process, a placeholder, the usage's
# metavariables, jars of programs not bundled.
skip_patterns='--pid|PID|\[OPTIONS\]|MAINCLASS|/path/|app\.jar|org\.h2'

commands=$work/commands
for page in "$src"/README.md "$src"/docs/*.md; do
    awk -v page="${page#"$src"/}" '
        /^```/ { if (fence == "") { fence = ($0 == "```sh") ? "sh" : "plain" } else { fence = "" }; next }
        fence == "sh" { line = $0 }
        fence == "plain" { if (substr($0, 1, 2) != "$ ") next; line = substr($0, 3) }
        fence != "" && (line ~ /^\.\/vexo-trace/ || line ~ /^java -agentpath/) { print page "\t" line }
        { line = "" }' "$page"
done > "$commands"

ran=0
skipped=0
failures=0
tab=$(printf '\t')
while IFS="$tab" read -r page command; do
    if printf '%s\n' "$command" | grep -qE -- "$skip_patterns"; then
        echo "skipped ($page): $command"
        skipped=$((skipped + 1))
        continue
    fi
    run=$(printf '%s\n' "$command" | sed -e "s#^\./vexo-trace#$tracer#" -e "s#^java #$java #" \
        -e "s#\([ =:]\)build/#\1$build/#g")
    echo "=== ($page) $command"
    (cd "$work" && eval "$run") > "$work/out" 2>&1 < /dev/null
    status=$?
    ran=$((ran + 1))
    if [ $status -ne 0 ]; then
        cat "$work/out"
        echo "FAILED: exit status $status"
        failures=$((failures + 1))
    elif grep '^vexo-trace: ' "$work/out" | grep -qv '^vexo-trace: profiler mode'; then
        cat "$work/out"
        echo "FAILED: a vexo-trace refusal"
        failures=$((failures + 1))
    fi
done < "$commands"

echo "ran $ran commands, skipped $skipped"
if [ $ran -lt 5 ]; then
    echo "FAILED: fewer than 5 commands ran (did the pages' blocks change shape?)"
    failures=$((failures + 1))
fi
[ $failures -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "all passed"
