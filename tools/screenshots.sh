#!/usr/bin/env bash
# Screen pictures for users: the right-click menu, the About box, the
# comments dialog and the progress bar of a slow download of npkavrel.dll in
# the test browser, in English and in Japanese, and the picture of one slow
# download at a quarter, half and three quarters, saved as PNG files in
# docs/screenshots/.
# Usage: tools/screenshots.sh [BUILD_DIR]     (default: build/win)
# Runs under its own Xvfb display and its own Wine prefixes (one per
# language; in the Japanese one the UI fonts are mapped to IPA Gothic).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${1:-$root/build/win}")"
out="$root/docs/screenshots"

bash "$root/tools/install-deps.sh" windows
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
fi
cmake --build "$build" --target npkavrel commands_screenshots testbrowser -j2 >/dev/null

display_file="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
work="$(mktemp -d)"
cleanup() {
    for language in en ja; do
        WINEPREFIX="$build/screenshot-prefix-$language" wineserver -k 2>/dev/null || true
    done
    kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work" "$display_file"
}
trap cleanup EXIT
for _ in $(seq 50); do
    [ -s "$display_file" ] && break
    sleep 0.1
done
export DISPLAY=":$(tr -dc '0-9' <"$display_file")"

# One Wine prefix per language. In the Japanese one the Japanese faces and
# the default UI faces become IPA Gothic, as Wine's own fonts have no
# Japanese glyphs; the English one keeps Wine's fonts.
prepare_prefix() {
    export WINEPREFIX="$build/screenshot-prefix-$1"
    "$root/tools/wine-run.sh" --prepare-only
    if [ "$1" = ja ]; then
        for face in "MS UI Gothic" "MS Gothic" "MS PGothic" "MS Shell Dlg" "Tahoma"; do
            wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d IPAPGothic /f >/dev/null 2>&1
        done
        wineserver -w
    fi
}

mkdir -p "$out"
for language in en ja; do
    locale=C.UTF-8
    [ "$language" = ja ] && locale=ja_JP.UTF-8
    prepare_prefix "$language"
    (cd "$build" && LC_ALL=$locale LANG=$locale "$root/tools/wine-run.sh" ./commands_screenshots.exe \
        "Z:$root/tools/sample/sample.jp2" "Z:$work" "$language")
    # Delivery slowed to 1 KiB every 80 ms, the window saved half way.
    (cd "$build" && LC_ALL=$locale LANG=$locale "$root/tools/wine-run.sh" ./testbrowser.exe --size 260x120 \
        --block 1024 --block-delay-ms 80 --halfway-screenshot "Z:$work/progress_$language.bmp" \
        --screenshot "Z:$work/progress_end.bmp" npkavrel.dll "Z:$root/tools/sample/sample.jp2" >/dev/null)
    for picture in menu about comments progress; do
        convert "$work/${picture}_$language.bmp" "$out/${picture}_$language.png"
        echo "wrote docs/screenshots/${picture}_$language.png"
    done
done

# One slow download shown while it arrives (1 KiB every 80 ms), the window
# saved at a quarter, half and three quarters of it.
prepare_prefix en
(cd "$build" && LC_ALL=C.UTF-8 LANG=C.UTF-8 "$root/tools/wine-run.sh" ./testbrowser.exe --size 320x240 \
    --block 1024 --block-delay-ms 80 --quarter-screenshots "Z:$work/arriving.bmp" \
    --screenshot "Z:$work/arriving_end.bmp" npkavrel.dll "Z:$root/tools/sample/sample.jp2" >/dev/null)
for quarter in 1 2 3; do
    convert "$work/arriving-$quarter.bmp" "$out/arriving_$quarter.png"
    echo "wrote docs/screenshots/arriving_$quarter.png"
done
