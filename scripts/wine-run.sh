#!/bin/sh
# Runs a Windows program under Wine in the test prefix named by WINE_TEST_PREFIX
# (never the user's own ~/.wine).
if [ -z "$WINE_TEST_PREFIX" ]; then
    echo "wine-run: WINE_TEST_PREFIX is not set" >&2
    exit 125
fi
export WINEPREFIX="$WINE_TEST_PREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
[ -f "$WINEPREFIX/display" ] && export DISPLAY="$(cat "$WINEPREFIX/display")"
[ -f "$WINEPREFIX/winearch" ] && export WINEARCH="$(cat "$WINEPREFIX/winearch")"
exec wine "$@"
