#!/bin/sh
# The main job: builds both programs (and the UI driver and the stand-in
# lister it needs), makes a fresh Wine prefix with a sample
# installation of the product, runs dossierkit in it end to end (Yes to the
# question, No to the upload offer) and shows the support package it made.
#   BUILD_ROOT (default: build) holds the builds; the prefix is BUILD_ROOT/main-job-prefix.
set -e
cd "$(dirname "$0")/.."
root="${BUILD_ROOT:-build}"
if [ "$1" != "--in-display" ]; then
    scripts/setup.sh
    # 32-bit x86 programs run natively, or emulated until this shell ends.
    i386_scripts="$(pwd)/scripts"
    . scripts/i386-emulation.sh
    i386_status=0
    i386_ready "$root" || i386_status=$?
    [ "$i386_status" -eq 0 ] || exit "$i386_status"
    BUILD_ROOT="$root" scripts/build.sh dossierkit addinwire uidriver dk_fake_lister
    # The prefix's desktop process takes its display when the prefix is made,
    # so everything of Wine below runs in one display, virtual when there is none.
    # Not exec: an emulator registered above is removed when this shell ends.
    if [ -z "$DISPLAY" ]; then
        xvfb-run -a -s "-screen 0 1024x768x24" "$0" --in-display
        exit 0
    fi
fi
bin="$root/win/bin"

mkdir -p "$root"
prefix="$(cd "$root" && pwd)/main-job-prefix"
scripts/make-prefix.sh "$prefix" win64
export WINE_TEST_PREFIX="$prefix"
wine="$(pwd)/scripts/wine-run.sh"

# A sample installation: the product key, an installation directory with
# spaces in its name holding a stand-in data-source lister, and per-user files.
install_dir='C:\Program Files (x86)\Morquaine\QEV Scan\'
"$wine" reg add 'HKLM\Software\Morquaine\QEV-SCAN' /v InstallDir /t REG_SZ /d "$install_dir\\" /f /reg:32 >/dev/null
"$wine" cmd /c mkdir "$install_dir" >/dev/null 2>&1 || true
unix_install="$("$wine" winepath -u "$install_dir")"
cp "$bin/dk_fake_lister.exe" "$unix_install/qevdslister.exe"
printf 'QEV Scan sample installation\r\n' > "$unix_install/readme.txt"
user_dir="$(ls -d "$prefix"/drive_c/users/*/AppData/Local | grep -v /Public/ | head -n 1)/Morquaine/QEV-SCAN"
mkdir -p "$user_dir/logs"
printf '[scan]\r\nresolution=300\r\n' > "$user_dir/settings.ini"
printf 'scanner session log\r\n' > "$user_dir/logs/session.log"

caption="Morquaine QEV Scan ZRPK Creator"
echo "running dossierkit under Wine"
start=$(date +%s%N)
status=0
DK_LISTER_MODE=chatty "$wine" "$bin/uidriver.exe" "$bin/dossierkit.exe" \
    "$caption" yes "$caption" no || status=$?
end=$(date +%s%N)
echo "dossierkit ended with $status after $(( (end - start) / 1000000 )) ms (question to exit)"
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true

package="$(ls "$prefix"/drive_c/users/*/Desktop/Morquaine-QEVSCAN.zrpk 2>/dev/null | head -n 1)"
if [ -z "$package" ]; then
    echo "no support package was made" >&2
    exit 1
fi
echo "support package: $package"
python3 -m zipfile -l "$package"
