#!/bin/sh
# Ends the wineserver of a test prefix, and its own display if it has one.
WINEPREFIX="$1" wineserver -k 2>/dev/null || true
if [ -f "$1/xvfb.pid" ]; then
    kill "$(cat "$1/xvfb.pid")" 2>/dev/null || true
    rm -f "$1/xvfb.pid" "$1/display" "$1/display.number"
fi
exit 0
