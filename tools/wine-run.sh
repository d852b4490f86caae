#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's settings: a Wine
# prefix per build folder (made once), no debug chatter, no Mono/Gecko prompts.
# Usage: tools/wine-run.sh program.exe [args...]   (CTest's emulator)
#        tools/wine-run.sh --prepare-only          (make the prefix, run nothing;
#                                                   WINEPREFIX must be set)
set -euo pipefail

program="$1"
shift

# The prefix belongs to the build folder the program was built in: the
# nearest parent holding CMakeCache.txt, unless WINEPREFIX is given.
if [ -z "${WINEPREFIX:-}" ]; then
    dir="$(cd "$(dirname "$program")" && pwd)"
    while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do
        dir="$(dirname "$dir")"
    done
    if [ "$dir" = "/" ]; then
        dir="${TMPDIR:-/tmp}/npkavrel-wine-$(id -u)"
        mkdir -p "$dir"
    fi
    export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=d;mshtml=d}"
# A 64-bit program needs a 64-bit prefix (which runs 32-bit programs too);
# a prefix made of either kind keeps it, so the choice matters only once.
if [ -z "${WINEARCH:-}" ]; then
    WINEARCH=win32
    # PE header: "PE\0\0" at the offset stored at 0x3C, machine 0x8664 after it.
    if [ -f "$program" ]; then
        pe=$(od -An -tu4 -j60 -N4 "$program" 2>/dev/null | tr -d ' ')
        machine=$(od -An -tx2 -j$((${pe:-0} + 4)) -N2 "$program" 2>/dev/null | tr -d ' ')
        [ "$machine" = 8664 ] && WINEARCH=win64
    fi
fi
export WINEARCH

# Settings of the prefix; a prefix made with another list gets them again.
#  - Managed=N: without a window manager on Xvfb, Wine waits 2 s for every
#    managed window it hides (each message box and dialog); unmanaged windows
#    close at once.
#  - ShowCrashDialog=0: a crashing test ends with a report on its output
#    instead of a dialog nobody closes.
settings_version="managed-n crash-dialog-0"
apply_settings() {
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 &&
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
}

# Two tests may start at once on a fresh folder; only one makes the prefix.
if [ "$(cat "$WINEPREFIX/.ready" 2>/dev/null)" != "$settings_version" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.ready" ]; then
        rm -rf "$WINEPREFIX"
        wineboot --init >/dev/null 2>&1
    fi
    if [ "$(cat "$WINEPREFIX/.ready" 2>/dev/null)" != "$settings_version" ]; then
        apply_settings || { echo "wine-run.sh: cannot set up $WINEPREFIX" >&2; exit 1; }
        echo "$settings_version" >"$WINEPREFIX/.ready"
    fi
    exec 9>&-
fi

[ "$program" = "--prepare-only" ] && exit 0

# Wine's helper processes (services, the desktop window) outlive the program
# and inherit its output; a caller waiting for the end of our output (CTest)
# would then wait for them. The program writes into a file instead, shown
# once it has ended.
output="$(mktemp)"
trap 'rm -f "$output"' EXIT
status=0
wine "$program" "$@" </dev/null >"$output" 2>&1 || status=$?
cat "$output"
exit "$status"
