#!/usr/bin/env bash
# The Wine runner with a program that misbehaves: a crash ends the run at once, non-zero, with the
# runner's line naming the exception and where; a runner stopped by a signal, or killed outright
# as CTest does at a test's timeout, takes the program and its children with it.
# Usage: crash_and_kill.sh TEMPLATE PROGRAM
set -u
runner=$(cd "$(dirname "$0")/../../scripts" && pwd)/wine-run.sh
template=$1 program=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok   $1"; passed=$((passed + 1)); else echo "FAIL $1"; failed=$((failed + 1)); fi
}
none_left() { ! pgrep -fa -- "$1"; }

# A crash: at once (no debugger waits), a non-zero status, one line that says what happened.
start=$SECONDS
timeout 300 bash "$runner" "$template" -- "$program" crash > "$work/out" 2> "$work/err"
status=$?
check "a crash ends the program with a non-zero status (it was $status)" \
  test "$status" -ne 0 -a "$status" -ne 124
check "no debugger holds the run ($((SECONDS - start)) s)" test $((SECONDS - start)) -lt 240
check "the runner names the exception and where" \
  grep -qE '^wine-run: misbehaving_program\.exe crashed \(exit status [0-9]+\): Unhandled .* at address [0-9A-F]+' "$work/err"
[ $failed -eq 0 ] || cat "$work/err"

# Stopped by SIGTERM, then killed outright: nothing of the run stays.
for signal in TERM KILL; do
  name=hang-$signal-$$
  bash "$runner" "$template" -- "$program" hang "$name" > "$work/$name" 2>&1 &
  run=$!
  for _ in $(seq 600); do grep -q ready "$work/$name" && break; sleep 0.5; done
  check "the hanging program and its child started ($signal)" \
    test "$(pgrep -fc -- "$name")" -ge 3   # the runner, the program and its child
  kill -s "$signal" $run
  for _ in $(seq 60); do pgrep -f -- "$name" > /dev/null || break; sleep 0.5; done
  check "SIG$signal to the runner ends the program and its child" \
    none_left "$name"
done

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
