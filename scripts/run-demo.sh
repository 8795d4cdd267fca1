#!/usr/bin/env bash
# The main job: installs what is missing, builds the agent, its Java classes and the demo
# program, then traces the demo with the command-line tracer (./vexo-trace with no arguments).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXO_WERROR=ON -DVEXO_JDK_HOME="$jdk" \
  > build.configure.log 2>&1 || { cat build.configure.log; exit 1; }
cmake --build build -j "$(nproc)" --target vexo vexo_jar vexo_demo_jar
echo "=== ./vexo-trace (the demo program, traced)"
JAVA_HOME=$jdk exec ./vexo-trace "$@"
