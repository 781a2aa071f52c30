#!/usr/bin/env bash
# Takes a picture of the setup's first page under Wine (Simplified Chinese locale) for the README:
#   installer-screenshot.sh SETUP.exe OUT.png
# The setup runs in a Wine virtual desktop on a private X server, in a fresh prefix; the
# picture is the virtual desktop trimmed to the setup's window. The setup is then cancelled.
set -euo pipefail
setup=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
out=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
if file "$setup" | grep -q 'PE32+'; then
    wine=/usr/lib/wine/wine64 arch=win64
else
    wine=/usr/lib/wine/wine arch=win32
fi
export WINEPREFIX=$work/prefix WINEARCH=$arch KIT_WINE=$wine WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
display=:$((500 + $$ % 400))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display
"$root/cmake/wine-prefix.sh" "$WINEPREFIX"
LC_ALL=zh_CN.UTF-8 "$wine" explorer /desktop=setup,640x480 "$setup" >"$work/wine.out" 2>&1 &
sleep 12
xwd -root -display "$display" -silent >"$work/screen.xwd"
convert "$work/screen.xwd" -crop 640x480+0+0 +repage -trim +repage "$out"
echo "$out"
