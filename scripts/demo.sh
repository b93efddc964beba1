#!/usr/bin/env bash
# The demo: installs what it needs, builds the release configuration of the zeltablet program
# and runs `zeltablet demo` in out/demo. With no pad attached it uses a virtual colour pad
# (model 0xA3): the prompt picture goes up, a scripted signature is signed on the pad and
# saved as SVG, PNG, CSV, signature_pad JSON and an ISO/IEC 19794-7 record, together with a PNG
# of what the pad's screen shows.
#   scripts/demo.sh                 the demo
#   scripts/demo.sh --simulate      always on the virtual pad, even with a pad attached
#   scripts/demo.sh OPTIONS...      any other zeltablet option (see zeltablet --help)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target zeltablet
program=$PWD/build/release/tools/zeltablet/zeltablet
mkdir -p out/demo
cd out/demo
"$program" demo --output signature "$@"
echo
echo "Written to $PWD:"
ls -l signature.svg signature.png signature.csv signature.json signature.iso signature-screen.png \
  2>/dev/null || true
