#!/bin/sh
# Installs what a fresh Debian 12 machine lacks to build and test the project.
# Idempotent: quiet and quick when everything is already there. Whether 32-bit
# x86 programs run here, natively or emulated, is the calling command's to
# settle (i386-emulation.sh), since an emulator is registered only for as long
# as that command runs.
set -e
here="$(dirname "$0")"
. "$here/run-quiet.sh"
PACKAGES="cmake ninja-build googletest mingw-w64 g++-mingw-w64-i686-posix wine wine32 wine64 xvfb xdotool unzip zlib1g-dev libz-mingw-w64-dev python3 perl clang"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

missing=""
for p in $PACKAGES; do
    case "$p" in
        wine32) q="wine32:i386" ;;
        *) q="$p" ;;
    esac
    dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done

if [ -n "$missing" ]; then
    echo "setup: installing$missing" >&2
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        run_quiet setup $SUDO dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    run_quiet setup $SUDO apt-get update -qq
    run_quiet setup $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
