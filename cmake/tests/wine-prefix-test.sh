#!/usr/bin/env bash
# Two test prefixes made by wine-prefix.sh: Wine's DLLs are the shared prefix's files (so a
# prefix costs megabytes, not a gigabyte), and what a program writes in one prefix, to the
# registry or appended to a file of Wine's, shows neither in the other prefix nor in the shared
# one that later prefixes are copied from.
#   wine-prefix-test.sh win32|win64 WORK
# Exit 77 (skipped) where the 32-bit loader cannot run.
set -euo pipefail
width=$1 work=$2
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "$width" = win32 ]; then
    wine=${KIT_WINE:-/usr/lib/wine/wine}
    "$here/wine-run.sh" --win32 --probe || exit 77
else
    wine=${KIT_WINE:-/usr/lib/wine/wine64}
fi
fail() { echo "FAIL: $*" >&2; exit 1; }
export WINEARCH=$width WINEDEBUG=-all KIT_WINE=$wine WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
shared=$("$here/wine-prefix.sh" --shared)
"$here/wine-prefix.sh" "$work/one"
"$here/wine-prefix.sh" "$work/two"

system=drive_c/windows/system32
for p in one two; do
    [ "$work/$p/$system/kernel32.dll" -ef "$shared/$system/kernel32.dll" ] ||
        fail "prefix $p does not share Wine's kernel32.dll with the shared prefix"
done
for f in system.reg user.reg userdef.reg drive_c/windows/win.ini; do
    [ -f "$work/one/$f" ] || fail "prefix one has no $f"
    [ ! "$work/one/$f" -ef "$work/two/$f" ] || fail "the two prefixes share $f"
done
# du counts a file with several names once, under the first: the shared files go to prefix one.
used=$(du -sk "$work/one" "$work/two" | tail -n 1 | cut -f1)
[ "$used" -lt 102400 ] || fail "prefix two takes $used KiB of its own"

mark=KitPrefixTest$$
WINEPREFIX=$work/one "$wine" reg add "HKCU\\Software\\$mark" /v mark /d one /f >/dev/null
WINEPREFIX=$work/one "$wine" cmd /c "echo [$mark]>>C:\\windows\\win.ini" >/dev/null
WINEPREFIX=$work/one wineserver -w
# The writes took effect where they were made...
grep -q "$mark" "$work/one/user.reg" || fail "the registry write did not reach prefix one"
grep -q "$mark" "$work/one/drive_c/windows/win.ini" || fail "the append did not reach prefix one"
# ...and nowhere else.
grep -q "$mark" "$work/two/user.reg" "$work/two/drive_c/windows/win.ini" &&
    fail "a write in prefix one shows in prefix two"
grep -qs "$mark" "$shared/user.reg" "$shared/drive_c/windows/win.ini" &&
    fail "a write in prefix one shows in the shared prefix"
rm -rf "$work"
echo "PASS: prefixes of their own on one shared prefix ($width, prefix two: $used KiB)"
