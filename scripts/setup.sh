#!/bin/sh
# Installs what a fresh Debian 12 machine lacks to build and test the project.
# Idempotent: quiet and quick when everything is already there.
set -e
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
[ -z "$missing" ] && exit 0

echo "setup: installing$missing" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
