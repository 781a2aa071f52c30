#!/usr/bin/env bash
# Makes a Wine prefix once (first start takes seconds) and maps the Chinese UI faces to the
# installed CJK font. A lock keeps parallel test runs from initialising the same prefix twice.
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
if [ ! -f "$prefix/.kit-ready" ]; then
    export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >/dev/null 2>&1 || true
    reg=$(mktemp --suffix=.reg)
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
REG
    iconv -f UTF-8 -t UTF-16 "$reg" >"$reg.u16"
    "$wine" regedit "$reg.u16" >/dev/null 2>&1 || true
    wineserver -w || true
    rm -f "$reg" "$reg.u16"
    touch "$prefix/.kit-ready"
fi
