#!/usr/bin/env bash
# Builds OpenJPEG from Debian's source package (with Debian's patches applied)
# as a static i686 Windows library into build/deps/openjpeg-i686, once.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
prefix="${1:-$repo/build/deps/openjpeg-i686}"
toolchain="$repo/cmake/mingw-i686.cmake"
mkdir -p "$(dirname "$prefix")"

# Parallel configures of several build folders share this cache: the first
# one builds, the others wait on the lock and then find it present.
exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/lib/libopenjp2.a" ] && [ -f "$prefix/.complete" ]; then
    exit 0
fi

start=$(date +%s)
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
# apt-get source needs a deb-src entry; add one for the Debian release we
# install binaries from, only if none is there yet.
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
command -v dpkg-source >/dev/null || $SUDO apt-get install -y -qq dpkg-dev >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fetch_source() { (cd "$work" && apt-get source -qq openjpeg2 >"$work/source.log" 2>&1); }
# A stale package list (entry added earlier, lists since replaced) needs one refresh.
fetch_source || { $SUDO apt-get update -qq && fetch_source; } || { cat "$work/source.log" >&2; exit 1; }
src="$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'openjpeg2-*' | head -n1)"
[ -n "$src" ] || { echo "openjpeg2 source not unpacked" >&2; exit 1; }
fetched=$(date +%s)

rm -rf "$prefix"
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
dpkg-parsechangelog -l "$src/debian/changelog" -S Version >"$prefix/.source-version"
touch "$prefix/.complete"
done_at=$(date +%s)
echo "openjpeg-i686: fetched source in $((fetched - start)) s, built in $((done_at - fetched)) s -> $prefix"
