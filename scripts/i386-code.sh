#!/usr/bin/env bash
# How this machine runs 32-bit x86 code, which Wine's 32-bit side needs: natively, or through the
# qemu-i386 user-mode emulator registered with binfmt_misc. install-deps.sh sources it; run by
# itself it prints one line: "32-bit code: native" or "32-bit code: qemu-i386 10.0.2".

binfmt_dir=/proc/sys/fs/binfmt_misc
qemu_entry=$binfmt_dir/qemu-i386

# The smallest i386 Linux program: one loadable segment whose code is exit(0).
write_i386_probe() {
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0'                       # 32-bit, little-endian
  printf '\2\0\3\0\1\0\0\0\124\200\4\010\064\0\0\0\0\0\0\0\0\0\0\0' # executable, i386, entry
  printf '\064\0\040\0\1\0\050\0\0\0\0\0'                         # one program header
  printf '\1\0\0\0\0\0\0\0\0\200\4\010\0\200\4\010\135\0\0\0\135\0\0\0\5\0\0\0\0\020\0\0'
  printf '\270\1\0\0\0\061\333\315\200'                           # mov eax,1; xor ebx,ebx; int 0x80
}

# Whether the kernel itself runs 32-bit code: the probe runs with any qemu-i386 entry switched
# off for that moment.
i386_runs_natively() {
  local probe switched= status
  probe=$(mktemp)
  write_i386_probe > "$probe"
  chmod +x "$probe"
  if grep -qx enabled "$qemu_entry" 2>/dev/null && echo 0 2>/dev/null > "$qemu_entry"; then
    switched=1
  fi
  "$probe" 2>/dev/null
  status=$?
  [ -n "$switched" ] && echo 1 > "$qemu_entry"
  rm -f "$probe"
  return $status
}

# The emulator an enabled binfmt entry sends 32-bit programs to; nothing when none does.
qemu_in_use() {
  grep -qx enabled "$qemu_entry" 2>/dev/null && sed -n 's/^interpreter //p' "$qemu_entry"
}

qemu_version() {
  "$1" --version 2>/dev/null | sed -n '1s/^qemu-[a-z0-9_]* version \([0-9.]*\).*/\1/p'
}

i386_code_line() {
  local qemu
  qemu=$(qemu_in_use)
  if [ -n "$qemu" ]; then
    echo "32-bit code: qemu-i386 $(qemu_version "$qemu")"
  else
    echo "32-bit code: native"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then i386_code_line; fi
