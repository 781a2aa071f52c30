#!/usr/bin/env bash
# Runs one Windows program under wine64 the way the target machines are set up:
# Simplified Chinese locale (ANSI code page 936), a CJK font for the Chinese faces,
# an X display (xvfb-run when none is there) and a prefix of the build tree's own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
: "${KIT_WINEPREFIX:=${PWD}/wineprefix}"
export WINEPREFIX="$KIT_WINEPREFIX" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine=${KIT_WINE:-/usr/lib/wine/wine64}
"$here/wine-prefix.sh" "$WINEPREFIX"
locale=${KIT_WINE_LOCALE:-zh_CN.UTF-8}
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" env LC_ALL="$locale" "$wine" "$@"
fi
exec env LC_ALL="$locale" "$wine" "$@"
