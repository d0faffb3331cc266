#!/usr/bin/env bash
# Runs the Wine recipe of the kit's docs/without-a-card.md as a user would: the sh blocks marked
# <!-- recipe -->, in order, in one shell, each starting in the unpacked kit's folder as the
# document says, with a home folder of their own and no display (the kit's copy has Windows line
# ends, which a shell would take as part of each command). Passes when vexotool found the
# simulated card and the example left its bus trace, window loads and stores in it.
# Usage: run_wine_recipe.sh ZIP KIT-NAME OUT-DIR
set -euo pipefail
zip=$1 name=$2 out=$3
rm -rf "$out"
mkdir -p "$out/home"
unzip -q "$zip" -d "$out"
kit=$out/$name
cd "$kit"

recipe=$(awk -v kit="$kit" '{ sub(/\r$/, "") }
              /<!-- recipe -->/ { marked = 1; next }
              marked && /^ *```sh/ { inside = 1; printf "cd \"%s\"\n", kit; next }
              inside && /^ *```/ { inside = 0; marked = 0; next }
              inside { sub(/^   /, ""); print }' docs/without-a-card.md)
[ -n "$recipe" ] || { echo "docs/without-a-card.md marks no recipe" >&2; exit 1; }
printf '%s\n' "$recipe" | sed 's/^/+ /'

export HOME=$out/home
unset DISPLAY WINEPREFIX WINEDEBUG WINEARCH
trap 'WINEPREFIX=$HOME/.wine-vexo wineserver -k >/dev/null 2>&1 || true' EXIT
output=$(bash -euo pipefail -c "$recipe" 2>&1) || { echo "$output"; echo "the recipe failed" >&2; exit 1; }
echo "$output"
grep -Eq 'vendor id +0x10CF' <<<"$output" && grep -q 'memtest internal: PASS' <<<"$output" || { echo "vexotool did not find the simulated card, or its memory test failed" >&2; exit 1; }
grep -q 'All three patterns read back correctly' <<<"$output" &&
  head -n 1 "$kit/myapp/trace.txt" | grep -q '^# vexolite.vxd bus trace' ||
  { echo "the example did not run, or left no bus trace in myapp/trace.txt" >&2; exit 1; }
head -n 1 "$HOME/tool-trace.txt" | grep -q '^# vexolite.vxd bus trace' ||
  { echo "vexotool left no bus trace in the home folder" >&2; exit 1; }
grep -Eq '^[0-9]+ [0-9]+ load (int|ext) ' "$kit/myapp/trace.txt" &&
  grep -Eq '^[0-9]+ [0-9]+ store (int|ext) ' "$kit/myapp/trace.txt" ||
  { echo "the example's bus trace holds no window loads or no window stores" >&2; exit 1; }
