#!/usr/bin/env bash
# Runs one Windows program under Wine in a fresh copy of the template prefix and returns its exit
# code. Usage: wine-run.sh [--gui] [--keep DIR] [--windows VERSION] [--launch VEXOSIM] TEMPLATE --
#               PROGRAM [ARGS...]
#   --gui      run on a private Xvfb display (dialogs that are looked at); without it Wine's null
#              display driver runs dialogs without drawing them.
#   --keep     leave the prefix in DIR afterwards (for screenshots and debugging).
#   --windows  the Windows version Wine plays in this copy (winxp, win7, win10; the template's is
#              win98).
#   --launch   start the program through VEXOSIM run, as a developer on Windows NT starts it.
# The program's folder becomes the working directory, so DLLs and vexolite.vxd beside it load.
# Where the kernel runs no 32-bit code, every 32-bit Wine process takes about a minute to start
# under an emulated i386 user space, so Windows-side tests are few programs that each run many cases.
set -euo pipefail
# No step of this script fails without saying which (the program's own status is returned as is).
trap 'echo "wine-run: line $LINENO failed with status $?: $BASH_COMMAND" >&2' ERR
gui=0 keep= windows= launcher=
while [ $# -gt 0 ]; do
  case $1 in
    --gui) gui=1; shift ;;
    --keep) keep=$2; shift 2 ;;
    --windows) windows=$2; shift 2 ;;
    --launch) launcher=$2; shift 2 ;;
    *) break ;;
  esac
done
template=$1; shift
[ "$1" = "--" ] && shift
program=$1; shift

if [ -n "$keep" ]; then prefix=$keep; rm -rf "$prefix"; mkdir -p "$prefix"
else prefix=$(mktemp -d /tmp/vexo-wine.XXXXXX); fi
errors=$prefix.stderr  # the program's error output, kept to find Wine's line about a crash

stamp=$(bash "$(dirname "$0")/wine-prefix.sh" --stamp)
if [ ! -e "$template/$stamp" ]; then
  echo "wine-run: $template was not made by the current recipe (no $stamp);" \
       "make it anew with scripts/wine-prefix.sh $template" >&2
  exit 1
fi

# The DLLs of the template are never written: link them. Copy the registry files and the update
# timestamp (without it Wine would bring the copy up to date again, which takes minutes).
cp -al "$template/drive_c" "$prefix/drive_c"
cp -a "$template/dosdevices" "$prefix/dosdevices"
cp "$template"/*.reg "$template/.update-timestamp" "$prefix/"
# Every run starts with the simulated card at power-on: no card file in the copy (one linked from
# the template would even carry this run's writes back into it), none named from outside.
rm -f "$prefix/drive_c/windows/vexolite-card.bin"
rm -rf "$prefix/drive_c/ProgramData/VexoLite"
unset VEXO_SIM_CARD
# Another Windows version for the whole copy: the template's value replaced before Wine reads it.
if [ -n "$windows" ]; then
  sed -i "s/^\"Version\"=\"win98\"/\"Version\"=\"$windows\"/" "$prefix/user.reg"
  grep -q "^\"Version\"=\"$windows\"" "$prefix/user.reg" ||
    { echo "wine-run: the template's user.reg names no Windows version to replace" >&2; exit 1; }
fi

export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -z "$keep" ] && rm -rf "$prefix"
  rm -f "$errors"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

# CTest ends a test at its timeout by killing this script outright (SIGKILL), which no trap sees:
# the program, its children and the prefix's wineserver would run on. A watcher outside the
# script ends the prefix's Wine processes and removes the copy once the script is gone.
watch_over() {
  while kill -0 "$1" 2>/dev/null; do sleep 1; done
  wineserver -k || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" || true
  [ -z "$keep" ] && rm -rf "$prefix"
  rm -f "$errors"
}

if [ $gui = 1 ]; then
  for n in $(seq 90 140); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 & xvfb_pid=$!
    sleep 1
    kill -0 $xvfb_pid 2>/dev/null && { export DISPLAY=:$n; break; }
    xvfb_pid=
  done
  [ -n "$xvfb_pid" ] || { echo "wine-run: no free X display" >&2; exit 1; }
  driver=x11 driver_module=winex11.drv
else
  unset DISPLAY
  driver=null driver_module=null
fi

watch_over $$ </dev/null >/dev/null 2>&1 &

# The first Wine process of a prefix starts its desktop process, which picks the display driver
# once, from the registry as it is then. A `reg add` would itself be that first process and set
# the driver too late for the desktop it should govern, so the choice goes into the copied
# registry file before any Wine process starts.
printf '\n[Software\\\\Wine\\\\Drivers]\n"Graphics"="%s"\n' "$driver" >> "$prefix/user.reg"

# Bring the desktop up now and ask it which driver it loaded: it records the driver, or why none
# would load, in the volatile Video key. A wrong driver fails here with its reason instead of as
# a window that cannot be created deep inside a test. The desktop process may still be starting
# when the first query runs, so a key that names nothing yet is asked again for 15 seconds. reg.exe
# is a 64-bit program: wine64 starts it natively, also where 32-bit code is emulated.
query_video_driver() {
  query_status=0
  video_key=$(/usr/lib/wine/wine64 reg query 'HKLM\System\CurrentControlSet\Control\Video' /s 2>&1) ||
    query_status=$?
  video=$(printf '%s\n' "$video_key" | tr -d '\r' |
          sed -n 's/^ *\(GraphicsDriver\|DriverError\) *REG_SZ *//p' | tail -n 1)
}
query_video_driver
queries=1 ask_until=$((SECONDS + 15))
while [ -z "$video" ] && [ $SECONDS -lt $ask_until ]; do
  sleep 0.5
  query_video_driver
  queries=$((queries + 1))
done
[ $queries -gt 1 ] && echo "wine-run: the desktop's driver key was asked $queries times" >&2
if [ "$video" != "$driver_module" ]; then
  echo "wine-run: Wine's desktop did not load the $driver display driver (it says: ${video:-nothing});" \
       "every window of the program would fail. reg query ended with status $query_status:" >&2
  printf '%s\n' "$video_key" | tr -d '\r' | sed 's/^/  /' >&2
  exit 1
fi

# The program runs in the background so that a signal to this script ends it (and the prefix) at
# once; its standard input stays this script's. Wine's automatic debugger is off in the template
# (sim/vexolite-wine.reg): an unhandled exception ends the program with one line from Wine, which
# the runner repeats last, with the program's name.
cd "$(dirname "$program")"
if [ -n "$launcher" ]; then
  windows_program=Z:${program//\//\\}
  set -- run "$windows_program" "$@"
  program=$launcher
fi
wine "$program" "$@" <&0 2> >(tee "$errors" >&2) &
rc=0
wait $! || rc=$?
wineserver -w || true
crash=$(grep -a -m 1 '^wine: Unhandled' "$errors" 2>/dev/null | sed 's/, starting debugger.*//; s/\r$//' || true)
[ -n "$crash" ] && echo "wine-run: $(basename "$program") crashed (exit status $rc): ${crash#wine: }" >&2
exit $rc
