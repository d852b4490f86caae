#!/usr/bin/env bash
# The display benchmark (tools/bench_display.cpp) of both architectures under
# Wine, one after the other (each encodes the same test image once), printed
# side by side: label | 32-bit (build/win) | 64-bit (build/win64); then the
# native DecodeToPackedDib of each run's own 4000 x 4000 file (build/bench,
# Release, no sanitizers) and the two ratios "DLL / native decode".
# Usage: tools/bench-display-both.sh [PART]   PART: one part of the run, as
# bench_display takes it (large-arrival, decoder, page, playback, ...).
set -euo pipefail
part=(${1:+npkavrel.dll bench_display_4000.j2k "$1"})
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
out="$(mktemp -d)"
display_file="$out/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$out"' EXIT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
export DISPLAY=":$(tr -dc '0-9' <"$display_file")"

# Windows schedules by strict priority: a ready thread of the browser runs
# before the decoders and the plug-in's own decode threads, which run below
# normal. Wine 8 ignores priorities, and Linux's idle class is no equivalent
# for below normal (any other program on the machine would starve the
# decoders, and the decoder-process figures would compare an idle-class
# decoder with normal-class decode threads). So every decode keeps the
# normal class, and the benchmark's own main thread (the browser's thread,
# the process's first) gets the lowest real-time class, ahead of them all as
# Windows' ordering puts it; the received-bytes store's preparer (named
# "npkavrel store"; above normal on Windows) one class higher. A system call
# runs in its caller's thread on Windows, at the caller's priority; Wine's
# server runs many of them in a process of its own, which a loaded machine
# would make the browser's thread wait for: the benchmark's server gets the
# browser's class.
# This checkout's: the benchmark (whose command line Wine may leave
# relative) and Wine's server by their prefix.
in_prefix() { tr '\0' '\n' <"/proc/$1/environ" 2>/dev/null | grep -q "^WINEPREFIX=$repo/build/"; }
order_like_windows() {
    while sleep 0.05; do
        for pid in $(pgrep -f 'bench_display\.exe' || true); do
            in_prefix "$pid" || continue
            chrt --fifo -p 1 "$pid" >/dev/null 2>&1 || true
            # The received-bytes store's preparer runs above normal, over
            # the browser's thread, which may wait for a lock it holds.
            for task in /proc/"$pid"/task/*; do
                [ "$(cat "$task/comm" 2>/dev/null)" = "npkavrel store" ] &&
                    chrt --fifo -p 2 "${task##*/}" >/dev/null 2>&1 || true
            done
        done
        for pid in $(pgrep -f 'wineserver' || true); do
            in_prefix "$pid" && chrt --fifo -p 1 "$pid" >/dev/null 2>&1 || true
        done
    done
}
order_like_windows &
lowering_pid=$!
# A pagefile-backed section is memory on Windows; Wine backs it with a file
# in its temporary folder, here on disk, where a first write to a page can
# wait for the file system's journal. Wine's temporary folder goes to shared
# memory for the benchmark (Wine then runs a server of its own for it).
wine_tmp=""
if [ -d /dev/shm ] && wine_tmp="$(mktemp -d /dev/shm/npkavrel-bench.XXXXXX 2>/dev/null)"; then
    export TMPDIR="$wine_tmp"
fi
trap 'kill $xvfb_pid $lowering_pid 2>/dev/null; rm -rf "$out" ${wine_tmp:+"$wine_tmp"}' EXIT

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build/bench -G Ninja -DSANITIZE=OFF -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build build/bench -j "${JOBS:-2}" --target bench_decode >/dev/null
# The 64-bit run first: it encodes the 6600 x 6600 file, which a 32-bit
# process has no room to encode, and the 32-bit run reads it.
for pair in "64 build/win64 mingw-x86_64" "32 build/win mingw-i686"; do
    set -- $pair
    if [ "$1" = 32 ] && [ -f build/win64/bench_display_6600.j2k ] && [ ! -f "$2/bench_display_6600.j2k" ]; then
        cp build/win64/bench_display_6600.j2k "$2/"
    fi
    [ -f "$2/build.ninja" ] || cmake -S . -B "$2" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$3.cmake" "${launcher[@]}" >/dev/null
    cmake --build "$2" -j "${JOBS:-2}" --target bench_display npkavrel >/dev/null
    echo "running the $1-bit benchmark..." >&2
    (cd "$2" && bash "$repo/tools/wine-run.sh" ./bench_display.exe "${part[@]}") >"$out/$1.txt" 2>&1
    WINEPREFIX="$repo/$2/wineprefix" wineserver -k 2>/dev/null || true
    # The native decode twice, the faster median kept: a moment of load on a
    # shared machine then counts against the DLL, not for it.
    echo "running the native decode of the $1-bit run's file..." >&2
    for _ in 1 2; do
        build/bench/tools/bench_decode --decode "$2/bench_display_4000.j2k"
    done | sort -t: -k2 -g | head -n 1 >"$out/native$1.txt"
done

# Lines "label: figures" side by side, matched by label and the label's
# occurrence (a label repeats once per picture), so a line only one run
# printed (such as "encoding ... (once)") shifts nothing; other lines of the
# 32-bit run as they are.
printf "%-40s | %-40s | %s\n" "" "32-bit (build/win)" "64-bit (build/win64)"
awk 'function key(line,   label) { label = line; sub(/:.*/, "", label); return label "#" (++seen[FILENAME, label]) }
    NR == FNR { if (index($0, ":")) { k = key($0); v = $0; sub(/^[^:]*: */, "", v); right64[k] = v }; next }
    {
        if (index($0, ":")) {
            k = key($0); label = $0; sub(/:.*/, "", label); v = $0; sub(/^[^:]*: */, "", v)
            printf "%-40s | %-40s | %s\n", label, v, (k in right64) ? right64[k] : "-"
        } else {
            print $0
        }
    }' "$out/64.txt" "$out/32.txt"

# The DLL's first "DecodeToPackedDib alone" (the 4000 x 4000 RGB picture)
# against the native one of the same file.
alone() { grep -m1 'DecodeToPackedDib alone:' "$1" | sed -E 's/.*alone: *([0-9.]+) ms.*/\1/'; }
for bits in 64 32; do
    dll="$(alone "$out/$bits.txt")" native="$(alone "$out/native$bits.txt")"
    echo "native DecodeToPackedDib, $bits-bit run's file: $native ms (the faster of two medians of 3)"
    awk -v d="$dll" -v n="$native" -v b="$bits" -v t="$([ "$bits" = 64 ] && echo 1.2 || echo 1.5)" \
        'BEGIN { if (d > 0 && n > 0) printf "DLL / native decode, %s-bit: %.2f (DLL %.1f ms; target <= %s)\n", b, d / n, d, t;
                 else printf "DLL / native decode, %s-bit: no figure\n", b }'
done
