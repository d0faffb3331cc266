#!/usr/bin/env bash
# Makes the Wine prefix that every Windows-side test and the demo start from, once: later runs
# find it ready. Usage: wine-prefix.sh DIR     make DIR unless it holds this recipe's stamp
#                       wine-prefix.sh --stamp  print the stamp file's name for this recipe
#
# The prefix runs as Windows 98 (the driver path is a VxD), never waits for a window manager or
# in Wine's automatic debugger (a crash ends the program at once), and maps the dialog font's
# face name to a Japanese proportional font that Debian ships.
# It holds no display driver setting: wine-run.sh writes one into each copy before Wine starts.
set -euo pipefail
user_settings=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/sim/vexolite-wine.reg

# The stamp names everything that shapes the template: this script, the registry settings it
# imports, the Wine packages that made it and the fonts it lists. A change to any of them makes a
# new template, and wine-run.sh refuses a template whose stamp is not this recipe's.
recipe_stamp() {
  { cat "${BASH_SOURCE[0]}" "$user_settings"
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

# The settings users get (sim/vexolite-wine.reg: Windows 98 mode, the dialog font's replacement),
# then the test harness's own: windows never wait for a window manager.
to_wine_path() { echo "Z:${1//\//\\}"; }
/usr/lib/wine/wine64 regedit /S "$(to_wine_path "$user_settings")" >/dev/null 2>&1
reg=$(mktemp --suffix=.reg)
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n"Decorated"="Y"\r\n' \
  > "$reg"
/usr/lib/wine/wine64 regedit /S "$(to_wine_path "$reg")" >/dev/null 2>&1
rm -f "$reg"
wineserver -w
if ! grep -q '^"Version"="win98"' "$dir/user.reg" ||
   ! grep -q '^\[Software\\\\Wine\\\\Fonts\\\\Replacements\]' "$dir/user.reg" ||
   ! grep -q '^"winedbg.exe"=""' "$dir/user.reg"; then
  echo "wine-prefix: regedit did not import $user_settings" >&2
  exit 1
fi
if grep -q '^\[Software\\\\Wine\\\\Drivers\]' "$dir/user.reg"; then
  echo "wine-prefix: the template must not choose a display driver; wine-run.sh does" >&2
  exit 1
fi
touch "$stamp"
echo "wine-prefix: ready" >&2
