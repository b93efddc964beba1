#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what landed there: the library with its
# SONAME links, the headers, the CMake package, the pkg-config files, the udev rule and the
# bridge's systemd user unit; nothing
# of the test rig, the tests or their frameworks; and no private dependency of the library in
# what consumers link.
#   install_tree.sh BUILD_DIR PREFIX VERSION UDEV_VENDOR_ID
set -euo pipefail
build=$1 prefix=$2 version=$3 vendor=$4
fail() { echo "install_tree: $*" >&2; exit 1; }

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
cd "$prefix"

lib=$(dirname "$(find . -name "libZELTabletCore.so.$version" -type f)")
[[ $lib != . ]] || fail "libZELTabletCore.so.$version not installed"
lib=${lib#./}
major=${version%%.*}
[[ $(readlink "$lib/libZELTabletCore.so.$major") == "libZELTabletCore.so.$version" ]] ||
  fail "libZELTabletCore.so.$major does not point to libZELTabletCore.so.$version"
[[ $(readlink "$lib/libZELTabletCore.so") == "libZELTabletCore.so.$major" ]] ||
  fail "libZELTabletCore.so does not point to libZELTabletCore.so.$major"
soname=$(readelf -d "$lib/libZELTabletCore.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ $soname == "libZELTabletCore.so.$major" ]] || fail "SONAME is '$soname'"

# Every file must be one of ours; programs and shared data (bin/, share/) may join later.
expected_regex="^(include/zeltablet/ZEL(TabletCore|Signature|Pad)\.h|\
$lib/libZEL(TabletCore|Signature)\.so(\.$major(\.[0-9.]+)?)?|\
$lib/cmake/ZELTabletCore/ZELTabletCore(Config|ConfigVersion|Targets(-[a-z]+)?)\.cmake|\
$lib/cmake/ZELTabletCore/ZELSignatureTargets(-[a-z]+)?\.cmake|\
$lib/pkgconfig/(zeltabletcore|zelsignature)\.pc|lib/udev/rules\.d/70-zeltabletcore\.rules|\
lib/systemd/user/zeltablet-bridge\.service|(bin|share)/.*)$"
unexpected=$(find . \( -type f -o -type l \) -printf '%P\n' | grep -Ev "$expected_regex" || true)
[[ -z $unexpected ]] || fail "unexpected files installed: $unexpected"
for file in include/zeltablet/ZELTabletCore.h include/zeltablet/ZELPad.h $lib/cmake/ZELTabletCore/ZELTabletCoreConfig.cmake \
  $lib/cmake/ZELTabletCore/ZELTabletCoreConfigVersion.cmake \
  $lib/cmake/ZELTabletCore/ZELTabletCoreTargets.cmake $lib/pkgconfig/zeltabletcore.pc \
  lib/udev/rules.d/70-zeltabletcore.rules include/zeltablet/ZELSignature.h \
  $lib/cmake/ZELTabletCore/ZELSignatureTargets.cmake $lib/pkgconfig/zelsignature.pc; do
  [[ -f $file ]] || fail "$file not installed"
done

# The exported target carries the include directory and nothing the library links itself.
if grep -Eiq 'zlib|openssl|crypto|usb|turbojpeg|gif|threads|zeltablet_core|INTERFACE_LINK' \
  "$lib"/cmake/ZELTabletCore/ZEL*Targets*.cmake; then
  fail "the exported target leaks the library's own dependencies"
fi
grep -q 'INTERFACE_INCLUDE_DIRECTORIES "${_IMPORT_PREFIX}/include"' \
  "$lib/cmake/ZELTabletCore/ZELTabletCoreTargets.cmake" || fail "no include directory exported"
grep -qx 'Libs: -L${libdir} -lZELTabletCore' "$lib/pkgconfig/zeltabletcore.pc" ||
  fail "pkg-config Libs is not the library alone"
grep -qx 'Libs: -L${libdir} -lZELSignature' "$lib/pkgconfig/zelsignature.pc" ||
  fail "pkg-config Libs of the signature library is not the library alone"
[[ $(readlink "$lib/libZELSignature.so") == "libZELSignature.so.$major" ]] ||
  fail "libZELSignature.so does not point to libZELSignature.so.$major"

# An installed bridge serves the signing page from beside itself.
if [[ -f bin/zeltablet-bridge ]]; then
  for file in index.html signing.js signing.css zeltablet.js; do
    [[ -f share/zeltablet/web/$file ]] || fail "share/zeltablet/web/$file not installed"
  done
fi

rule=lib/udev/rules.d/70-zeltabletcore.rules
[[ $(grep -c "ATTRS\?{idVendor}==\"$vendor\".*TAG+=\"uaccess\"" "$rule") == 2 ]] ||
  fail "the udev rule does not tag the hidraw nodes and the USB device of vendor $vendor"
echo "installed into $prefix"
