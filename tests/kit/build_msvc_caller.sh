#!/usr/bin/env bash
# Builds a Visual C++ caller from the unpacked kit alone: clang for the MSVC ABI, lld-link against
# the kit's lib/VexoDLL.lib, with the linker settings the kit's lib/README.txt gives for Windows 9x.
# Also proves the header needs no <stdint.h> where Visual C++ 6.0 (_MSC_VER 1200) has none, and
# that every shipped example compiles on the header's branch for Visual C++ before 2010.
# Usage: build_msvc_caller.sh ZIP KIT-NAME OUT-DIR CALLER.c CLANG LLD-LINK LLVM-DLLTOOL
set -euo pipefail
zip=$1 name=$2 out=$3 caller=$4 clang=$5 lld_link=$6 dlltool=$7
rm -rf "$out"
mkdir -p "$out"
unzip -q "$zip" -d "$out"
kit=$out/$name
cd "$kit/examples"

header_as_msvc() {  # VERSION: compile only the header, with no system header reachable
  echo '#include "VexoDLL.h"' |
    "$clang" --target=i686-pc-windows-msvc -fms-compatibility-version="$1" -nostdinc \
             -I../include -fsyntax-only -x c -
}
header_as_msvc 12.00
if header_as_msvc 19.00 2>/dev/null; then
  echo "the header compiled without <stdint.h> where it needs it: the check proves nothing" >&2
  exit 1
fi

# Every shipped example compiles where the header takes that branch (Visual C++ 2005 here), with
# the C library's own headers, which define no uint32_t: an example that needs <stdint.h>'s types
# fails.
for example in *.c; do
  "$clang" -fsyntax-only -Werror -D_MSC_VER=1400 -D__int32=int -I../include "$example"
done
if echo 'uint32_t x;' | "$clang" -fsyntax-only -D_MSC_VER=1400 -D__int32=int -x c -include stdio.h \
     -include ../include/VexoDLL.h - 2>/dev/null; then
  echo "uint32_t is known without <stdint.h>: the examples' check proves nothing" >&2
  exit 1
fi

# No C runtime comes with LLVM: the caller imports three kernel32 functions, through an import
# library made here.
printf 'LIBRARY kernel32.dll\nEXPORTS\nGetStdHandle@4\nWriteFile@20\nExitProcess@4\n' > kernel32.def
"$dlltool" -m i386 -k -d kernel32.def -l kernel32.lib
"$clang" --target=i686-pc-windows-msvc -ffreestanding -Wall -Werror -I../include -c "$caller" \
         -o msvc_caller.obj
subsystem=$(grep -o -m1 '/SUBSYSTEM:CONSOLE,4.00' ../lib/README.txt || true)
[ -n "$subsystem" ] || { echo "lib/README.txt gives no Windows 9x subsystem setting" >&2; exit 1; }
"$lld_link" /nodefaultlib /entry:start "$subsystem" msvc_caller.obj ../lib/VexoDLL.lib kernel32.lib \
            /out:msvc_caller.exe
cp ../bin/VexoDLL.dll ../sim/vexolite.vxd .
