#!/usr/bin/env bash
# Runs the wide-decoder test (the i686 build's program, DLL and test browser)
# in the x86-64 build's Wine prefix, where a 32-bit process may start the
# 64-bit decoder. Skipped (77) when that build's decoder or prefix is not
# there: tools/test-windows.sh makes the x86-64 build and its prefix first.
# Usage: wide_decoder.sh WINE_RUN PROGRAM WIN64_BUILD_DIR
set -euo pipefail
wine_run=$1 program=$2 wide=$3
if [ ! -f "$wide/npkavrel-decoder.exe" ]; then
    echo "skipped: no 64-bit decoder at $wide/npkavrel-decoder.exe (build the x86-64 folder first)"
    exit 77
fi
if [ ! -f "$wide/wineprefix/.ready" ]; then
    echo "skipped: no 64-bit Wine prefix at $wide/wineprefix (tools/test-windows.sh makes it)"
    exit 77
fi
export WINEPREFIX="$(cd "$wide" && pwd)/wineprefix" WINEARCH=win64
exec bash "$wine_run" "$program"
