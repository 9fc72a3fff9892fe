#!/bin/sh
# Installs what is missing, builds, and runs every test (host and Wine) in one
# CTest run; Windows that show windows get a virtual display when there is none.
# Where the kernel runs no 32-bit x86 programs (setup's status 3) no Wine test
# can run: everything is still built, the host tests alone run, and the status
# is 3 when they pass, CTest's own status when one fails.
set -e
cd "$(dirname "$0")/.."
root="${BUILD_ROOT:-build}"
jobs="$(nproc 2>/dev/null || echo 4)"
setup_status=0
scripts/setup.sh || setup_status=$?
if [ "$setup_status" -eq 3 ]; then
    scripts/build.sh
    host_status=0
    (cd "$root/host" && ctest --output-on-failure -j "$jobs" "$@") || host_status=$?
    echo "test: only the host tests ran: the Windows tests need Wine's 32-bit side, which this kernel cannot run (see setup's lines above)." >&2
    [ "$host_status" -eq 0 ] || exit "$host_status"
    exit 3
fi
[ "$setup_status" -eq 0 ] || exit "$setup_status"
scripts/build.sh
cd "$root/win"
if [ -n "$DISPLAY" ]; then
    exec ctest --output-on-failure -j "$jobs" "$@"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure -j "$jobs" "$@"
