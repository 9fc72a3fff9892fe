#!/bin/sh
# Creates a fresh Wine prefix for one test run and keeps its wineserver alive
# until stop-prefix.sh, so the tests do not pay for a server start each.
#   make-prefix.sh DIR win64|win32
# With PREFIX_OWN_DISPLAY=1 the prefix gets a virtual display of its own, which
# everything run through wine-run.sh in it then uses: tests running side by
# side never cover each other's windows.
set -e
. "$(dirname "$0")/run-quiet.sh"
dir="$1"; arch="$2"
case "$arch" in win64|win32) ;; *) echo "make-prefix: arch must be win64 or win32" >&2; exit 2 ;; esac
[ -d "$dir" ] && "$(dirname "$0")/stop-prefix.sh" "$dir"
rm -rf "$dir"
mkdir -p "$dir"
if [ "$PREFIX_OWN_DISPLAY" = 1 ]; then
    # Xvfb picks a free display number itself and writes it to the descriptor.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display.number" \
        </dev/null >"$dir/xvfb.log" 2>&1 &
    echo $! > "$dir/xvfb.pid"
    tries=0
    while [ ! -s "$dir/display.number" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 200 ] || ! kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null; then
            echo "make-prefix: the virtual display did not start; Xvfb's last lines:" >&2
            tail -n 15 "$dir/xvfb.log" | sed 's/^/    /' >&2
            exit 1
        fi
        sleep 0.05
    done
    echo ":$(tr -d '\n' < "$dir/display.number")" > "$dir/display"
    export DISPLAY="$(cat "$dir/display")"
fi
export WINEPREFIX="$dir" WINEARCH="$arch" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run_quiet make-prefix wineboot -i
run_quiet make-prefix wineserver -w
# Wine links the user's Desktop, Documents and the like to the Unix home: give
# the prefix folders of its own, so nothing a test writes lands outside it.
for link in "$dir"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
done
echo "$arch" > "$dir/winearch"
run_quiet make-prefix wineserver -p
# A crashing test must fail at once, not wait on a crash dialog under Xvfb.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 || true
# The first program start after boot finishes the prefix; do it here, not in a test.
wine cmd /c ver </dev/null >/dev/null 2>&1 || true
echo "prefix $dir ($arch) ready"
