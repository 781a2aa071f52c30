#!/usr/bin/env bash
# Makes a Wine prefix once, maps the Chinese UI faces to the installed CJK font, and makes a
# crashing program end at once: Wine's debugger prints the backtrace and ends it instead of
# waiting for an answer in a crash dialog nobody sees (a test then fails instead of hanging until
# its time-out). A lock keeps parallel test runs from initialising the same prefix twice; a prefix
# made with other settings gets these ones.
#   wine-prefix.sh PREFIX
#   wine-prefix.sh --shared   (prints the shared prefix that new prefixes are copied from)
# The prefix's width follows WINEARCH (win32: made and served by the 32-bit loader `wine`;
# otherwise win64 with `wine64`); KIT_WINE names another loader.
#
# A fresh prefix of Wine's is 0.6 GB (32-bit) to 1.3 GB (64-bit), nearly all of it Wine's own
# DLLs, and every test suite has a prefix of its own. So one prefix per width, Wine version and
# settings is made once under KIT_WINE_TEMPLATES (default: the checkout's build/wine-templates)
# and every new prefix is a copy of it in which Wine's program files (never written to after the
# prefix is made) are hard links and everything else (registry, ini files) is a file of its own.
# Where hard links cannot be made (another file system or mount) the copy is a full one.
set -euo pipefail
prefix=$1
here=$(cd "$(dirname "$0")" && pwd)
if [ "${WINEARCH:-win64}" = win32 ]; then
    arch=win32 wine=${KIT_WINE:-/usr/lib/wine/wine}
else
    arch=win64 wine=${KIT_WINE:-/usr/lib/wine/wine64}
fi
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

ready() { [ "$(cat "$1/.kit-ready" 2>/dev/null)" = "$settings" ]; }

# Creates the prefix when it has no registry yet, applies the settings, waits for Wine to end.
initialise() {
    export WINEPREFIX="$1" WINEARCH="$arch" WINEDEBUG=-all
    if [ ! -f "$1/system.reg" ]; then
        WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >/dev/null 2>&1 || true
    fi
    iconv -f UTF-8 -t UTF-16 "$reg" >"$reg.u16"
    "$wine" regedit "$reg.u16" >/dev/null 2>&1 || true
    wineserver -w || true
    echo "$settings" >"$1/.kit-ready"
}

# The shared prefix for this width, Wine and settings; made in a scratch folder and renamed, so
# that a run that stops half-way leaves no half-made prefix to copy.
template() {
    local root=${KIT_WINE_TEMPLATES:-$here/../build/wine-templates} key dir
    key=$( ("$wine" --version; echo "$settings") | sha256sum | cut -c1-16)
    dir=$root/$arch-$key
    mkdir -p "$root"
    (
        flock 8
        if ! ready "$dir"; then
            rm -rf "$dir" "$dir.part"
            mkdir "$dir.part"
            initialise "$dir.part" >&2
            if [ ! -f "$dir.part/system.reg" ]; then
                echo "wine-prefix.sh: Wine made no prefix in $dir.part" >&2
                exit 1
            fi
            mv "$dir.part" "$dir"
        fi
    ) 8>"$dir.lock"
    echo "$dir"
}

# Copies the shared prefix into PREFIX: Wine's program files and tables as hard links, the rest
# as files of their own, so that nothing a program writes in one prefix shows in another.
clone() {
    local from=$1 to=$2
    if ! cp -a --link "$from/." "$to/" 2>/dev/null; then
        find "$to" -mindepth 1 -delete
        cp -a "$from/." "$to/"
        return
    fi
    (cd "$from" && find . -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.drv' \
        -o -iname '*.sys' -o -iname '*.nls' -o -iname '*.ocx' -o -iname '*.cpl' -o -iname '*.acm' \
        -o -iname '*.ax' -o -iname '*.tlb' -o -iname '*.ds' -o -iname '*.vxd' \) -print0 |
        xargs -0 -r cp -a --parents --remove-destination -t "$to")
}

if [ "$prefix" = --shared ]; then
    template
    exit 0
fi
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
exec 9>"$prefix.lock"
flock 9
ready "$prefix" && exit 0
if [ ! -f "$prefix/system.reg" ] && [ -z "$(ls -A "$prefix")" ]; then
    shared=$(template)
    clone "$shared" "$prefix"
fi
ready "$prefix" || initialise "$prefix"
