#!/usr/bin/env bash
# Builds the host build and the Windows build and runs every test of both.
# Installs what it needs first (as root). Build trees: build/host, build/win.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh
bash scripts/i386-code.sh  # which kind of machine the results below come from

jobs=$(nproc)
export VEXO_WINE_TEMPLATE=${VEXO_WINE_TEMPLATE:-/var/tmp/vexo-wine-template}

# The Wine prefix takes minutes to make the first time: make it while the compilers run.
bash scripts/wine-prefix.sh "$VEXO_WINE_TEMPLATE" > build-prefix.log 2>&1 &
prefix_job=$!

cmake -S . -B build/host -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVEXO_WERROR=ON
cmake --build build/host -j "$jobs"
cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXO_WERROR=ON \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw-i686.cmake"
cmake --build build/win -j "$jobs"

status=0
ctest --test-dir build/host -j "$jobs" --output-on-failure || status=1
if ! wait $prefix_job; then cat build-prefix.log >&2; exit 1; fi
ctest --test-dir build/win -j "$jobs" --output-on-failure || status=1
exit $status
