#!/bin/sh
# Builds the host parts (deflate core, its tests, the benchmark) and the 32-bit
# Windows programs with their tests.
#   scripts/build.sh              everything
#   scripts/build.sh TARGET...    only these targets of the Windows build
# BUILD_ROOT (default: build) holds $BUILD_ROOT/host and $BUILD_ROOT/win.
set -e
cd "$(dirname "$0")/.."
root="${BUILD_ROOT:-build}"
jobs="$(nproc 2>/dev/null || echo 4)"
if [ $# -eq 0 ]; then
    cmake -S . -B "$root/host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$root/host" -j "$jobs"
    host_option="-DHOST_BUILD_DIR=$(cd "$root/host" && pwd)"
fi
cmake -S . -B "$root/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32.cmake ${host_option:-} >/dev/null
if [ $# -eq 0 ]; then
    cmake --build "$root/win" -j "$jobs"
else
    cmake --build "$root/win" -j "$jobs" --target "$@"
fi
