#!/usr/bin/env bash
# Builds and runs every test: the unit and JVM tests, the integration tests, the tracer's tests
# and the real programs (GCC; the JVM tests on JDK 17 and a later JDK), the unit tests and the
# rewriter sweep under AddressSanitizer + UndefinedBehaviorSanitizer with the fuzzers, the
# unit tests under ThreadSanitizer (Clang), and the 32-bit Windows cross-build with its export
# check.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
install_seconds=$SECONDS

jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
jobs=$(nproc)

# A later JDK the integration tests, the tracer's tests and the real programs also run on: the
# newest JDK 21 or later under /usr/lib/jvm.
later_jdk=""
later_major=0
for home in /usr/lib/jvm/*/; do
  home=${home%/}
  [ -x "$home/bin/java" ] && [ -f "$home/release" ] || continue
  major=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$home/release")
  if [ -n "$major" ] && [ "$major" -ge 21 ] && [ "$major" -gt "$later_major" ]; then
    later_jdk=$home later_major=$major
  fi
done
if [ -n "$later_jdk" ]; then
  echo "=== a later JDK for the JVM tests: $later_jdk (JDK $later_major)"
else
  echo "=== no JDK 21 or later under /usr/lib/jvm: the JDK 25 runs are skipped"
fi

# Each stage's time, printed at the end so that growth shows where it happens.
stage_times=()
stage() {
  local name=$1 start=$SECONDS; shift
  "$@"
  stage_times+=("$(printf '%6d s  %s' $((SECONDS - start)) "$name")")
}

configure_and_build() {
  local dir=$1; shift
  echo "=== build $dir"
  cmake -S . -B "$dir" -G Ninja -DVEXO_WERROR=ON -DVEXO_JDK_HOME="$jdk" "$@" > "$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; exit 1; }
  cmake --build "$dir" -j "$jobs"
}

run_tests() {
  echo "=== tests in $1"
  ctest --test-dir "$1" --output-on-failure -j "$jobs"
}

stage_times+=("$(printf '%6d s  %s' "$install_seconds" "install what is missing")")
stage "build (GCC)" configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXO_LATER_JDK_HOME="$later_jdk"
stage "tests (GCC)" run_tests build

stage "build (ASan+UBSan)" configure_and_build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVEXO_SANITIZE=address,undefined -DVEXO_BUILD_BENCH=OFF -DVEXO_FUZZ=ON
stage "tests (ASan+UBSan)" run_tests build-asan
echo "=== fuzzers in build-asan"
stage "fuzzers" scripts/run-fuzzers.sh build-asan 60

stage "build (TSan)" configure_and_build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVEXO_SANITIZE=thread -DVEXO_BUILD_BENCH=OFF
stage "tests (TSan)" run_tests build-tsan

stage "cross-build (win32)" configure_and_build build-win32 -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
echo "=== cross-build export check"
stage "export check (win32)" tests/check_exports.sh windows build-win32/vexo.dll
echo "=== time per stage"
printf '%s\n' "${stage_times[@]}"
printf '%6d s  all\n' "$SECONDS"
echo "all test runs passed"
