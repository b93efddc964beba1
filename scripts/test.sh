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
passed=0
failed=0
run_build() {
  local name=$1; shift
  echo "=== $name build"
  cmake -S . -B "build/$name" -G Ninja "$@" >/dev/null
  cmake --build "build/$name" -j "$jobs"
  local log="build/$name/ctest-summary.log" status=0
  ctest --test-dir "build/$name" --output-on-failure -j "$jobs" --timeout 600 | tee "$log" ||
    status=$?
  # "N% tests passed, F tests failed out of T"
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [[ -n "$line" ]]; then
    local f t
    f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + t - f))
    failed=$((failed + f))
  fi
  return $status
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
echo "Builds tested: ${builds[*]}"
echo "tests: $passed passed, $failed failed"
