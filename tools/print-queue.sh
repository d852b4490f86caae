#!/usr/bin/env bash
# A real print queue for one test run: a CUPS scheduler of its own (its own
# socket, spool and state in FOLDER, so runs in several worktrees at once
# never meet) with Debian's PDF printer, cups-pdf, as the default queue
# "npkavrel-pdf" at 150 dpi, writing into FOLDER/out, and a second queue
# "stopped-pdf" that is stopped and refuses jobs. Wine's PostScript driver
# prints to them through libcups once CUPS_SERVER names the socket.
# Usage: tools/print-queue.sh start FOLDER   prints the variables to export
#        tools/print-queue.sh stop FOLDER
# Exits 77 where no queue can be made: cups-pdf runs only as root, and reads
# its settings from /etc/cups alone.
set -euo pipefail
action=$1
folder=$(mkdir -p "$2" && cd "$2" && pwd)
# cups-pdf reads /etc/cups/cups-pdf-NAME.conf for a device cups-pdf:/NAME.
name="npkavrel-$(printf %s "$folder" | md5sum | cut -c1-12)"
settings="/etc/cups/cups-pdf-$name.conf"

if [ "$action" = stop ]; then
    if [ -f "$folder/cupsd.pid" ]; then
        kill "$(cat "$folder/cupsd.pid")" 2>/dev/null || true
        rm -f "$folder/cupsd.pid"
    fi
    rm -f "$settings"
    exit 0
fi

if [ "$(id -u)" != 0 ] || ! command -v cupsd >/dev/null || [ ! -x /usr/lib/cups/backend/cups-pdf ]; then
    echo "no print queue: needs root, cups and printer-driver-cups-pdf" >&2
    exit 77
fi
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
# The scheduler's filters run as its unprivileged user: the folder (from
# mktemp, 0700) must let them through to the spool.
chmod 755 "$folder"
rm -rf "$folder/etc" "$folder/spool" "$folder/out"
mkdir -p "$folder/etc/ppd" "$folder/spool/tmp" "$folder/cache" "$folder/state" "$folder/log" "$folder/out"
cat >"$folder/etc/cups-files.conf" <<CONF
ServerRoot $folder/etc
RequestRoot $folder/spool
TempDir $folder/spool/tmp
CacheDir $folder/cache
StateDir $folder/state
ErrorLog $folder/log/error_log
AccessLog $folder/log/access_log
PageLog $folder/log/page_log
SystemGroup root
Sandboxing relaxed
CONF
cat >"$folder/etc/cupsd.conf" <<CONF
Listen $folder/cups.sock
LogLevel warn
Browsing No
<Location />
Order allow,deny
Allow all
</Location>
CONF
cat >"$settings" <<CONF
Out $folder/out
AnonDirName $folder/out
Spool $folder/spool/cups-pdf
Log $folder/log
CONF
cupsd -f -c "$folder/etc/cupsd.conf" -s "$folder/etc/cups-files.conf" </dev/null >"$folder/log/cupsd.out" 2>&1 &
echo $! >"$folder/cupsd.pid"
export CUPS_SERVER="$folder/cups.sock"
for _ in $(seq 100); do
    lpstat -r >/dev/null 2>&1 && break
    sleep 0.1
done
lpadmin -p npkavrel-pdf -E -v "cups-pdf:/$name" -P "$ppd" -o Resolution=150dpi 2>/dev/null
lpadmin -p stopped-pdf -E -v "cups-pdf:/$name" -P "$ppd" -o Resolution=150dpi 2>/dev/null
cupsdisable stopped-pdf
cupsreject stopped-pdf
lpadmin -d npkavrel-pdf
echo "CUPS_SERVER=$CUPS_SERVER"
echo "NPKAVREL_PRINT_OUT=$folder/out"
