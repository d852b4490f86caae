#!/usr/bin/env bash
# The crowded pages of the browser test with Wine told of more processors
# than the machine has (8 by default): Wine reads the count from
# /sys/devices/system/cpu/online, and in a private mount namespace a file
# bound over it changes what GetSystemInfo reports for this run alone.
# Needs root for the namespace; skipped (77) otherwise.
# Usage: processors_test.sh WINE_RUN DISPLAY_BROWSER_EXE [PROCESSORS]
set -euo pipefail
wine_run=$1 program=$2 processors=${3:-8}
if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null; then
    echo "skipped: a private mount namespace needs root (and unshare)"
    exit 77
fi
online=$(mktemp)
trap 'rm -f "$online"' EXIT
echo "0-$((processors - 1))" >"$online"
export GTEST_FILTER='*EveryPictureOfACrowdedPageShows*'
unshare -m bash -c '
    mount --bind "$1" /sys/devices/system/cpu/online || exit 77
    test "$(cat /sys/devices/system/cpu/online)" = "$(cat "$1")" || exit 1
    exec "$2" "$3"' _ "$online" "$wine_run" "$program"
