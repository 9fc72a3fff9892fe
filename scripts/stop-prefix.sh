#!/bin/sh
# Ends the wineserver of a test prefix.
WINEPREFIX="$1" wineserver -k 2>/dev/null || true
exit 0
