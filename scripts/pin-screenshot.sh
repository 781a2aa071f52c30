#!/usr/bin/env bash
# Takes the picture of the PIN change (the dimmed screen, the PIN dialog and the soft keyboard)
# in a Wine virtual desktop on a private X server: docs/keywarden-pin.png, or at another system
# dpi (144: 150 % display scaling) docs/keywarden-pin-DPI.png.
#   scripts/pin-screenshot.sh [OUTPUT_DIR [DPI]]
# Needs build/windows-x64 (keywarden_pin_tests.exe, the device library, ShieldHotKey.dll) and
# build/linux/out/keva-testkeys.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(mkdir -p "${1:-docs}" && cd "${1:-docs}" && pwd)
dpi=${2:-96}
name=keywarden-pin.png
[ "$dpi" = 96 ] || name=keywarden-pin-$dpi.png
bin=$root/build/windows-x64/bin
for f in "$bin/keywarden_pin_tests.exe" "$bin/KEVA_QMB4410_LIB.dll" "$root/build/linux/out/keva-testkeys"; do
    [ -e "$f" ] || { echo "pin-screenshot: $f is missing" >&2; exit 1; }
done
wine=${KIT_WINE:-/usr/lib/wine/wine64}
work=$root/build/pin-screenshot
rm -rf "$work/keys" "$work/ready"
mkdir -p "$work"
# winemenubuilder would take the X root's desktop before the virtual one is made.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export SOFTKEY_STORE=$work/keys KW_POSE_READY='Z:'$(echo "$work/ready" | tr / '\\')
"$root/cmake/wine-prefix.sh" "$WINEPREFIX"
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
wineserver -w
"$root/build/linux/out/keva-testkeys" "$SOFTKEY_STORE" "PA:rsa=1,sm2=0" "PB:rsa=1,sm2=0,changed" \
    "PC:rsa=1,sm2=0,changed" "PD:rsa=1,sm2=0,changed" >/dev/null

display=$("$root/scripts/free-display.sh")
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
trap 'wineserver -k >/dev/null 2>&1 || true; kill $xvfb 2>/dev/null || true' EXIT
sleep 1
(cd "$bin" && exec "$wine" explorer /desktop=Default,800x600 keywarden_pin_tests.exe \
    --gtest_also_run_disabled_tests --gtest_filter='*PoseForThePicture') >"$work/run.log" 2>&1 &
for _ in $(seq 1 120); do
    [ -e "$work/ready" ] && break
    sleep 0.5
done
[ -e "$work/ready" ] || { echo "pin-screenshot: the PIN dialog did not come up" >&2; exit 1; }
sleep 1
target=root
id=$(xwininfo -display "$display" -root -tree 2>/dev/null | awk '/800x600\+/ {print $1; exit}')
[ -n "$id" ] && target=$id
import -display "$display" -window "$target" "$out/$name"
echo "pin-screenshot: $out/$name"
