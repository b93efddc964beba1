#!/usr/bin/env bash
# Builds the release configuration and runs every benchmark program under build/release/bench.
# Each prints its figures beside a baseline measured in the same run; the ratios are what to
# read (the machines are shared, absolute times are noisy).
#   scripts/bench.sh              every benchmark
#   scripts/bench.sh NAME...      only the named programs (e.g. pen_latency_bench)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_BUILD_BENCH=ON >/dev/null
cmake --build build/release -j "$(nproc)"
mapfile -t programs < <(find build/release/bench -type f -executable -name '*_bench' | sort)
for program in "${programs[@]}"; do
  name=$(basename "$program")
  if [[ $# -gt 0 ]] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  echo "=== $name"
  "$program"
done
