#!/usr/bin/env bash
# The demo, after the Windows build: the example program and vexotool under Wine, with the
# simulated card standing in for the driver and the card. Usage: demo-run.sh WINDOWS-BUILD-DIR
#
# Both programs run at once (each Wine process takes about a minute to start where 32-bit code is
# emulated); their output is shown in order.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
demo=$build/demo
template=${VEXO_WINE_TEMPLATE:-/var/tmp/vexo-wine-template}
tool_commands=(info + fill 0x8010 16 0xA5 + dump 0x8000 48 + memtest internal
               + memtest external)

for file in VexoDLL.dll vexotool.exe vexo_example.exe vexolite.vxd; do
  [ -f "$demo/$file" ] || { echo "demo-run: $demo/$file is missing; build first" >&2; exit 1; }
done
bash "$here/wine-prefix.sh" "$template"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

cat <<TEXT
VexoLite kit demo
=================
No card is fitted here: vexolite.vxd simulates the VexoLite driver and the card under Wine
(Windows 98 mode). VexoDLL.dll, the example and vexotool are the binaries of the kit.
Starting both programs under Wine (about a minute)...

TEXT

"$here/wine-run.sh" "$template" -- "$demo/vexo_example.exe" > "$out/example" 2>&1 &
example_job=$!
"$here/wine-run.sh" "$template" -- "$demo/vexotool.exe" "${tool_commands[@]}" > "$out/tool" 2>&1 &
tool_job=$!
example_status=0 tool_status=0
wait $example_job || example_status=$?
wait $tool_job || tool_status=$?

echo "\$ vexo_example.exe          (examples/vexo_example.c)"
sed 's/\r$//' "$out/example"
echo "[exit code $example_status]"
echo
echo "\$ vexotool.exe ${tool_commands[*]}"
sed 's/\r$//' "$out/tool"
echo "[exit code $tool_status]"
echo
if [ $example_status -eq 0 ] && [ $tool_status -eq 0 ]; then
  # This build's kit, not one an older version left in the folder.
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null)
  kit="$build/package/VexoKit-$version.zip"
  [ -n "$version" ] && [ -e "$kit" ] || kit=
  echo "Demo complete.${kit:+ The kit to hand out: $kit}"
else
  echo "Demo FAILED (example exit code $example_status, vexotool exit code $tool_status)." >&2
  exit 1
fi
