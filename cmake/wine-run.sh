#!/usr/bin/env bash
# Runs one Windows program under Wine the way the target machines are set up:
# Simplified Chinese locale (ANSI code page 936), a CJK font for the Chinese faces,
# an X display (xvfb-run when none is there) and a prefix of the build tree's own.
#   wine-run.sh [--win32|--win64] PROGRAM.exe [ARGS...]
#   wine-run.sh [--win32|--win64] --probe
# --win32: 32-bit program, 32-bit Wine loader (`wine`) in a 32-bit prefix (the target machines);
# --win64 (default): 64-bit program, `wine64` in a 64-bit prefix.
# --probe: runs nothing, only answers whether programs of that width can run here (0 or 77), for
# tests that check what a Windows run did and mean nothing without it.
# KIT_WINE_SCREEN (default 1280x1024) is the size of the X screen made when there is none;
# KIT_WINE_DPI sets the prefix's system dpi first (the value winecfg writes), as on a display
# scaled to 125 % (120), 150 % (144) or 200 % (192).
# Exit status: the program's; 77 (CTest's "skipped") when this machine cannot run 32-bit programs
# at all (no 32-bit Wine, or a kernel without 32-bit support that refuses the 32-bit loader), so
# that the test shows as not run instead of passed or failed. KIT_NO_WIN32=1 makes a machine that
# can run them answer as one that cannot (to try that road here).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
arch=win64 probe=""
while [ $# -gt 0 ]; do
    case "$1" in
        --win32) arch=win32; shift ;;
        --win64) arch=win64; shift ;;
        --probe) probe=yes; shift ;;
        *) break ;;
    esac
done
if [ "$arch" = win32 ]; then
    wine=${KIT_WINE:-/usr/lib/wine/wine}
    reason=""
    if [ "${KIT_NO_WIN32:-}" = 1 ]; then
        reason="KIT_NO_WIN32=1: this machine counts as one that runs no 32-bit programs"
    elif ! "$wine" --version >/dev/null 2>&1; then
        reason="$wine cannot run here (no 32-bit Wine, or a kernel that refuses 32-bit programs)"
    fi
    if [ -n "$reason" ]; then
        echo "wine-run.sh: $reason: ${1:-32-bit Windows programs} not run" >&2
        exit 77
    fi
else
    wine=${KIT_WINE:-/usr/lib/wine/wine64}
fi
[ -z "$probe" ] || exit 0
: "${KIT_WINEPREFIX:=${PWD}/wineprefix}"
# KIT_WINE goes on to the scripts a test starts (softkey-notify.sh), so they use this prefix's loader.
export WINEPREFIX="$KIT_WINEPREFIX" WINEARCH="$arch" KIT_WINE="$wine" WINEDEBUG="${WINEDEBUG:--all}" \
    WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
"$here/wine-prefix.sh" "$WINEPREFIX"
if [ -n "${KIT_WINE_DPI:-}" ]; then
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$KIT_WINE_DPI" /f \
        >/dev/null 2>&1
    # That session (and its desktop process, made without the X screen below) ends first.
    wineserver -w
fi
locale=${KIT_WINE_LOCALE:-zh_CN.UTF-8}
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 ${KIT_WINE_SCREEN:-1280x1024}x24" env LC_ALL="$locale" "$wine" "$@"
fi
exec env LC_ALL="$locale" "$wine" "$@"
