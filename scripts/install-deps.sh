#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing (the Java
# programs at the end are the real programs the tests trace; chromium is the browser the report
# page and the trace-events file are tested in), then the browser tests' npm packages into
# tests/browser/node_modules (a driver for that chromium, and the speedscope viewer).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev unzip
  openjdk-17-jdk-headless
  libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  libh2-java libderby-java groovy jython clojure
  chromium
)
# Node.js and npm from Debian, unless another node is there already.
command -v npm > /dev/null || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The lock file pins every package; npm records what it installed in node_modules/.package-lock.json.
browser=tests/browser
if [ ! -f "$browser/node_modules/.package-lock.json" ] || [ "$browser/package-lock.json" -nt "$browser/node_modules/.package-lock.json" ]; then
  echo "installing the browser tests' npm packages into $browser/node_modules"
  (cd "$browser" && npm ci --no-audit --no-fund --loglevel=error)
fi
