#!/usr/bin/env bash
# Makes the Wine prefix that every Windows-side test and the demo start from, once: later runs
# find it ready. Usage: wine-prefix.sh DIR     make DIR unless it holds this recipe's stamp
#                       wine-prefix.sh --stamp  print the stamp file's name for this recipe
#
# The prefix runs as Windows 98 (the driver path is a VxD), never waits for a window manager,
# and maps the dialog font's face name to a Japanese proportional font that Debian ships.
# It holds no display driver setting: wine-run.sh writes one into each copy before Wine starts.
set -euo pipefail

# The stamp names everything that shapes the template: this script (with the registry settings
# below), the Wine packages that made it and the fonts it lists. A change to any of them makes a
# new template, and wine-run.sh refuses a template whose stamp is not this recipe's.
recipe_stamp() {
  { cat "${BASH_SOURCE[0]}"
    dpkg-query -W -f='${Package} ${Version}\n' wine wine64 'wine32:i386' 'libwine:i386' libwine \
      fonts-wine fonts-ipafont-mincho 2>/dev/null || true
  } | sha1sum | cut -c1-12
}
if [ "${1:-}" = --stamp ]; then
  echo ".vexo-prefix-$(recipe_stamp)"
  exit 0
fi

dir=$1
stamp="$dir/.vexo-prefix-$(recipe_stamp)"
[ -e "$stamp" ] && exit 0

rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
echo "wine-prefix: making $dir (a few minutes, once)" >&2
wineboot -i >/dev/null 2>&1
wineserver -w

# Wine's own fonts (fonts-wine) belong in the prefix's Fonts folder: this Wine does not load them
# from its data folder, and without Marlett a title bar's close box shows a stray letter.
cp /usr/share/wine/fonts/* "$dir/drive_c/windows/Fonts/"

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
if grep -q '^\[Software\\\\Wine\\\\Drivers\]' "$dir/user.reg"; then
  echo "wine-prefix: the template must not choose a display driver; wine-run.sh does" >&2
  exit 1
fi
touch "$stamp"
echo "wine-prefix: ready" >&2
