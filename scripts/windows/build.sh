#!/bin/sh
# Cross-builds quilm.exe, quilm-tool.exe and quilm_tests.exe for 64-bit Windows into
# build-windows/ (or $1): installs the toolchain, builds or reuses the dependency prefix
# (scripts/windows/deps.sh), then configures with the MinGW-w64 toolchain file and builds.
# The data set step runs quilm-tool on the build machine, which a .exe cannot: it stays off.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${1:-$root/build-windows}
jobs=${QUILM_WIN_JOBS:-2}
sh "$here/install-packages.sh"
prefix=$(sh "$here/deps.sh" | tail -n1)
launcher=""
if command -v ccache >/dev/null 2>&1; then
    launcher="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
fi
# shellcheck disable=SC2086
cmake -S "$root" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64-x86_64.cmake" \
    -DQUILM_WIN_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILM_BENCH=OFF \
    -DQUILM_DATA=OFF $launcher
cmake --build "$out" -j"$jobs"
