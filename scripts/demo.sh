#!/usr/bin/env bash
# The main job: builds the kit and runs the demo on the simulated card under Wine.
# Installs what it needs first (as root). Build tree: build/win.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh

export VEXO_WINE_TEMPLATE=${VEXO_WINE_TEMPLATE:-/var/tmp/vexo-wine-template}
bash scripts/wine-prefix.sh "$VEXO_WINE_TEMPLATE" > build-prefix.log 2>&1 &
prefix_job=$!

cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw-i686.cmake" > /dev/null
cmake --build build/win -j "$(nproc)"
cmake --build build/win --target package > /dev/null
if ! wait $prefix_job; then cat build-prefix.log >&2; exit 1; fi

exec bash scripts/demo-run.sh build/win
