#!/usr/bin/env bash
# The plug-in's saved bitmap and CF_DIB block against the native j2k2bmp for
# every conformance file: the .bmp must be identical, the clipboard block
# identical to it without its 14-byte file header. Files neither side can
# decode are counted as skipped; a file only one side decodes is a failure.
# Usage: crosscheck_bitmaps.sh WINE_RUN EXPORT_EXE J2K2BMP CONFORMANCE_DIR WORK_DIR
set -euo pipefail
wine_run=$1 export_exe=$2 j2k2bmp=$3 conformance=$4 work=$5
if [ ! -x "$j2k2bmp" ]; then
    echo "no native j2k2bmp at $j2k2bmp: build the native preset first"
    exit 77
fi
if [ ! -d "$conformance" ]; then
    echo "conformance data absent: $conformance"
    exit 77
fi

rm -rf "$work"
mkdir -p "$work/native" "$work/plugin"
inputs=()
for file in "$conformance"/*.j2k "$conformance"/*.jp2; do
    inputs+=("Z:$file")
done
"$wine_run" "$export_exe" "Z:$work/plugin" "${inputs[@]}" > "$work/export.log" 2>&1 || true
cat "$work/export.log"

passed=0 failed=0 skipped=0
for file in "$conformance"/*.j2k "$conformance"/*.jp2; do
    name=$(basename "$file")
    plugin_bmp="$work/plugin/$name.bmp"
    if "$j2k2bmp" "$file" "$work/native/$name.bmp" 2>/dev/null; then
        if cmp -s "$work/native/$name.bmp" "$plugin_bmp" &&
           cmp -s <(tail -c +15 "$work/native/$name.bmp") "$work/plugin/$name.dib"; then
            passed=$((passed + 1))
        else
            echo "MISMATCH $name"
            failed=$((failed + 1))
        fi
    elif [ -e "$plugin_bmp" ] || ! grep -q "^undecodable $name\$" "$work/export.log"; then
        echo "ONLY THE PLUG-IN DECODED $name"
        failed=$((failed + 1))
    else
        skipped=$((skipped + 1))
    fi
done
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
