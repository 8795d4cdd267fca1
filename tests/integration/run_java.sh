#!/bin/sh
# Runs one Java program and judges its output.
#   run_java.sh [--once TEXT]... [--never TEXT]... [--allow TEXT]... -- JAVA [ARGS...]
# Fails when the program exits non-zero, when its output (standard output and error together)
# holds a JNI warning, a fatal error or an uncaught exception, when a --never text appears, or
# when a --once text does not appear exactly once. --allow takes one of the built-in failure
# texts back (for a run where the VM itself is expected to print it).
set -u
allowed=""
once_file=$(mktemp)
never_file=$(mktemp)
out=$(mktemp)
trap 'rm -f "$once_file" "$never_file" "$out"' EXIT
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    case "$1" in
        --once) printf '%s\n' "$2" >> "$once_file"; shift 2 ;;
        --never) printf '%s\n' "$2" >> "$never_file"; shift 2 ;;
        --allow) allowed="$allowed|$2|"; shift 2 ;;
        *) echo "run_java.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
shift
"$@" > "$out" 2>&1
status=$?
cat "$out"
failed=0
if [ $status -ne 0 ]; then echo "FAILED: exit status $status"; failed=1; fi
for bad in 'WARNING' 'FATAL ERROR' 'Exception in thread' 'hs_err_pid' 'AssertionError'; do
    case "$allowed" in *"|$bad|"*) continue ;; esac
    if grep -q "$bad" "$out"; then echo "FAILED: the output holds '$bad'"; failed=1; fi
done
while IFS= read -r text; do
    if grep -qF -- "$text" "$out"; then echo "FAILED: the output holds '$text'"; failed=1; fi
done < "$never_file"
while IFS= read -r text; do
    n=$(grep -cF -- "$text" "$out")
    if [ "$n" -ne 1 ]; then echo "FAILED: '$text' appears $n times, not once"; failed=1; fi
done < "$once_file"
exit $failed
