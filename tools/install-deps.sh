#!/usr/bin/env bash
# Installs the Debian packages the build and tests need; quiet and quick when
# everything is already there. Usage: install-deps.sh [native|windows|all]
set -euo pipefail
what=${1:-all}

# OpenJPEG and LittleCMS are built from source by tools/build-deps.sh (dpkg-dev,
# patch and xz-utils unpack Debian's source packages), never taken as binaries;
# opj_decompress (libopenjp2-tools) is only the colour tests' reference.
native=(cmake ninja-build g++ make googletest libgtest-dev clang libclang-rt-14-dev python3
        dpkg-dev patch xz-utils libopenjp2-tools)
# The print tests' queue: CUPS and its PDF printer (tools/print-queue.sh), pdftoppm to
# read the PDFs back, and libcups for the 32-bit Wine too, which loads it to print.
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools wine wine32 wine64 nsis
         xvfb xauth locales fonts-ipafont-gothic imagemagick
         cups printer-driver-cups-pdf poppler-utils libcups2:i386)

want=("${native[@]}")
[ "$what" = native ] || want+=("${windows[@]}")

missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo

if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    if [[ " ${missing[*]} " == *" wine32 "* || " ${missing[*]} " == *":i386 "* ]] &&
        ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Japanese runs of the Windows tests need the ja_JP.UTF-8 locale.
if [ "$what" != native ] && ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf-\?8$'; then
    $SUDO sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi
exit 0
