#!/usr/bin/env bash
# Builds and runs every test: a release build, the other build types a user may choose
# (configs), an AddressSanitizer + UndefinedBehaviorSanitizer build (which also builds the
# libFuzzer targets), a ThreadSanitizer build and the Windows build (cross-built with
# mingw-w64, run under Wine). Each Linux build runs the unit tests, the virtual-pad tests and
# the fuzz replays; the Windows build runs the host-side suite, the Windows backend's tests and
# the fuzz replays. Every build treats warnings as errors. Installs what it needs first.
#   scripts/test.sh            everything
#   scripts/test.sh release    one stage only (release, configs, asan, tsan or windows)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=$(nproc)
passed=0
failed=0
run_build() {
  local name=$1; shift
  echo "=== $name build"
  # Explicit returns: a caller that goes on after a failed stage (configs) turns off set -e.
  if ! cmake -S . -B "build/$name" -G Ninja -DZEL_WARNINGS_AS_ERRORS=ON "$@" >/dev/null ||
    ! cmake --build "build/$name" -j "$jobs"; then
    echo "=== $name build failed"
    failed=$((failed + 1))
    return 1
  fi
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

# The build types besides release (gcc RelWithDebInfo) that users build from a fresh clone:
# gcc's Release (-O3) and MinSizeRel (-Os) inline and warn differently, Debug keeps the
# library's debug checks, and clang sees its own warnings. Each one runs, then the stage
# fails if any of them did.
run_configs() {
  local status=0
  run_build gcc-release -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc \
    -DCMAKE_CXX_COMPILER=g++ || status=1
  run_build gcc-debug -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=gcc \
    -DCMAKE_CXX_COMPILER=g++ || status=1
  run_build gcc-minsizerel -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_C_COMPILER=gcc \
    -DCMAKE_CXX_COMPILER=g++ || status=1
  run_build clang-release -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ || status=1
  return $status
}

# The Windows build: dependencies (cached on the machine), a private headless Wine prefix,
# the Linux program that serves a virtual pad on a serial line, then the cross build with
# its tests run through Wine.
run_windows() {
  local started=$SECONDS deps
  deps=$(bash scripts/windows-deps.sh)
  local openssl gtest agg
  openssl=$(sed -n 's/^ZEL_WIN_OPENSSL=//p' <<<"$deps")
  gtest=$(sed -n 's/^ZEL_WIN_GTEST=//p' <<<"$deps")
  agg=$(sed -n 's/^ZEL_WIN_AGG=//p' <<<"$deps")
  echo "Windows dependencies ready after $((SECONDS - started)) s"

  export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export DISPLAY="" ZEL_WINE="$PWD/scripts/wine-run.sh"
  mkdir -p "$WINEPREFIX"
  # wineboot reports the 32-bit half that wine64 lacks as a failure; the prefix is what counts.
  # The server writes the registry out when it ends, hence the wait.
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver64 -w || true
  fi
  [[ -f "$WINEPREFIX/system.reg" ]] || { echo "no Wine prefix could be made" >&2; return 1; }
  # The session for the whole run, before tests start in parallel (see wine-run.sh).
  "$ZEL_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true

  local line_server=""
  if [[ -f build/release/build.ninja ]]; then
    cmake --build build/release --target serial_pad_line >/dev/null && line_server=build/release/tests/windows/serial_pad_line
  else
    cmake -S . -B build/windows-host -G Ninja -DZEL_BUILD_BENCH=OFF >/dev/null &&
      cmake --build build/windows-host -j "$jobs" --target serial_pad_line >/dev/null &&
      line_server=build/windows-host/tests/windows/serial_pad_line
  fi
  [[ -n "$line_server" ]] && line_server="$PWD/$line_server"

  local status=0
  run_build windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_BUILD_BENCH=OFF -DZEL_BUILD_TOOLS=OFF -DZEL_BUILD_BRIDGE=ON \
    "-DZEL_WIN_PREFIXES=$openssl;$gtest;$agg" "-DZEL_SERIAL_PAD_LINE=$line_server" || status=$?
  /usr/lib/wine/wineserver64 -k || true
  echo "Windows stage took $((SECONDS - started)) s"
  return $status
}

builds=("${@:-release asan tsan windows configs}")
for build in ${builds[*]}; do
  case "$build" in
    release) run_build release -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    configs) run_configs ;;
    asan) run_build asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
            -DCMAKE_CXX_COMPILER=clang++ -DZEL_SANITIZE=address,undefined \
            -DZEL_BUILD_FUZZERS=ON -DZEL_BUILD_BENCH=OFF ;;
    tsan) run_build tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
            -DCMAKE_CXX_COMPILER=clang++ -DZEL_SANITIZE=thread -DZEL_BUILD_BENCH=OFF ;;
    windows) run_windows ;;
    *) echo "unknown build '$build' (release, configs, asan, tsan, windows)" >&2; exit 2 ;;
  esac
done
echo "Builds tested: ${builds[*]}"
echo "tests: $passed passed, $failed failed"
