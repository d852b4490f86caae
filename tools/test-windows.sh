#!/usr/bin/env bash
# Configures and builds the Windows build (default build/win), then runs its
# tests under Wine inside one Xvfb display. Prints each stage's time.
# Usage: tools/test-windows.sh [build-dir] [extra ctest args...]
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
build="${1:-build/win}"
[ $# -gt 0 ] && shift
jobs="${JOBS:-2}"

stage_start=$SECONDS
stage() {  # stage NAME: prints the time the previous stage took
    local now=$SECONDS
    [ -n "${stage_name:-}" ] && echo "--- ${stage_name}: $((now - stage_start)) s"
    stage_name=$1
    stage_start=$now
}

stage configure
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >"$build/configure.log" 2>&1 \
    || { cat "$build/configure.log"; echo "configure failed"; exit 1; }
grep -E 'WARNING|Building [a-z0-9]+ for|-(i686|x86_64): ' "$build/configure.log" || true

stage build
cmake --build "$build" -j "$jobs" || { echo "build failed"; exit 1; }

# One X display for the whole run; Xvfb picks a free number itself, so runs
# in several build folders at once do not collide.
stage xvfb
display_file="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.1
done
display="$(tr -dc '0-9' <"$display_file")"
rm -f "$display_file"
[ -n "$display" ] || { echo "Xvfb did not start"; kill "$xvfb_pid" 2>/dev/null; exit 1; }
export DISPLAY=":$display"

# A Wine server kept alive across the tests saves its start-up per program.
export WINEPREFIX="$repo/$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
cleanup() {
    WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

stage wineprefix
# Made once per build folder; later runs find it ready.
bash tools/wine-run.sh --prepare-only
wineserver -p >/dev/null 2>&1

stage tests
(cd "$build" && ctest --output-on-failure -j "$jobs" "$@")
status=$?
stage done
exit $status
