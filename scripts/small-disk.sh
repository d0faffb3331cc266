#!/usr/bin/env bash
# Runs a command with a small file system of its own: a 1 MiB tmpfs, mounted in a mount namespace
# of a new user namespace, so that nothing of the host's is touched and no privilege is needed.
# Its Unix path is in VEXO_TEST_SMALL_DISK for the command and every process it starts.
# Usage: small-disk.sh -- COMMAND [ARGS...]
# Where the kernel allows no such namespace, the command runs without the file system, after a
# line that says why; cases that need it then say they were skipped.
set -euo pipefail
[ "${1:-}" = "--" ] && shift

if ! why=$(unshare --user --map-root-user --mount true 2>&1); then
  echo "small-disk: no user and mount namespace here (${why:-unshare failed}): the cases that" \
       "need a small file system are skipped" >&2
  exec "$@"
fi

disk=$(mktemp -d /tmp/vexo-small-disk.XXXXXX)
status=0
VEXO_TEST_SMALL_DISK=$disk unshare --user --map-root-user --mount \
  bash -c 'mount -t tmpfs -o size=1m vexo-small-disk "$VEXO_TEST_SMALL_DISK" && exec "$@"' \
  small-disk "$@" || status=$?
rmdir "$disk"
exit $status
