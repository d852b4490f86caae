#!/bin/bash
# Checks the include graph of the product folders: which folder may include
# which, and no include cycle between files. Prints the folder graph.
# Allowed: window -> host, commands; commands -> host; every folder ->
# decode and resources; host -> window through window/window.h only, a
# header that includes no header of ours (so host and window never include
# each other back through a header). decode includes none of the others.
# decoder (the decoder process and its job protocol) -> decode, and -> host
# through host/received_bytes.h only (the store's mapping of sections);
# host -> decoder (the protocol).
# Usage: tools/check-layers.sh [repository root]
set -uo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"
folders="decode decoder host window commands resources"
allowed=" window>host window>commands commands>host host>decode window>decode commands>decode host>resources window>resources commands>resources decoder>decode host>decoder "
status=0

# "file included" pairs for every quoted include of a product file.
# The files git knows (tracked or new), or every file outside a checkout.
files="$(git ls-files --cached --others --exclude-standard $folders 2>/dev/null || find $folders -type f)"
edges="$(grep -HnE '^#include "' $(grep -E '\.(h|cpp|rc)$' <<<"$files") |
    sed -E 's/^([^:]+):[0-9]+:#include "([^"]+)".*/\1 \2/' |
    while read -r file included; do
        case "$included" in
        */*) ;;
        *) [ -e "$(dirname "$file")/$included" ] && included="$(dirname "$file")/$included" ||
            included="resources/$included" ;;
        esac
        echo "$file $included"
    done)"

echo "folder graph (from > to: files):"
while read -r file included; do
    from="${file%%/*}" to="${included%%/*}"
    [ "$from" = "$to" ] && continue
    echo "$from>$to $file"
done <<<"$edges" | sort | awk '{n[$1]++} END {for (e in n) print "  " e ": " n[e]}' | sort

while read -r file included; do
    from="${file%%/*}" to="${included%%/*}"
    [ "$from" = "$to" ] && continue
    case "$allowed" in *" $from>$to "*) continue ;; esac
    if [ "$from>$to" = "host>window" ] && [ "$included" = "window/window.h" ]; then
        continue
    fi
    if [ "$from>$to" = "decoder>host" ] && [ "$included" = "host/received_bytes.h" ]; then
        continue
    fi
    echo "not allowed: $file includes $included"
    status=1
done <<<"$edges"

if grep -qE '^#include "' window/window.h; then
    echo "not allowed: window/window.h includes a header of ours"
    status=1
fi

# tsort reports any loop in the file-level include graph.
if ! cut -d' ' -f1,2 <<<"$edges" | tsort >/dev/null 2>/tmp/check-layers.$$; then
    cat /tmp/check-layers.$$
    status=1
fi
rm -f /tmp/check-layers.$$
[ $status -eq 0 ] && echo "layers: no include outside the allowed directions, no include cycle"
exit $status
