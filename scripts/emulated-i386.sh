#!/usr/bin/env bash
# Runs a command as on a machine whose kernel runs no 32-bit code: inside a user and mount
# namespace of its own, every 32-bit program goes through qemu-i386, while the rest of the machine
# and every other run are left as they are.
#   scripts/emulated-i386.sh COMMAND [ARGS...]
#   e.g. VEXO_WINE_TEMPLATE=$(mktemp -d)/t scripts/emulated-i386.sh bash scripts/test.sh
# Needs a kernel that gives each user namespace its own binfmt_misc (6.7 or later) and
# qemu-user-static 8.1 or later (install-deps.sh --with-qemu brings it from the release's backports).
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }
qemu=/usr/bin/qemu-i386-static
[ -x "$qemu" ] || { echo "emulated-i386: no $qemu; run scripts/install-deps.sh --with-qemu" >&2; exit 1; }

# Inside the namespace: a binfmt_misc of its own, one entry with flag F (the interpreter is opened
# now, so it works in every mount namespace below), then the command.
inside() {
  local dir=/proc/sys/fs/binfmt_misc
  if ! mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null; then
    echo "emulated-i386: this kernel gives a user namespace no binfmt_misc of its own" >&2
    exit 1
  fi
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    > "$dir/register"
  exec "$@"
}

export -f inside
export qemu
exec unshare --user --map-root-user --mount --fork bash -c 'inside "$@"' inside "$@"
