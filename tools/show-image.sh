#!/usr/bin/env bash
# Shows a JPEG 2000 image through npkavrel.dll in the project's test browser
# under Wine: a window when a real display is there, otherwise (no display,
# or a display served by Xvfb) a screenshot PNG whose path it prints.
# Usage: tools/show-image.sh [FILE.jp2|PAGE.html] [testbrowser options...]
# The default is the project's sample picture, tools/sample/sample.jp2;
# tools/sample/four.html shows four embedded images.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
document="${1:-$repo/tools/sample/sample.jp2}"
[ $# -gt 0 ] && shift
if [ ! -f "$document" ]; then
    echo "show-image: no such file: $document" >&2
    exit 1
fi
document="$(realpath "$document")"
build="${NPKAVREL_BUILD_DIR:-$repo/build/win}"

# Install what is missing (quiet when all is there), then configure and build
# the DLL and the browser in the official Windows build folder.
bash "$repo/tools/install-deps.sh" windows >&2
cd "$repo"
if [ ! -f "$build/build.ninja" ]; then
    mkdir -p "$(dirname "$build")"
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
        >"$build.configure.log" 2>&1 || { cat "$build.configure.log" >&2; exit 1; }
fi
cmake --build "$build" -j "${JOBS:-2}" --target npkavrel testbrowser >&2
export WINEPREFIX="$build/wineprefix"

# --scale F: Wine's DPI set to match (LogPixels = 96 x F) for this run,
# put back at the end, as a browser on such a screen would run.
scale=""
previous=("$@")
for ((i = 0; i < ${#previous[@]}; i++)); do
    [ "${previous[$i]}" = --scale ] && scale="${previous[$((i + 1))]:-}"
done
# Wine is started on the display the picture goes to, so this runs just
# before the test browser.
dpi_key='HKCU\Control Panel\Desktop'
old_dpi=""
restore_dpi() {
    [ -n "$scale" ] || return 0
    if [ -n "$old_dpi" ]; then
        wine reg add "$dpi_key" /v LogPixels /t REG_DWORD /d "$((old_dpi))" /f >/dev/null 2>&1
    else
        wine reg delete "$dpi_key" /v LogPixels /f >/dev/null 2>&1 || true
    fi
}
apply_dpi() {
    [ -n "$scale" ] || return 0
    bash "$repo/tools/wine-run.sh" --prepare-only
    old_dpi=$(wine reg query "$dpi_key" /v LogPixels 2>/dev/null | awk '/LogPixels/ {print $3}' || true)
    wine reg add "$dpi_key" /v LogPixels /t REG_DWORD /d "$(awk -v f="$scale" 'BEGIN {printf "%d", 96 * f + 0.5}')" /f \
        >/dev/null 2>&1
}

# A display someone looks at: set, reachable, and not an Xvfb server.
real_display=0
if [ -n "${DISPLAY:-}" ]; then
    number="${DISPLAY#*:}"
    number="${number%%.*}"
    if [ -e "/tmp/.X11-unix/X$number" ] && ! pgrep -f "Xvfb :$number( |$)" >/dev/null 2>&1; then
        real_display=1
    fi
fi

if [ "$real_display" = 1 ]; then
    echo "showing $document (close the window to end)" >&2
    trap restore_dpi EXIT
    apply_dpi
    bash "$repo/tools/wine-run.sh" "$build/testbrowser.exe" "$build/npkavrel.dll" "Z:$document" "$@"
    exit
fi

# Headless: an Xvfb of our own on the first free display, ended on exit.
display=90
while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
    restore_dpi
    wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=":$display"
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X${display}" ] && break
    sleep 0.1
done

shots="$build/screenshots"
mkdir -p "$shots"
name="$(basename "${document%.*}")"
bmp="$shots/$name.bmp"
rm -f "$shots/$name".bmp "$shots/$name"-*.bmp
apply_dpi
bash "$repo/tools/wine-run.sh" "$build/testbrowser.exe" "$build/npkavrel.dll" "Z:$document" \
    --screenshot "Z:$bmp" "$@" >"$shots/$name.log" 2>&1 || { cat "$shots/$name.log" >&2; exit 1; }
for shot in "$shots/$name".bmp "$shots/$name"-*.bmp; do
    [ -f "$shot" ] || continue
    convert "$shot" "${shot%.bmp}.png"
    rm -f "$shot"
    echo "${shot%.bmp}.png"
done
