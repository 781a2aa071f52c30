#!/usr/bin/env bash
# Makes a Wine prefix once (first start takes seconds), maps the Chinese UI faces to the
# installed CJK font, and makes a crashing program end at once: Wine's debugger prints the
# backtrace and ends it instead of waiting for an answer in a crash dialog nobody sees (a test
# then fails instead of hanging until its time-out). A lock keeps parallel test runs from
# initialising the same prefix twice; a prefix made with other settings gets these ones.
#   wine-prefix.sh PREFIX
# The prefix's width follows WINEARCH (win32: made and served by the 32-bit loader `wine`;
# otherwise win64 with `wine64`); KIT_WINE names another loader.
set -euo pipefail
prefix=$1
if [ "${WINEARCH:-win64}" = win32 ]; then
    arch=win32 wine=${KIT_WINE:-/usr/lib/wine/wine}
else
    arch=win64 wine=${KIT_WINE:-/usr/lib/wine/wine64}
fi
mkdir -p "$prefix"
exec 9>"$prefix.lock"
flock 9
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg" "$reg.u16"' EXIT
cat >"$reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"微软雅黑"="WenQuanYi Micro Hei"
"Microsoft YaHei"="WenQuanYi Micro Hei"
"宋体"="WenQuanYi Micro Hei"
"SimSun"="WenQuanYi Micro Hei"
"新宋体"="WenQuanYi Micro Hei"
"MS Shell Dlg"="WenQuanYi Micro Hei"
"MS Shell Dlg 2"="WenQuanYi Micro Hei"
"Tahoma"="WenQuanYi Micro Hei"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
settings=$(sha256sum <"$reg" | cut -d' ' -f1)
if [ "$(cat "$prefix/.kit-ready" 2>/dev/null)" != "$settings" ]; then
    export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all
    if [ ! -f "$prefix/system.reg" ]; then
        WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >/dev/null 2>&1 || true
    fi
    iconv -f UTF-8 -t UTF-16 "$reg" >"$reg.u16"
    "$wine" regedit "$reg.u16" >/dev/null 2>&1 || true
    wineserver -w || true
    echo "$settings" >"$prefix/.kit-ready"
fi
