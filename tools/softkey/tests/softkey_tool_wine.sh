#!/usr/bin/env bash
# The softkey command's checks (softkey_tool_test.sh) on the Windows softkey.exe under Wine:
#   softkey_tool_wine.sh win32|win64 SOFTKEY.exe
# A prefix of its own under the current folder and one X display for the run; the checks read
# each call's output from a file (the Wine session's long-lived processes keep the output of the
# call that started them); at the end the session is waited down.
# Runs in the C.UTF-8 locale (one this machine has, so Wine reads the command line's UTF-8
# right): ANSI code page 1252, which holds the German label.
set -u
width=$1 exe=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
export KIT_WINEPREFIX=$PWD/softkey-tool-prefix KIT_WINE_LOCALE=C.UTF-8 SOFTKEY_TEST_LABEL="Prüfschlüssel"
export WINEPREFIX=$KIT_WINEPREFIX WINEDEBUG=-all
runner=("$root/cmake/wine-run.sh" "--$width")
if [ -z "${DISPLAY:-}" ]; then
    Xvfb :$((100 + $$ % 400)) -screen 0 1024x768x24 >/dev/null 2>&1 &
    xvfb=$!
    export DISPLAY=:$((100 + $$ % 400))
    sleep 1
fi
"${runner[@]}" "$exe" --help >/dev/null 2>&1
status=$?
if [ "$status" = 0 ]; then
    "$here/softkey_tool_test.sh" "${runner[@]}" "$exe"
    status=$?
elif [ "$status" != 77 ]; then
    echo "FAIL: softkey.exe --help exited $status"
fi
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
[ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
exit "$status"
