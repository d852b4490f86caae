#!/usr/bin/env bash
# The installer end to end in a fresh 64-bit Wine prefix: a silent install
# (run twice: the second is an upgrade in place) puts both DLLs, each with its
# decoder, and the keys
# in place; the 32- and 64-bit test browsers, given only a page, find and
# show the picture through the installed plug-in of their own architecture;
# the silent uninstall leaves the prefix's files and registry as they were,
# and both browsers then report that no plug-in handles the page.
# Usage: install_test.sh SETUP.exe BROWSER32.exe BROWSER64.exe DLL32 DLL64 PAGE.html
set -uo pipefail
setup="$1"; browser32="$2"; browser64="$3"; dll32="$4"; dll64="$5"; page="$6"
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=d;mshtml=d"
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run() { wine "$@" </dev/null >"$work/out.txt" 2>&1; local rc=$?; wineserver -w; return $rc; }

wineboot --init >/dev/null 2>&1 && wineserver -w || { echo "FAIL: cannot make a prefix"; exit 1; }
# Everything the prefix holds before, to compare with what is left after.
# %TEMP% is left out: the uninstaller runs from a copy there that Windows
# deletes at the next start (Wine's restart deletes the file, not its folder).
snapshot() {
    (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -path './users/*/Temp/*' -prune -o -print | sort)
    # Registry keys of the user, without Wine's own volatile ones.
    grep -E '^\[' "$WINEPREFIX/user.reg" | sed 's/ [0-9]*$//' | grep -v -i -E '\\\\(wine|mui|explorer)' | sort
}
snapshot >"$work/before.txt"

local_app_data="$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')"
root="$(winepath -u "$local_app_data\\Programs\\npkavrel" 2>/dev/null)"
plugins='HKCU\Software\MozillaPlugins'
value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -nE "s/^ +$2 +REG_[A-Z_]+ +(.*)$/\\1/p"; }

for attempt in install upgrade; do
    run "$setup" /S || fail "$attempt: setup /S failed"
done
cmp -s "$root/x86/npkavrel.dll" "$dll32" || fail "x86\\npkavrel.dll is not the 32-bit DLL"
cmp -s "$root/x64/npkavrel.dll" "$dll64" || fail "x64\\npkavrel.dll is not the 64-bit DLL"
for arch in x86 x64; do
    dll=$dll32; [ $arch = x64 ] && dll=$dll64
    cmp -s "$root/$arch/npkavrel-decoder.exe" "$(dirname "$dll")/npkavrel-decoder.exe" ||
        fail "$arch\\npkavrel-decoder.exe is not the decoder built beside its DLL"
done
[ -f "$root/uninstall.exe" ] || fail "no uninstall.exe"
for arch in x86 x64; do
    key="$plugins\\@npkavrel.example/npkavrel-$arch"
    [ "$(value "$key" Path)" = "$local_app_data\\Programs\\npkavrel\\$arch" ] || fail "$key Path is '$(value "$key" Path)'"
    for name in Description ProductName Vendor Version; do
        [ -n "$(value "$key" "$name")" ] || fail "$key has no $name"
    done
done
uninstall='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\npkavrel'
for name in DisplayName DisplayVersion Publisher UninstallString; do
    [ -n "$(value "$uninstall" "$name")" ] || fail "uninstall entry has no $name"
done
quiet="$(value "$uninstall" QuietUninstallString)"
[[ "$quiet" == *'uninstall.exe" /S' ]] || fail "QuietUninstallString is '$quiet'"

# Each browser with only the page: the plug-in of its own architecture, and
# a picture of many colours (a page without it has a handful).
page_dos="Z:$(realpath "$page")"
for arch in x86 x64; do
    browser=$browser32; [ $arch = x64 ] && browser=$browser64
    shot="$work/shot-$arch.bmp"
    run "$browser" "$page_dos" --screenshot "Z:$shot" || fail "$arch browser failed: $(cat "$work/out.txt")"
    grep -q "plug-in for image/jp2: .*\\\\npkavrel\\\\$arch\\\\npkavrel.dll (from HKCU" "$work/out.txt" \
        || fail "$arch browser did not pick the installed $arch plug-in: $(head -3 "$work/out.txt")"
    colours=$(convert "$shot" -format %k info: 2>/dev/null || echo 0)
    [ "${colours:-0}" -gt 1000 ] || fail "$arch browser's page has $colours colours, not the picture"
done

# The quiet uninstall as the Uninstall entry gives it.
run "$root/uninstall.exe" /S || fail "uninstall /S failed"
snapshot >"$work/after.txt"
diff "$work/before.txt" "$work/after.txt" >"$work/left.txt" || fail "left behind or removed: $(cat "$work/left.txt")"
for arch in x86 x64; do
    browser=$browser32; [ $arch = x64 ] && browser=$browser64
    run "$browser" "$page_dos" --screenshot "Z:$work/none.bmp"
    grep -q "no plug-in handles .*image/jp2" "$work/out.txt" || fail "$arch browser after uninstall: $(cat "$work/out.txt")"
done

[ "$failures" = 0 ] && echo "install, upgrade, both browsers, uninstall: all as expected"
exit $((failures > 0))
