#!/usr/bin/env bash
# Unpacks the kit's zip into a clean folder and builds the example there exactly as the
# examples' README tells a MinGW user, then puts the packaged DLL and simulated card beside it.
# Usage: build_packaged_example.sh ZIP KIT-NAME OUT-DIR
set -euo pipefail
zip=$1 name=$2 out=$3
rm -rf "$out"
mkdir -p "$out"
unzip -q "$zip" -d "$out"
cd "$out/$name/examples"
line=$(grep -m1 'i686-w64-mingw32-gcc' README.txt | sed 's/^ *//; s/\r$//')
[ -n "$line" ] || { echo "examples/README.txt gives no MinGW build line" >&2; exit 1; }
echo "+ $line"
eval "$line"
cp ../bin/VexoDLL.dll ../sim/vexolite.vxd .
ls -l vexo_example.exe
