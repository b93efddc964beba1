#!/usr/bin/env bash
# Builds and runs every test: a release build, an AddressSanitizer + UndefinedBehaviorSanitizer
# build (which also builds the libFuzzer targets) and a ThreadSanitizer build. Each build runs
# the unit tests, the virtual-pad tests and the fuzz replays. Installs what it needs first.
#   scripts/test.sh            everything
#   scripts/test.sh release    one build only (release, asan or tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=$(nproc)
run_build() {
  local name=$1; shift
  echo "=== $name build"
  cmake -S . -B "build/$name" -G Ninja "$@" >/dev/null
  cmake --build "build/$name" -j "$jobs"
  ctest --test-dir "build/$name" --output-on-failure -j "$jobs" --timeout 600
}

builds=("${@:-release asan tsan}")
for build in ${builds[*]}; do
  case "$build" in
    release) run_build release -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    asan) run_build asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
            -DCMAKE_CXX_COMPILER=clang++ -DZEL_SANITIZE=address,undefined \
            -DZEL_BUILD_FUZZERS=ON -DZEL_BUILD_BENCH=OFF ;;
    tsan) run_build tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
            -DCMAKE_CXX_COMPILER=clang++ -DZEL_SANITIZE=thread -DZEL_BUILD_BENCH=OFF ;;
    *) echo "unknown build '$build' (release, asan, tsan)" >&2; exit 2 ;;
  esac
done
echo "All test builds passed: ${builds[*]}"
