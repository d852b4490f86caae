#!/usr/bin/env bash
# Builds OpenJPEG or LittleCMS statically from the current Debian stable
# release's source package (Debian's patches applied, then ours from
# tools/codec-patches), once per library, source version, recipe, target and
# flavour, into the shared deps cache, and prints the install prefix as its
# last line. Every build of the project links these:
# both Windows architectures and the native builds (plain, sanitizers, fuzzer).
# Usage: build-deps.sh <openjpeg|lcms2> <i686|x86_64|native> [flavour]
#   native: CC and CFLAGS come from DEPS_CC / DEPS_CFLAGS; the flavour names
#   them in the cache key (e.g. gnu, gnu-asan, clang-asan-fuzz).
# DEPS_DIR overrides the cache (default build/deps); DEPS_REFRESH=1 refreshes
# the source lists first.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
lib="${1:?library: openjpeg or lcms2}"
target="${2:?target: i686, x86_64 or native}"
flavour="${3:-}"
deps="${DEPS_DIR:-$repo/build/deps}"

case "$lib" in
    openjpeg) package=openjpeg2; archive=libopenjp2.a ;;
    lcms2)    package=lcms2;     archive=liblcms2.a ;;
    *) echo "unknown library: $lib" >&2; exit 2 ;;
esac
case "$target" in
    i686|x86_64) toolchain="$repo/cmake/mingw-$target.cmake"; triplet="$target-w64-mingw32"
                 cc="$triplet-gcc-posix"; cflags="" ;;
    native)      toolchain=""; triplet=""; cc="${DEPS_CC:-cc}"; cflags="${DEPS_CFLAGS:-}" ;;
    *) echo "unknown target: $target" >&2; exit 2 ;;
esac
mkdir -p "$deps"

# --- The source lists: a private apt state under the cache, so the machine's
# own package lists (and the release its binaries come from) stay untouched.
# Its entries are derived from the archives this machine is configured with:
# each archive's "stable" suite names the release, a security archive carries
# the release's patched packages under <release>-security.
aptdir="$deps/.apt-src"
apt_opts=(-o "Dir::Etc::SourceList=$aptdir/sources.list" -o "Dir::Etc::SourceParts=$aptdir/none"
          -o "Dir::State::Lists=$aptdir/lists" -o "Dir::Cache=$aptdir/cache"
          -o "APT::Sandbox::User=root")

release_field() {  # release_field URI SUITE FIELD -> value, empty if none
    local file="$aptdir/release.tmp"
    rm -f "$file"
    /usr/lib/apt/apt-helper download-file "$1/dists/$2/Release" "$file" >/dev/null 2>&1 || return 0
    awk -F': *' -v f="$3" '$1 == f { print $2; exit }' "$file"
}

write_source_lists() {
    local uris uri codename="" entries=""
    uris="$(apt-cache policy | awk '$2 ~ /^[a-z+]+:\/\// { print $2 }' | sort -u)"
    # Before the machine's first "apt-get update" apt knows no archive: the
    # configured entries themselves then.
    [ -n "$uris" ] || uris="$( (cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null \
        | awk '$1 == "deb" { for (i = 2; i <= NF; ++i) if ($i ~ /:\/\//) { print $i; break } }'
        cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '$1 == "URIs:" { for (i = 2; i <= NF; ++i) print $i }') \
        | sort -u)"
    for uri in $uris; do
        [ "$(release_field "$uri" stable Origin)" = Debian ] || continue
        codename="$(release_field "$uri" stable Codename)"
        entries="$entries$uri|$codename $codename-updates"$'\n'
    done
    [ -n "$codename" ] || { echo "no configured archive serves Debian's stable release" >&2; return 1; }
    for uri in $uris; do
        [ "$(release_field "$uri" stable-security Origin)" = Debian ] || continue
        entries="$entries$uri|$codename-security"$'\n'
    done
    : >"$aptdir/sources.list.new"
    while IFS='|' read -r uri suites; do
        [ -n "$uri" ] || continue
        for suite in $suites; do
            echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $suite main" >>"$aptdir/sources.list.new"
        done
    done <<<"$entries"
    mv "$aptdir/sources.list.new" "$aptdir/sources.list"
    rm -f "$aptdir/release.tmp"
    echo "source packages of Debian $codename" >&2
}

refresh_lists() {
    write_source_lists
    apt-get "${apt_opts[@]}" update -qq >/dev/null
}

# The lists are shared by every library and target: one writer at a time.
exec 8>"$deps/.apt-src.lock"
flock 8
mkdir -p "$aptdir/lists/partial" "$aptdir/cache/archives/partial" "$aptdir/none"
if [ "${DEPS_REFRESH:-0}" = 1 ] || [ ! -s "$aptdir/sources.list" ] \
        || ! ls "$aptdir"/lists/*Sources* >/dev/null 2>&1; then
    refresh_lists
fi
newest_version() {
    apt-cache "${apt_opts[@]}" showsrc "$package" 2>/dev/null \
        | awk '/^Version:/ { print $2 }' | sort -V | tail -n 1
}
version="$(newest_version)"
[ -n "$version" ] || { echo "no source package $package in $aptdir/sources.list" >&2; exit 1; }
flock -u 8

# The recipe (this script and our patches) is part of the key too: a build
# made by another recipe is never taken for this one's.
recipe="$(cat "${BASH_SOURCE[0]}" "$repo"/tools/codec-patches/* | sha1sum | cut -c1-8)"
prefix="$deps/$lib-$version-$target${flavour:+-$flavour}-$recipe"

# Parallel configures share the cache: the first builds, the others wait on
# the lock and then find it present.
exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/lib/$archive" ] && [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

start=$(date +%s)
command -v dpkg-source >/dev/null || { echo "dpkg-source missing (install dpkg-dev)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A version listed by several archives may be missing from one of them (a
# point release's pool lagging the security archive): each entry is tried
# on its own after the whole list.
fetch_source() {
    local entry
    (cd "$work" && apt-get "${apt_opts[@]}" source -qq "$package=$version" >"$work/source.log" 2>&1) && return 0
    while read -r entry; do
        echo "$entry" >"$work/one.list"
        rm -rf "$work/$package"-* "$work"/*.dsc "$work"/*.tar.* 2>/dev/null || true
        (cd "$work" && apt-get "${apt_opts[@]}" -o "Dir::Etc::SourceList=$work/one.list" \
            source -qq "$package=$version" >>"$work/source.log" 2>&1) && return 0
    done <"$aptdir/sources.list"
    return 1
}
# When an archive withholds the .dsc itself, the tarballs it lists are taken
# one by one, each checked against the hash of the signed index, and unpacked
# as dpkg-source would: the upstream tarball, debian/ over it, the patches of
# debian/patches/series in order.
unpack_by_hand() {
    local uri name size hash dir patch
    apt-get "${apt_opts[@]}" source --print-uris -qq "$package=$version" 2>>"$work/source.log" \
        | grep "^'" >"$work/uris" || return 1
    while read -r uri name size hash; do
        uri="${uri//\'/}"
        case "$name" in *.dsc) continue ;; esac
        /usr/lib/apt/apt-helper download-file "$uri" "$work/$name" "$hash" >>"$work/source.log" 2>&1 || return 1
    done <"$work/uris"
    dir="$work/$package-${version%%-*}"
    mkdir -p "$dir"
    tar -xf "$(ls "$work"/*.orig.tar.*)" -C "$dir" --strip-components=1 || return 1
    tar -xf "$(ls "$work"/*.debian.tar.*)" -C "$dir" || return 1
    [ -f "$dir/debian/patches/series" ] || return 0
    while read -r patch _; do
        case "$patch" in ''|'#'*) continue ;; esac
        patch -d "$dir" -p1 -s <"$dir/debian/patches/$patch" >>"$work/source.log" 2>&1 || return 1
    done <"$dir/debian/patches/series"
}
# Lists older than the archive (a superseded version gone from it) need one refresh.
fetch_source || unpack_by_hand || { (flock 8 && refresh_lists) 8>"$deps/.apt-src.lock" && fetch_source; } \
    || { cat "$work/source.log" >&2; exit 1; }
src="$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n1)"
[ -n "$src" ] || { echo "$package source not unpacked" >&2; exit 1; }
fetched=$(date +%s)

# Our own patches over Debian's: tools/codec-patches/<lib>-<all|windows>-*.patch.
scope=all
[ "$target" = native ] || scope="all windows"
for kind in $scope; do
    for patch in "$repo/tools/codec-patches/$lib-$kind"-*.patch; do
        [ -f "$patch" ] || continue
        patch -d "$src" -p1 -s <"$patch" || { echo "$patch does not apply" >&2; exit 1; }
    done
done

build_openjpeg() {
    local toolchain_args=()
    [ -z "$toolchain" ] || toolchain_args=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
    [ -n "$toolchain" ] || toolchain_args=(-DCMAKE_C_COMPILER="$cc")
    command -v ccache >/dev/null && toolchain_args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache)
    # Flags given only when there are some: an empty CMAKE_C_FLAGS would drop
    # the toolchain's own (SSE2 on i686, which the codec's vector code needs).
    [ -z "$cflags" ] || toolchain_args+=(-DCMAKE_C_FLAGS="$cflags")
    cmake -S "$src" -B "$work/build" -G Ninja "${toolchain_args[@]}" \
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
    local flags="-O2 $cflags" host_args=()
    [ "$target" = i686 ] && flags="$flags -msse2 -mfpmath=sse"
    if [ -n "$triplet" ]; then
        host_args=(--host="$triplet" AR="$triplet-gcc-ar-posix" RANLIB="$triplet-gcc-ranlib-posix")
    fi
    (cd "$src" && ./configure "${host_args[@]}" --prefix="$prefix" CC="$cc" CFLAGS="$flags" \
        --enable-static --disable-shared --without-jpeg --without-tiff --without-zlib) \
        >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; exit 1; }
    make -C "$src/src" -j2 install >"$work/build.log" 2>&1 || { tail -50 "$work/build.log" >&2; exit 1; }
    make -C "$src/include" install >>"$work/build.log" 2>&1 || { tail -50 "$work/build.log" >&2; exit 1; }
}

rm -rf "$prefix"
"build_$lib"
echo "$version" >"$prefix/.source-version"
touch "$prefix/.complete"
done_at=$(date +%s)
echo "$lib $version ($target${flavour:+ $flavour}): fetched source in $((fetched - start)) s, built in $((done_at - fetched)) s" >&2
echo "$prefix"
