#!/usr/bin/env bash
# Makes docs/images/report.png, the README's picture of the demo's report page, again: builds
# the agent and the demo, traces the demo with --html and takes the picture in headless chromium
# (scripts/install-deps.sh installs chromium and the npm packages it needs).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VEXO_BUILD:-build}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j 2 --target vexo vexo_jar vexo_demo_jar > /dev/null
page=$PWD/$build/report-demo.html
VEXO_BUILD=$build ./vexo-trace --method 'demo.**@args,exits' --field demo.Account.balance --html "$page" \
  -- -cp "$build/examples/demo.jar" demo.Main > /dev/null
node tests/browser/readme_screenshot.mjs "$page" "$PWD/docs/images/report.png"
