#!/usr/bin/env bash
# A host built with the flags pkg-config gives for the installed library, then run with the
# library found through the file's libdir.
#   build_and_run.sh PREFIX WORK_DIR CC [extra compiler flags...]
set -euo pipefail
prefix=$1 work=$2 cc=$3
shift 3
fail() { echo "pkg_config: $*" >&2; exit 1; }

pc=$(find "$prefix" -name zeltabletcore.pc)
[[ -n $pc ]] || fail "zeltabletcore.pc not installed"
export PKG_CONFIG_PATH=${pc%/*} PKG_CONFIG_SYSROOT_DIR=
libdir=$(pkg-config --variable=libdir zeltabletcore)
# The file finds its prefix from where it lies, so an installed tree may be moved.
[[ $(realpath "$libdir") == $(realpath "$(dirname "$(find "$prefix" -name 'libZELTabletCore.so')")") ]] ||
  fail "libdir '$libdir' is not where the library was installed"

rm -rf "$work" && mkdir -p "$work"
read -ra cflags <<<"$(pkg-config --cflags zeltabletcore)"
[[ ${#cflags[@]} == 1 && ${cflags[0]} == -I* ]] ||
  fail "consumers get more than the include directory: ${cflags[*]}"
read -ra libs <<<"$(pkg-config --libs zeltabletcore)"
"$cc" "$@" "${cflags[@]}" -o "$work/model_host" "$(dirname "$0")/../model_host.c" "${libs[@]}"

# What the consumer loads directly is the library alone (and the C runtime).
needed=$(readelf -d "$work/model_host" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
grep -q '^libZELTabletCore\.so\.' <<<"$needed" || fail "the host does not load the library"
if grep -Eq 'libz\.|libcrypto|libusb|libturbojpeg|libgif' <<<"$needed"; then
  fail "the library's own dependencies reached the host's link line: $needed"
fi
LD_LIBRARY_PATH=$libdir "$work/model_host"

# The signature library through its own file.
read -ra libs <<<"$(pkg-config --libs zelsignature)"
"$cc" "$@" $(pkg-config --cflags zelsignature) -o "$work/signature_host" \
  "$(dirname "$0")/../signature_host.c" "${libs[@]}"
needed=$(readelf -d "$work/signature_host" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
grep -q '^libZELSignature\.so\.' <<<"$needed" || fail "the host does not load the signature library"
if grep -Eq 'libz\.|libcrypto|libusb|libZELTabletCore' <<<"$needed"; then
  fail "the signature host loads more than the signature library: $needed"
fi
LD_LIBRARY_PATH=$libdir "$work/signature_host"
