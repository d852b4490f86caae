#!/bin/bash
# Runs the save test whose disk fills up part way: a 1 MiB tmpfs in a private
# mount namespace, reached by its Z: path. Wine opens files in its server
# process, which must see the mount, so the test gets a server of its own
# there: the prefix is seen through an overlay whose changes (the server's
# address, the registry) vanish with the namespace. Needs root; skipped (77)
# otherwise. Usage: full_disk.sh WINE_RUN COMMANDS_TEST_EXE (WINEPREFIX set)
set -euo pipefail
if [ "$(id -u)" != 0 ]; then
    echo "full-disk save test skipped: a private mount namespace needs root"
    exit 77
fi
bash "$1" --prepare-only
scratch="$(mktemp -d)"
trap 'rmdir "$scratch"' EXIT
status=0
unshare -m bash -euo pipefail -c '
    mount --make-rprivate /
    mount -t tmpfs -o mode=0700 npkavrel-scratch "$3"
    mkdir "$3/disk" "$3/upper" "$3/work"
    mount -t tmpfs -o size=1m npkavrel-full-disk "$3/disk"
    mount -t overlay npkavrel-prefix -o "lowerdir=$WINEPREFIX,upperdir=$3/upper,workdir=$3/work" "$WINEPREFIX"
    rm -f "$WINEPREFIX/wineserver"
    status=0
    NPKAVREL_FULL_DISK="Z:${3//\//\\}\\disk" "$1" "$2" --gtest_filter=SaveImage.FullDiskKeepsTheOldFile ||
        status=$?
    server="$(cat "$WINEPREFIX/wineserver" 2>/dev/null || true)"
    wineserver -w || true
    [ -z "$server" ] || rm -rf "/tmp/$server"
    exit "$status"
' full_disk "$1" "$2" "$scratch" || status=$?
exit "$status"
