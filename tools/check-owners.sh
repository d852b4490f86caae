#!/bin/bash
# Checks that each part of the instance record (PluginInstance in
# host/plugin.h) is written by its owner file only: an assignment to one of
# its fields, an increment, an atomic store or exchange on one, or a
# non-const pointer to the part, anywhere else in the product folders is
# reported. Tests may set up records as they like and are not checked.
# Usage: tools/check-owners.sh [repository root]
set -uo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

# part  owner
owners="
element   host/instance_lifecycle.cpp
window    window/window_proc.cpp
reception host/stream.cpp
picture   host/picture_levels.cpp
scroll    window/scrolling.cpp
zoom      window/zoom.cpp
pointer   window/view_input.cpp
paint     window/paint_window.cpp
queue     host/decode_queue.cpp
arrival   host/partial_picture.cpp
region    host/region_view.cpp
sequence  host/picture_sequence.cpp
modal     host/instance_lifecycle.cpp
"
status=0

# Every part the record holds must have a row, so a new part is not left
# unchecked.
declared="$(sed -n '/^struct PluginInstance {/,/^};/p' host/plugin.h | sed -nE 's/^ +[A-Za-z_]+ ([a-z]+);.*/\1/p')"
for part in $declared; do
    if ! grep -qE "^$part " <<<"$owners"; then
        echo "part '$part' of the record has no owner in tools/check-owners.sh"
        status=1
    fi
done

files="$(git ls-files --cached --others --exclude-standard host window commands 2>/dev/null || find host window commands -type f)"
files="$(grep -E '\.(h|cpp)$' <<<"$files")"
while read -r part owner; do
    [ -z "$part" ] && continue
    field="->$part(\\.[A-Za-z_]+(\\[[^]]*\\])?)+"
    write="$field\\s*([-+*/|&^]?=[^=]|\\+\\+|--)|(\\+\\+|--)\\s*[A-Za-z_]+$field|(StoreRelease|__atomic_(store|exchange|fetch|add|sub|compare)[a-z_]*)\\(\\s*&[A-Za-z_]+$field"
    pointer="^[^/]*[^t] [A-Za-z_]+\\* *[A-Za-z_]+ = &[A-Za-z_]+->$part\\b"
    for file in $files; do
        [ "$file" = "$owner" ] && continue
        hits="$(grep -nE -e "$write|$pointer" "$file" | grep -vE '^[0-9]+:\s*//')"
        if [ -n "$hits" ]; then
            sed "s|^|$file:|; s|$|   (part '$part' belongs to $owner)|" <<<"$hits"
            status=1
        fi
    done
done <<<"$owners"
[ $status -eq 0 ] && echo "owners: every part of the record is written by its owner file only"
exit $status
