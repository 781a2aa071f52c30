#!/usr/bin/env bash
# Runs Keywarden in a Wine virtual desktop on a private X server with a software key inserted
# and saves pictures of it: the main window in each language, the tray menu and a balloon, then
# the main window and the about dialog again at 150 % display scaling (system dpi 144).
#   scripts/screenshots.sh [OUTPUT_DIR]        (default docs/)
#   scripts/screenshots.sh --demo [OUTPUT_DIR] (one picture of the window showing the key)
# Needs build/windows-x64 (Keywarden.exe, keywarden-remote.exe, softkey-notify.exe and the
# device library) and build/linux/out (softkey, keva-testkeys).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
demo=0
if [ "${1:-}" = "--demo" ]; then demo=1; shift; fi
out=$(mkdir -p "${1:-docs}" && cd "${1:-docs}" && pwd)
bin=$root/build/windows-x64/bin
tools=$root/build/linux/out
for f in "$bin/Keywarden.exe" "$bin/keywarden-remote.exe" "$bin/KEVA_QMB4410_LIB.dll" \
         "$tools/softkey" "$tools/keva-testkeys"; do
    [ -e "$f" ] || { echo "screenshots: $f is missing (build the windows-x64 and linux presets)" >&2; exit 1; }
done
wine=${KIT_WINE:-/usr/lib/wine/wine64}
work=$root/build/screenshots
rm -rf "$work/keys"
mkdir -p "$work"
# winemenubuilder off: its first window call would start a plain desktop on the X root before
# ours, and the virtual desktop (caption, taskbar, tray, balloons) would not appear.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export SOFTKEY_STORE=$work/keys SOFTKEY_NOTIFY_EXE=$bin/softkey-notify.exe
export LC_ALL=zh_CN.UTF-8 2>/dev/null

"$root/cmake/wine-prefix.sh" "$WINEPREFIX"
# The prefix's system dpi, as winecfg sets it (a run before may have left 144).
set_dpi() {
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
    wineserver -w
}
set_dpi 96

"$tools/keva-testkeys" "$SOFTKEY_STORE" "SHOT:rsa=2,sm2=0,changed,absent,days=10,hours=3" >/dev/null

# The demo shows Keywarden on the user's display when there is one; otherwise, and always for
# the documentation's pictures, a private X server of the desktop's size is used.
xvfb=
if [ "$demo" = 1 ] && [ -n "${DISPLAY:-}" ]; then
    display=$DISPLAY
else
    display=$("$root/scripts/free-display.sh")
    Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    export DISPLAY=$display
fi
cleanup() {
    "$wine" "$bin/keywarden-remote.exe" quit >/dev/null 2>&1 || true
    sleep 1
    wineserver -k >/dev/null 2>&1 || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
sleep 1

# The virtual desktop's window when it can be found, else the whole screen.
shot() {
    sleep "${2:-1.5}"
    local target=root
    if command -v xwininfo >/dev/null; then
        local id
        id=$(xwininfo -display "$display" -root -tree 2>/dev/null | awk '/800x600\+/ {print $1; exit}')
        [ -n "$id" ] && target=$id
    fi
    import -display "$display" -window "$target" "$out/$1"
    echo "screenshots: $out/$1"
}
remote() { "$wine" "$bin/keywarden-remote.exe" "$@"; }

# Keywarden runs in an 800 x 600 virtual desktop (named like the default desktop, so that
# keywarden-remote finds its window) with a taskbar and notification area.
(cd "$bin" && exec "$wine" explorer /desktop=Default,800x600 Keywarden.exe) >/dev/null 2>&1 &
remote lang cn           # waits for the window
sleep 2
# Plugging the key in also delivers the system's device-interface arrival to Keywarden
# (softkey runs softkey-notify.sh in this prefix).
"$tools/softkey" insert SHOT >/dev/null
sleep 3
remote open
if [ "$demo" = 1 ]; then
    shot keywarden-demo.png 2
    exit 0
fi
shot keywarden-zh-cn.png 2
remote lang tw; shot keywarden-zh-tw.png
remote lang en; shot keywarden-en.png
# The small dialogs (the key is selected): version, label, about.
remote command 1005; shot keywarden-version.png
remote dismiss; sleep 0.5
remote command 1003; shot keywarden-label.png
remote dismiss; sleep 0.5
remote lang cn; remote about; shot keywarden-about.png
remote dismiss; sleep 0.5
remote lang cn
remote balloon 254; shot keywarden-balloon.png 2
remote menu; shot keywarden-tray-menu.png 2

# The same at 150 %: Keywarden again, in the prefix set to 144 dpi (the key stays inserted).
remote quit >/dev/null 2>&1 || true
sleep 1
wineserver -k >/dev/null 2>&1 || true
wineserver -w
set_dpi 144
(cd "$bin" && exec "$wine" explorer /desktop=Default,800x600 Keywarden.exe) >/dev/null 2>&1 &
remote lang cn
sleep 3
remote open
shot keywarden-zh-cn-144.png 2
remote about; shot keywarden-about-144.png
remote dismiss; sleep 0.5
