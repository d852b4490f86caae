#!/usr/bin/env bash
# Builds a library the Windows DLL links statically from Debian's source
# package (with Debian's patches applied) for one architecture, once, into
# build/deps/<lib>-<arch>.
# Usage: build-win-deps.sh <openjpeg|lcms2> <i686|x86_64> [prefix]
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
lib="${1:?library: openjpeg or lcms2}"
arch="${2:?architecture: i686 or x86_64}"
prefix="${3:-$repo/build/deps/$lib-$arch}"
toolchain="$repo/cmake/mingw-$arch.cmake"
triplet="$arch-w64-mingw32"

case "$lib" in
    openjpeg) package=openjpeg2; archive=libopenjp2.a ;;
    lcms2)    package=lcms2;     archive=liblcms2.a ;;
    *) echo "unknown library: $lib" >&2; exit 2 ;;
esac
case "$arch" in
    i686|x86_64) ;;
    *) echo "unknown architecture: $arch" >&2; exit 2 ;;
esac
[ -f "$toolchain" ] || { echo "no toolchain file $toolchain" >&2; exit 2; }
mkdir -p "$(dirname "$prefix")"

# Parallel configures of several build folders share this cache: the first
# one builds, the others wait on the lock and then find it present.
exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/lib/$archive" ] && [ -f "$prefix/.complete" ]; then
    exit 0
fi

start=$(date +%s)
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
# apt-get source needs a deb-src entry; add one for the Debian release we
# install binaries from, only if none is there yet. The entry is shared by
# every library and architecture, so its writing is serialised too.
(
    flock 8
    if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        # The security archive carries the patched releases under its own suite.
        $SUDO tee /etc/apt/sources.list.d/project-deb-src.sources >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
        $SUDO apt-get update -qq
    fi
) 8>"$(dirname "$prefix")/.deb-src.lock"
command -v dpkg-source >/dev/null || $SUDO apt-get install -y -qq dpkg-dev >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fetch_source() { (cd "$work" && apt-get source -qq "$package" >"$work/source.log" 2>&1); }
# A stale package list (entry added earlier, lists since replaced) needs one refresh.
fetch_source || { $SUDO apt-get update -qq && fetch_source; } || { cat "$work/source.log" >&2; exit 1; }
src="$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n1)"
[ -n "$src" ] || { echo "$package source not unpacked" >&2; exit 1; }
fetched=$(date +%s)

build_openjpeg() {
    cmake -S "$src" -B "$work/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
        -DBUILD_CODEC=OFF -DBUILD_TESTING=OFF -DBUILD_DOC=OFF \
        -DBUILD_JPIP=OFF -DBUILD_JAVA=OFF -DBUILD_MJ2=OFF -DBUILD_JPWL=OFF \
        -DBUILD_PKGCONFIG_FILES=OFF >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; exit 1; }
    cmake --build "$work/build" -j2 >"$work/build.log" 2>&1 || { tail -50 "$work/build.log" >&2; exit 1; }
    cmake --install "$work/build" >/dev/null
}

# LittleCMS builds with its own autotools scripts; only the library and its
# headers are wanted, not the utilities (which would need libjpeg/libtiff).
build_lcms2() {
    local flags="-O2"
    [ "$arch" = i686 ] && flags="$flags -msse2 -mfpmath=sse"
    (cd "$src" && ./configure --host="$triplet" --prefix="$prefix" \
        CC="$triplet-gcc-posix" AR="$triplet-gcc-ar-posix" RANLIB="$triplet-gcc-ranlib-posix" \
        CFLAGS="$flags" --enable-static --disable-shared \
        --without-jpeg --without-tiff --without-zlib) >"$work/configure.log" 2>&1 \
        || { cat "$work/configure.log" >&2; exit 1; }
    make -C "$src/src" -j2 install >"$work/build.log" 2>&1 || { tail -50 "$work/build.log" >&2; exit 1; }
    make -C "$src/include" install >>"$work/build.log" 2>&1 || { tail -50 "$work/build.log" >&2; exit 1; }
}

rm -rf "$prefix"
"build_$lib"
dpkg-parsechangelog -l "$src/debian/changelog" -S Version >"$prefix/.source-version"
touch "$prefix/.complete"
done_at=$(date +%s)
echo "$lib-$arch: fetched source in $((fetched - start)) s, built in $((done_at - fetched)) s -> $prefix"
