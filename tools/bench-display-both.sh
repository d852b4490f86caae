#!/usr/bin/env bash
# The display benchmark (tools/bench_display.cpp) of both architectures under
# Wine, one after the other (each encodes the same test image once), printed
# side by side: label | 32-bit (build/win) | 64-bit (build/win64).
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
out="$(mktemp -d)"
display_file="$out/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$out"' EXIT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
export DISPLAY=":$(tr -dc '0-9' <"$display_file")"

for pair in "32 build/win mingw-i686" "64 build/win64 mingw-x86_64"; do
    set -- $pair
    [ -f "$2/build.ninja" ] || cmake -S . -B "$2" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$3.cmake" >/dev/null
    cmake --build "$2" -j "${JOBS:-2}" --target bench_display npkavrel >/dev/null
    echo "running the $1-bit benchmark..." >&2
    (cd "$2" && bash "$repo/tools/wine-run.sh" ./bench_display.exe) >"$out/$1.txt" 2>&1
    WINEPREFIX="$repo/$2/wineprefix" wineserver -k 2>/dev/null || true
done

# Lines "label: figures" side by side; other lines of the 32-bit run as they are.
printf "%-40s | %-40s | %s\n" "" "32-bit (build/win)" "64-bit (build/win64)"
awk -F': *' 'NR == FNR { right64[FNR] = $0; next }
    {
        line64 = right64[FNR]
        if (index($0, ":") && index(line64, ":")) {
            label = $1; sub(/^[^:]*: */, "", line64); value = $0; sub(/^[^:]*: */, "", value)
            printf "%-40s | %-40s | %s\n", label, value, line64
        } else {
            print $0
        }
    }' \
    "$out/64.txt" "$out/32.txt"
