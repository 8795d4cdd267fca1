#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing (the Java
# programs at the end are the real programs the tests trace).
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev unzip
  openjdk-17-jdk-headless
  libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  libh2-java libderby-java groovy jython clojure
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
