#!/bin/sh
# Installs what is missing, builds, and runs every test (host and Wine) in one
# CTest run; Windows that show windows get a virtual display when there is none.
set -e
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
cd "${BUILD_ROOT:-build}/win"
jobs="$(nproc 2>/dev/null || echo 4)"
if [ -n "$DISPLAY" ]; then
    exec ctest --output-on-failure -j "$jobs" "$@"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure -j "$jobs" "$@"
