#!/usr/bin/env bash
# Without an answer from the browser the screen's scale is the window's DPI:
# with Wine's LogPixels at 144 for one run of the test browser (put back
# afterwards), quad.jp2 (64 x 48) as a full page is drawn 96 x 72, a CSS
# pixel per picture pixel.
# Usage: window_dpi_test.sh WINE_RUN TESTBROWSER DLL FIXTURE_DIR OUT_DIR
set -euo pipefail
wine_run=$1 testbrowser=$2 dll=$3 fixtures=$4 out=$5
key='HKCU\Control Panel\Desktop'
old=$(wine reg query "$key" /v LogPixels 2>/dev/null | awk '/LogPixels/ {print $3}' || true)
restore() {
    if [ -n "$old" ]; then
        wine reg add "$key" /v LogPixels /t REG_DWORD /d "$((old))" /f >/dev/null 2>&1
    else
        wine reg delete "$key" /v LogPixels /f >/dev/null 2>&1 || true
    fi
}
trap restore EXIT
wine reg add "$key" /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
shot="$out/window_dpi.bmp"
rm -f "$shot"
bash "$wine_run" "$testbrowser" "$dll" "Z:$fixtures/quad.jp2" --size 300x200 --screenshot "Z:$shot"
python3 - "$shot" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
offset = struct.unpack_from('<I', data, 10)[0]
width, height = struct.unpack_from('<ii', data, 18)
stride = (width * 3 + 3) & ~3
def pixel(x, y):
    at = offset + (height - 1 - y) * stride + 3 * x
    return data[at + 2] << 16 | data[at + 1] << 8 | data[at]
gray = 0x808080
right = max(x for x in range(width) if pixel(x, 10) != gray) + 1
bottom = max(y for y in range(height) if pixel(10, y) != gray) + 1
print(f"drawn {right} x {bottom}")
sys.exit(0 if (right, bottom) == (96, 72) else 1)
PY
