#!/usr/bin/env bash
# Runs one Windows program under Wine the way the target machines are set up:
# Simplified Chinese locale (ANSI code page 936), a CJK font for the Chinese faces,
# an X display (xvfb-run when none is there) and a prefix of the build tree's own.
#   wine-run.sh [--win32|--win64] PROGRAM.exe [ARGS...]
# --win32: 32-bit program, 32-bit Wine loader (`wine`) in a 32-bit prefix (the target machines);
# --win64 (default): 64-bit program, `wine64` in a 64-bit prefix.
# Exit status: the program's; 77 (CTest's "skipped") when this machine cannot run 32-bit programs
# at all (a kernel without 32-bit support refuses the 32-bit loader), so that the test shows as
# not run instead of passed or failed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
arch=win64
case "${1:-}" in
    --win32) arch=win32; shift ;;
    --win64) shift ;;
esac
if [ "$arch" = win32 ]; then
    wine=${KIT_WINE:-/usr/lib/wine/wine}
    if ! "$wine" --version >/dev/null 2>&1; then
        echo "wine-run.sh: $wine cannot run here (no 32-bit Wine, or a kernel that refuses 32-bit programs): $1 not run" >&2
        exit 77
    fi
else
    wine=${KIT_WINE:-/usr/lib/wine/wine64}
fi
: "${KIT_WINEPREFIX:=${PWD}/wineprefix}"
# KIT_WINE goes on to the scripts a test starts (softkey-notify.sh), so they use this prefix's loader.
export WINEPREFIX="$KIT_WINEPREFIX" WINEARCH="$arch" KIT_WINE="$wine" WINEDEBUG="${WINEDEBUG:--all}" \
    WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
"$here/wine-prefix.sh" "$WINEPREFIX"
locale=${KIT_WINE_LOCALE:-zh_CN.UTF-8}
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" env LC_ALL="$locale" "$wine" "$@"
fi
exec env LC_ALL="$locale" "$wine" "$@"
