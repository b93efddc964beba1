#!/usr/bin/env bash
# What the Windows build needs on a Debian machine: the mingw-w64 cross compiler, zlib for
# mingw, Wine and nlohmann-json (header-only: the build copies its headers) from Debian's
# packages, and two libraries Debian does not package for mingw,
# cross-built here from Debian's own sources and kept in a machine-wide cache so that later
# runs reuse them:
#   - OpenSSL libcrypto (static), from the source package of the libssl-dev version Debian
#     offers (or another version the source index lists when that one is missing);
#   - GoogleTest and GoogleMock (static), from /usr/src/googletest;
#   - Anti-Grain Geometry (static), the signature renderer, from the source package of the
#     libagg-dev version Debian offers (or another version the source index lists); failing
#     that, the headers of libagg-dev alone, which hold all the renderer uses.
# Prints the cache prefixes as shell assignments on its last lines:
#   ZEL_WIN_OPENSSL=...  ZEL_WIN_GTEST=...  ZEL_WIN_AGG=...
set -euo pipefail

cache_root=${ZEL_CACHE_DIR:-/var/cache/zeltablet}
triplet=x86_64-w64-mingw32

packages=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 dpkg-dev googletest cmake ninja-build
  nlohmann-json3-dev
  perl make)
missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q >&2
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi
$sudo mkdir -p "$cache_root"

# The compiler's version keys the caches: objects from another compiler are not reused.
compiler_version=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix | tr -c 'A-Za-z0-9.+~\n' '_')

# ---- OpenSSL libcrypto ----------------------------------------------------------------------

# A private apt configuration with the deb-src entries of the machine's Debian sources, so
# that fetching a source package changes nothing in the system's own apt state.
apt_private=""
private_apt() {
  if [[ -z "$apt_private" ]]; then
    apt_private=$(mktemp -d)
    mkdir -p "$apt_private/lists/partial" "$apt_private/cache/archives/partial"
    local found=0
    for file in /etc/apt/sources.list.d/*.sources; do
      [[ -f "$file" ]] || continue
      grep -q 'debian' "$file" || continue
      sed -E 's/^Types:.*/Types: deb-src/' "$file" >>"$apt_private/src.sources"
      echo >>"$apt_private/src.sources"
      found=1
    done
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [[ -f "$file" ]] || continue
      grep -E '^deb .*debian' "$file" | sed 's/^deb /deb-src /' >>"$apt_private/src.list" || true
    done
    [[ -s "$apt_private/src.list" ]] && found=1
    [[ $found -eq 1 ]] || { echo "no Debian sources configured" >&2; return 1; }
    touch "$apt_private/src.list" "$apt_private/src.sources"
    mkdir -p "$apt_private/parts"
    cp "$apt_private/src.sources" "$apt_private/parts/src.sources"
    [[ -s "$apt_private/src.list" ]] && cp "$apt_private/src.list" "$apt_private/parts/src.list"
  fi
  local tool=apt-get
  [[ $1 == showsrc ]] && tool=apt-cache
  $tool -q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt_private/parts" \
    -o Dir::State::Lists="$apt_private/lists" -o Dir::Cache="$apt_private/cache" \
    -o Debug::NoLocking=1 -o APT::Sandbox::User=root "$@"
}

# Versions to try: the candidate of libssl-dev first, then the others the source index lists.
openssl_versions() {
  apt-cache policy libssl-dev | awk '/Candidate:/ {print $2}'
  private_apt showsrc openssl 2>/dev/null | awk '/^Version:/ {print $2}'
}

build_openssl() {
  local version=$1 prefix=$2 work
  work=$(mktemp -d)
  (
    cd "$work"
    # Every step must succeed (errexit does not apply inside the caller's `if`).
    private_apt source --only-source -q "openssl=$version" </dev/null >&2 &&
      cd openssl-*/ &&
      # Static libcrypto only; the library links it into the DLL.
      ./Configure mingw64 no-tests no-shared --cross-compile-prefix=$triplet- \
        --prefix="$prefix" >&2 &&
      make -j2 build_generated >&2 &&
      make -j2 libcrypto.a >&2 &&
      rm -rf "$prefix.part" &&
      mkdir -p "$prefix.part/lib" "$prefix.part/include" &&
      cp libcrypto.a "$prefix.part/lib/" &&
      cp -r include/openssl "$prefix.part/include/" &&
      mv "$prefix.part" "$prefix"
  )
  local status=$?
  rm -rf "$work"
  return $status
}

openssl_prefix=""
for existing in "$cache_root"/openssl-*-"$compiler_version"; do
  [[ -f "$existing/lib/libcrypto.a" ]] && openssl_prefix=$existing && break
done
if [[ -z "$openssl_prefix" ]]; then
  private_apt update >&2
  mapfile -t versions < <(openssl_versions)
  tried=""
  for version in "${versions[@]}"; do
    [[ -n "$version" && " $tried " != *" $version "* ]] || continue
    tried="$tried $version"
    prefix="$cache_root/openssl-$(tr -c 'A-Za-z0-9.+~\n' '_' <<<"$version")-$compiler_version"
    echo "Building OpenSSL $version for $triplet" >&2
    if build_openssl "$version" "$prefix"; then
      openssl_prefix=$prefix
      break
    fi
    echo "OpenSSL $version could not be had; trying the next listed version" >&2
  done
  [[ -n "$openssl_prefix" ]] || { echo "no OpenSSL source could be built" >&2; exit 1; }
fi

# ---- Anti-Grain Geometry --------------------------------------------------------------------

agg_versions() {
  apt-cache policy libagg-dev | awk '/Candidate:/ && $2 != "(none)" {print $2}'
  private_apt showsrc agg 2>/dev/null | awk '/^Version:/ {print $2}'
}

# The library's portable part: src/*.cpp (not the GUI controls or platform windows), with the
# headers under include/agg2 as Debian installs them.
build_agg() {
  local version=$1 prefix=$2 work
  work=$(mktemp -d)
  (
    cd "$work" &&
      private_apt source --only-source -q "agg=$version" </dev/null >&2 &&
      cd agg-*/ &&
      mkdir objects &&
      for source in src/*.cpp; do
        $triplet-g++-posix -O2 -Iinclude -c "$source" -o "objects/$(basename "$source" .cpp).o" >&2 ||
          exit 1
      done &&
      rm -rf "$prefix.part" &&
      mkdir -p "$prefix.part/lib" "$prefix.part/include/agg2" &&
      $triplet-gcc-ar-posix rcs "$prefix.part/lib/libagg.a" objects/*.o &&
      cp include/*.h "$prefix.part/include/agg2/" &&
      { cp debian/copyright "$prefix.part/" || true; } &&
      mv "$prefix.part" "$prefix"
  )
  local status=$?
  rm -rf "$work"
  return $status
}

agg_prefix=""
for existing in "$cache_root"/agg-*-"$compiler_version"; do
  [[ -f "$existing/include/agg2/agg_basics.h" ]] && agg_prefix=$existing && break
done
if [[ -z "$agg_prefix" ]]; then
  private_apt update >&2
  mapfile -t versions < <(agg_versions)
  tried=""
  for version in "${versions[@]}"; do
    [[ -n "$version" && " $tried " != *" $version "* ]] || continue
    tried="$tried $version"
    prefix="$cache_root/agg-$(tr -c 'A-Za-z0-9.+~\n' '_' <<<"$version")-$compiler_version"
    echo "Building Anti-Grain Geometry $version for $triplet" >&2
    if build_agg "$version" "$prefix"; then
      agg_prefix=$prefix
      break
    fi
    echo "Anti-Grain Geometry $version could not be had; trying the next listed version" >&2
  done
  # The renderer uses only AGG's class templates, which live in its headers: where no source
  # package can be fetched, the headers of Debian's libagg-dev serve the cross build alone.
  if [[ -z "$agg_prefix" ]]; then
    version=$(apt-cache policy libagg-dev | awk '/Candidate:/ && $2 != "(none)" {print $2}')
    prefix="$cache_root/agg-headers-$(tr -c 'A-Za-z0-9.+~\n' '_' <<<"$version")-$compiler_version"
    echo "Taking the Anti-Grain Geometry $version headers from libagg-dev" >&2
    work=$(mktemp -d)
    if (cd "$work" && apt-get download -q "libagg-dev=$version" >&2 &&
      dpkg-deb -x libagg-dev_*.deb root && rm -rf "$prefix.part" &&
      mkdir -p "$prefix.part/include" && cp -r root/usr/include/agg2 "$prefix.part/include/" &&
      cp root/usr/share/doc/libagg-dev/copyright "$prefix.part/" && mv "$prefix.part" "$prefix"); then
      agg_prefix=$prefix
    fi
    rm -rf "$work"
  fi
  [[ -n "$agg_prefix" ]] || { echo "no Anti-Grain Geometry could be had" >&2; exit 1; }
fi
[[ -n "$apt_private" ]] && rm -rf "$apt_private"

# ---- GoogleTest -----------------------------------------------------------------------------

gtest_version=$(dpkg-query -W -f='${Version}' googletest | tr -c 'A-Za-z0-9.+~\n' '_')
gtest_prefix="$cache_root/googletest-$gtest_version-$compiler_version"
if [[ ! -f "$gtest_prefix/lib/libgtest.a" ]]; then
  echo "Building GoogleTest $gtest_version for $triplet" >&2
  work=$(mktemp -d)
  toolchain="$(cd "$(dirname "$0")/.." && pwd)/cmake/mingw-w64-x86_64.cmake"
  cmake -S /usr/src/googletest -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest_prefix.part" \
    -Dgtest_disable_pthreads=OFF >&2
  cmake --build "$work" -j2 >&2
  rm -rf "$gtest_prefix.part"
  cmake --install "$work" >&2
  mv "$gtest_prefix.part" "$gtest_prefix"
  rm -rf "$work"
fi

echo "ZEL_WIN_OPENSSL=$openssl_prefix"
echo "ZEL_WIN_GTEST=$gtest_prefix"
echo "ZEL_WIN_AGG=$agg_prefix"
