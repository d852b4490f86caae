#!/usr/bin/env bash
# Checks the built DLL's PE header, export table and imports with objdump:
# a DLL of the given format (PE32 i386 or PE32+ x86-64) exporting exactly the
# three NPAPI entry points by name and importing only system libraries. With
# "decoder" last, the decoder process instead: a program of that format
# importing only the system libraries a decoder needs.
# Usage: check_dll.sh OBJDUMP DLL|EXE [pei-i386|pei-x86-64] [decoder]
set -uo pipefail
objdump="$1"
dll="$2"
format="${3:-pei-i386}"
role="${4:-plugin}"
dump="$("$objdump" -p "$dll")" || { echo "objdump failed on $dll"; exit 1; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

grep -q "file format $format\$" <<<"$dump" || fail "not a $format image"
# Characteristics bit 0x2000 marks a DLL.
characteristics=$(sed -nE 's/^Characteristics[[:space:]]+0x([0-9a-f]+).*/\1/p' <<<"$dump" | head -n1)
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -nE 's/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+(.*)$/\1/p' | sort)
if [ "$role" = decoder ]; then
    (( (16#${characteristics:-0} & 0x2000) == 0 )) || fail "the decoder is marked as a DLL"
    # Everything else is linked in: no library is loaded once it runs.
    allowed='^(kernel32|msvcrt)\.dll$'
else
    (( (16#${characteristics:-0} & 0x2000) != 0 )) || fail "image is not marked as a DLL"
    expected=$(printf '%s\n' NP_GetEntryPoints NP_Initialize NP_Shutdown)
    [ "$exports" = "$expected" ] || fail "exports are: $(echo $exports)"
    allowed='^(kernel32|user32|gdi32|advapi32|comdlg32|shell32|comctl32|ole32|msvcrt|version)\.dll$'
fi
imports=$(sed -nE 's/^[[:space:]]*DLL Name: (.*)$/\1/p' <<<"$dump" | tr 'A-Z' 'a-z')
[ -n "$imports" ] || fail "no imports found"
for name in $imports; do
    [[ "$name" =~ $allowed ]] || fail "imports non-system library $name"
done

[ "$failures" = 0 ] && echo "$(basename "$dll"): $format $role, exports: $(echo $exports), imports: $(echo $imports)"
exit $((failures > 0))
