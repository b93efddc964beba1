#!/usr/bin/env bash
# Runs one test of a Windows test program under Wine against a virtual pad on a serial line:
# the pad is served on a pseudo-terminal by a Linux program, and the line is mapped to a COM
# port in the Wine prefix's dosdevices, and reached through links named in several scripts in a
# directory the test is told of (ZEL_SERIAL_LINE_DIR).
#   serial_under_wine.sh SERVER WINE PROGRAM COM_NUMBER GTEST_FILTER
set -euo pipefail
server=$1 wine=$2 program=$3 port=$4 filter=$5
prefix=${WINEPREFIX:-$HOME/.wine}
work=$(mktemp -d)
"$server" >"$work/line" &
server_pid=$!
cleanup() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  rm -f "$prefix/dosdevices/com$port"
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do
  [[ -s "$work/line" ]] && break
  sleep 0.1
done
line=$(head -1 "$work/line")
[[ -n "$line" ]] || { echo "the pad server gave no line" >&2; exit 1; }
ln -sfn "$line" "$prefix/dosdevices/com$port"
# The same line under names in several scripts, for hosts that name a port by its path.
for name in "café-ligne" "Γραμμή" "Линия" "串口" "line-😀"; do
  ln -sfn "$line" "$work/$name"
done
ZEL_SERIAL_COM_PORT=$port ZEL_SERIAL_LINE_DIR=$work "$wine" "$program" --gtest_filter="$filter"
