#!/bin/sh
# Creates a fresh Wine prefix for one test run and keeps its wineserver alive
# until stop-prefix.sh, so the tests do not pay for a server start each.
#   make-prefix.sh DIR win64|win32
set -e
dir="$1"; arch="$2"
case "$arch" in win64|win32) ;; *) echo "make-prefix: arch must be win64 or win32" >&2; exit 2 ;; esac
[ -d "$dir" ] && WINEPREFIX="$dir" wineserver -k 2>/dev/null || true
rm -rf "$dir"
mkdir -p "$dir"
export WINEPREFIX="$dir" WINEARCH="$arch" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
# Wine links the user's Desktop, Documents and the like to the Unix home: give
# the prefix folders of its own, so nothing a test writes lands outside it.
for link in "$dir"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
done
echo "$arch" > "$dir/winearch"
wineserver -p </dev/null >/dev/null 2>&1
# A crashing test must fail at once, not wait on a crash dialog under Xvfb.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 || true
# The first program start after boot finishes the prefix; do it here, not in a test.
wine cmd /c ver </dev/null >/dev/null 2>&1 || true
echo "prefix $dir ($arch) ready"
