#!/usr/bin/env bash
# Makes the Wine prefix that every Windows-side test and the demo start from, once: later runs
# find it ready. Usage: wine-prefix.sh DIR
#
# The prefix runs as Windows 98 (the driver path is a VxD), never waits for a window manager,
# and maps the dialog font's face name to a Japanese proportional font that Debian ships.
set -euo pipefail
dir=$1
here=$(cd "$(dirname "$0")" && pwd)
stamp="$dir/.vexo-prefix-$(sha1sum "$0" | cut -c1-12)"
[ -e "$stamp" ] && exit 0

rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
echo "wine-prefix: making $dir (a few minutes, once)" >&2
wineboot -i >/dev/null 2>&1
wineserver -w

# A UTF-16LE .reg file carries the non-ASCII face name reliably.
reg=$(mktemp --suffix=.reg)
python3 - "$reg" <<'PY'
import sys
text = (
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Wine]\r\n"
    "\"Version\"=\"win98\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"
    "\"Managed\"=\"N\"\r\n\"Decorated\"=\"Y\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"
    "\"\uff2d\uff33 \uff30\u30b4\u30b7\u30c3\u30af\"=\"IPAPMincho\"\r\n\r\n"
)
open(sys.argv[1], "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
PY
/usr/lib/wine/wine64 regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
rm -f "$reg"
wineserver -w
touch "$stamp"
echo "wine-prefix: ready" >&2
