#!/usr/bin/env bash
# Configures and builds the Windows builds (default both: build/win for i686
# and build/win64 for x86-64), then runs their tests under Wine inside one
# Xvfb display, one build after the other. Prints each stage's time.
# Usage: tools/test-windows.sh [build-dir...] [extra ctest args...]
#   A build folder whose name ends in 64 is the x86-64 build, any other the
#   i686 one; the first argument starting with '-' begins the ctest args.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
builds=()
while [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; do
    builds+=("${1%/}")
    shift
done
[ ${#builds[@]} -gt 0 ] || builds=(build/win64 build/win)
jobs="${JOBS:-2}"

stage_start=$SECONDS
stage() {  # stage NAME: prints the time the previous stage took
    local now=$SECONDS
    [ -n "${stage_name:-}" ] && echo "--- ${stage_name}: $((now - stage_start)) s"
    stage_name=$1
    stage_start=$now
}
arch_of() { case "$1" in *64) echo x86_64 ;; *) echo i686 ;; esac; }

stage configure
for build in "${builds[@]}"; do
    mkdir -p "$build"
    cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$(arch_of "$build").cmake" \
        >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; echo "configure of $build failed"; exit 1; }
    grep -E 'WARNING|Building [a-z0-9]+ for|-(i686|x86_64): ' "$build/configure.log" || true
done

# The i686 build makes the installer, which takes the x86-64 build's DLL
# and test browser; building the x86-64 folder first keeps the two Ninja
# runs apart.
stage build
for build in "${builds[@]}"; do
    cmake --build "$build" -j "$jobs" || { echo "build of $build failed"; exit 1; }
done

# One X display for the whole run; Xvfb picks a free number itself, so runs
# in several worktrees at once do not collide.
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
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"

# A Wine server kept alive across one build's tests saves its start-up per
# program; each build folder has its own prefix, of its own architecture.
prefixes=()
cleanup() {
    for prefix in "${prefixes[@]}"; do
        WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
    done
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    if [ -n "${print_folder:-}" ]; then
        bash tools/print-queue.sh stop "$print_folder"
        rm -rf "$print_folder"
    fi
}
trap cleanup EXIT

# The print tests' queues: a CUPS scheduler of this run's own, which Wine
# reaches through CUPS_SERVER (tools/print-queue.sh); without it (not root,
# packages missing) the print tests are skipped.
stage "print queue"
print_folder="$(mktemp -d /tmp/npkavrel-print.XXXXXX)"
if queue_settings="$(bash tools/print-queue.sh start "$print_folder")"; then
    while read -r setting; do export "$setting"; done <<<"$queue_settings"
else
    echo "no print queue: the print tests are skipped"
fi

status=0
for build in "${builds[@]}"; do
    stage "wineprefix $build"
    prefix="$repo/$build/wineprefix"
    prefixes+=("$prefix")
    winearch=win32
    [ "$(arch_of "$build")" = x86_64 ] && winearch=win64
    # Made once per build folder; later runs find it ready.
    WINEPREFIX="$prefix" WINEARCH=$winearch bash tools/wine-run.sh --prepare-only
    WINEPREFIX="$prefix" wineserver -p >/dev/null 2>&1

    stage "tests $build"
    (cd "$build" && WINEPREFIX="$prefix" ctest --output-on-failure -j "$jobs" "$@") || status=1
done
stage done
exit $status
