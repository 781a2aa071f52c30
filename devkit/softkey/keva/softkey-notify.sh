#!/usr/bin/env bash
# Delivers a software key's arrival or removal to the Keywarden windows running under Wine, the
# way the system does for a device interface. For the native softkey tool, after it has changed
# the key's presence in the store:
#   softkey-notify.sh arrival|removal SERIAL [PORT]
# Uses the caller's WINEPREFIX (Wine's default prefix when unset) and finds softkey-notify.exe
# through SOFTKEY_NOTIFY_EXE, beside this script, in dist/windows/bin or build/windows-x64/bin.
# Exit status: that of softkey-notify.exe; 0 with nothing done when Wine or the program is missing
# (no Keywarden can be running then).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
exe=${SOFTKEY_NOTIFY_EXE:-}
for candidate in "$here/softkey-notify.exe" "$root/dist/windows/bin/softkey-notify.exe" \
                 "$root/build/windows-x64/bin/softkey-notify.exe"; do
    [ -z "$exe" ] && [ -f "$candidate" ] && exe=$candidate
done
wine=${KIT_WINE:-/usr/lib/wine/wine64}
[ -n "$exe" ] && [ -x "$wine" ] || exit 0
# Only a running wineserver can have Keywarden windows: without one, do not start (or make) a
# prefix for nothing. Wine names the server's folder by the prefix's device and inode.
prefix=${WINEPREFIX:-$HOME/.wine}
[ -d "$prefix" ] || exit 0
name=server-$(printf %x "$(stat -c %d "$prefix")")-$(printf %x "$(stat -c %i "$prefix")")
running=0
for server in "${TMPDIR:-/tmp}/.wine-$(id -u)/$name" /tmp/.wine-"$(id -u)"/"$name" /tmp/wine-*/"$name"; do
    [ -S "$server/socket" ] && running=1
done
[ "$running" = 1 ] || exit 0
WINEPREFIX=$prefix WINEDEBUG=-all "$wine" "$exe" "$@"
