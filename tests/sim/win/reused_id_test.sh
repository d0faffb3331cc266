#!/usr/bin/env bash
# A program killed while it holds the card's bus, whose process id then goes to a program that
# never uses the card: the next card program gets the card within seconds all the same.
#
# Under Wine the first process of a freshly started Wine server always gets the same id, so the
# killed holder and the idle program after it are each the first process of a server of their
# own, one after the other in one prefix: a Windows program cannot restart its server, hence a
# script. Usage: reused_id_test.sh TEMPLATE FOLDER (FOLDER holds the test programs beside
# vexotool.exe, vexosim.exe, VexoDLL.dll and vexolite.vxd).
set -euo pipefail
template=$1 folder=$2
scripts=$(cd "$(dirname "$0")/../../../scripts" && pwd)
# s: how long a Wine program may take to start where 32-bit code is emulated by an older qemu.
patience=180

prefix=$(mktemp -d /tmp/vexo-reused-id.XXXXXX)
out=$prefix.out
started=()
cleanup() {
  for pid in "${started[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$prefix" "$out"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; [ -s "$out" ] && sed 's/^/    /' "$out"; exit 1; }

# Waits until the file $out holds the text $1; fails after $patience seconds.
wait_for() {
  local until=$((SECONDS + patience))
  until grep -q "$1" "$out" 2>/dev/null; do
    [ $SECONDS -lt $until ] || fail "no '$1' after $patience s"
    sleep 0.2
  done
}

# A prefix of this test's own, made as every Windows test's is, with the card at power-on.
"$scripts/wine-run.sh" --keep "$prefix" "$template" -- "$folder/vexosim.exe" reset
# wine-run.sh leaves a watcher behind that ends the prefix's Wine server once the script is gone;
# it must be done before this test's programs start.
until=$((SECONDS + 30))
while pgrep -f -- "--keep $prefix" >/dev/null && [ $SECONDS -lt $until ]; do sleep 0.2; done
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cd "$folder"

wine ./sim_shared_card_test.exe --die-holding-the-bus >"$out" 2>&1 &
started+=($!)
wait_for "holding the bus as process"
holder=$(sed -n 's/.*holding the bus as process \([0-9]*\).*/\1/p' "$out" | tr -d '\r')
kill -9 "${started[0]}"
wineserver -w

wine ./sim_idle_program.exe >"$out" 2>&1 &
started+=($!)
wait_for "idle as process"
idle=$(sed -n 's/.*idle as process \([0-9]*\).*/\1/p' "$out" | tr -d '\r')
[ "$idle" = "$holder" ] ||
  fail "the idle program got process id $idle, not the killed holder's $holder: nothing was shown"

status=0
timeout $patience wine ./vexotool.exe write 0x8000 0x42 + read 0x8000 1 >"$out" 2>&1 || status=$?
[ $status -ne 124 ] || fail "the next program still waited after $patience s for the killed holder"
[ $status -eq 0 ] && grep -q "00008000  42" "$out" || fail "vexotool ended with status $status"
echo "ok   the killed holder's id ($holder) runs an idle program; the next program got the card"
