#!/usr/bin/env bash
# Stacks on events, side by side in one run: calls of Account.move(J, Account)J, each through 20
# compiled frames of a compiled loop, traced for the entry alone and for the entry with its stack of 16 frames.
# For each: ns per call until every event was recorded and delivered, the CPU time the calling
# thread spent per call (what the traced program pays) and the consumer's CPU time per event
# (naming the frames); medians over VEXO_BENCH_REPEATS JVMs (5), each timing both kinds in turn
# VEXO_BENCH_ROUNDS times (3), as bench/run_call_bench.sh times its kinds.
# VEXO_BENCH_STACK_DEPTH asks for another depth.
#   bench/run_stack_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/bench_env.sh" "${1:-build}"
calls=${VEXO_BENCH_HITS:-1000000}
repeats=${VEXO_BENCH_REPEATS:-5}
rounds=${VEXO_BENCH_ROUNDS:-3}
depth=${VEXO_BENCH_STACK_DEPTH:-16}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

declare -A runs
kinds=(entry-deep stack-deep)
for ((r = 1; r <= repeats; r++)); do
  while read -r name value; do
    runs[$name]+="$value "
  done < <("$java" -Dvexo.warm="$calls" -Dvexo.stackDepth="$depth" -agentpath:"$lib" -cp "$cp" vexobench.BenchMain calls "$calls" "$rounds" \
             "${kinds[@]}" 2>/dev/null | awk '/^RESULT/ {print $2, $3}')
done
m() { echo "${runs[$1]}" | median; }
echo "medians of $repeats JVMs x $rounds rounds of $calls calls of move, 20 compiled frames deep"
printf '%-34s %22s %22s %24s\n' "" "recorded+delivered" "calling thread CPU" "consumer CPU per event"
for k in "${kinds[@]}"; do
  case $k in
    entry-deep) label="entry" ;;
    stack-deep) label="entry with a stack of $depth frames" ;;
  esac
  printf '%-34s' "$label"
  for x in call calling-cpu consumer-cpu; do printf ' %14.1f ns      ' "$(m "$x-$k")"; done
  echo
done
printf '%-34s' "the stack's part"
for x in call calling-cpu consumer-cpu; do
  printf ' %+9.1f ns (%.2fx)' "$(awk -v a="$(m "$x-stack-deep")" -v b="$(m "$x-entry-deep")" 'BEGIN {print a - b}')" \
    "$(awk -v a="$(m "$x-stack-deep")" -v b="$(m "$x-entry-deep")" 'BEGIN {print a / b}')"
done
echo
