#!/bin/sh
# Main job: builds both programs and runs addinwire under Wine against a sample
# installation key in a prefix of its own, then shows the registration it wrote.
set -e
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh addinwire uidriver >/dev/null
root="$(cd "${BUILD_ROOT:-build}" && pwd)"
prefix="$root/main-job-prefix"
scripts/make-prefix.sh "$prefix" win64 >/dev/null
export WINE_TEST_PREFIX="$prefix"
run() { scripts/wine-run.sh "$@"; }
run reg.exe add 'HKLM\SOFTWARE\Morquaine\QEV-SCAN' /v installDir /t REG_SZ \
    /d 'C:\Program Files (x86)\Morquaine\QEV Scan\' /f /reg:32 >/dev/null
[ -n "$DISPLAY" ] || xvfb="xvfb-run -a"
$xvfb scripts/wine-run.sh "$root/win/bin/uidriver.exe" "$root/win/bin/addinwire.exe"
echo "Registration written by addinwire:"
run reg.exe query 'HKCU\Software\Microsoft\Terminal Server Client\Default\AddIns' /s | tr -d '\r'
scripts/stop-prefix.sh "$prefix"
