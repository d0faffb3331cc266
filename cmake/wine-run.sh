#!/usr/bin/env bash
# Runs one Windows program under Wine in a fresh copy of the template prefix and returns its exit
# code. Usage: wine-run.sh [--gui] [--keep DIR] TEMPLATE -- PROGRAM [ARGS...]
#   --gui   run on a private Xvfb display (dialogs that are looked at); without it Wine's null
#           display driver runs dialogs without drawing them.
#   --keep  leave the prefix in DIR afterwards (for screenshots and debugging).
# The program's folder becomes the working directory, so DLLs and vexolite.vxd beside it load.
# Where the kernel runs no 32-bit code, every 32-bit Wine process takes about a minute to start
# under an emulated i386 user space, so Windows-side tests are few programs that each run many cases.
set -euo pipefail
gui=0 keep=
while [ $# -gt 0 ]; do
  case $1 in
    --gui) gui=1; shift ;;
    --keep) keep=$2; shift 2 ;;
    *) break ;;
  esac
done
template=$1; shift
[ "$1" = "--" ] && shift
program=$1; shift

if [ -n "$keep" ]; then prefix=$keep; rm -rf "$prefix"; mkdir -p "$prefix"
else prefix=$(mktemp -d /tmp/vexo-wine.XXXXXX); fi

# The DLLs of the template are never written: link them. Copy the registry files and the update
# timestamp (without it Wine would bring the copy up to date again, which takes minutes).
cp -al "$template/drive_c" "$prefix/drive_c"
cp -a "$template/dosdevices" "$prefix/dosdevices"
cp "$template"/*.reg "$template/.update-timestamp" "$prefix/"

export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -z "$keep" ] && rm -rf "$prefix"
}
trap cleanup EXIT

if [ $gui = 1 ]; then
  for n in $(seq 90 140); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 & xvfb_pid=$!
    sleep 1
    kill -0 $xvfb_pid 2>/dev/null && { export DISPLAY=:$n; break; }
    xvfb_pid=
  done
  [ -n "$xvfb_pid" ] || { echo "wine-run: no free X display" >&2; exit 1; }
else
  unset DISPLAY
  # reg.exe is a 64-bit program: wine64 starts it natively; plain `wine` would first start the
  # emulated 32-bit loader.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
fi

cd "$(dirname "$program")"
set +e
wine "$program" "$@"
rc=$?
set -e
wineserver -w || true
exit $rc
