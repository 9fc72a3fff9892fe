#!/bin/sh
# Installs what is missing, builds, and runs every test (host and Wine) in one
# CTest run; Windows that show windows get a virtual display when there is none.
# Where the kernel runs no 32-bit x86 programs they are emulated for the length
# of the run (i386-emulation.sh, I386_EMULATION). Where they can be neither run
# nor emulated (status 3) no Wine test can run: everything is still built, the
# host tests alone run, and the status is 3 when they pass, CTest's own status
# when one fails.
set -e
cd "$(dirname "$0")/.."
root="${BUILD_ROOT:-build}"
jobs="$(nproc 2>/dev/null || echo 4)"
scripts/setup.sh
i386_scripts="$(pwd)/scripts"
. scripts/i386-emulation.sh
i386_status=0
i386_ready "$root" || i386_status=$?
if [ "$i386_status" -eq 3 ]; then
    scripts/build.sh
    host_status=0
    (cd "$root/host" && ctest --output-on-failure -j "$jobs" "$@") || host_status=$?
    echo "test: only the host tests ran: the Windows tests need Wine's 32-bit side, which can neither run nor be emulated here (see setup's lines above)." >&2
    [ "$host_status" -eq 0 ] || exit "$host_status"
    exit 3
fi
[ "$i386_status" -eq 0 ] || exit "$i386_status"
scripts/build.sh
cd "$root/win"
# Not exec: an emulator registered above is removed when this shell ends.
if [ -n "$DISPLAY" ]; then
    ctest --output-on-failure -j "$jobs" "$@"
else
    xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure -j "$jobs" "$@"
fi
