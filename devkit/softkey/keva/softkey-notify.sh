#!/usr/bin/env bash
# Delivers a software key's arrival or removal to the Keywarden windows running under Wine, the
# way the system does for a device interface. For the native softkey tool, after it has changed
# the key's presence in the store:
#   softkey-notify.sh arrival|removal SERIAL [PORT]
# Uses the caller's WINEPREFIX (Wine's default prefix when unset) and finds softkey-notify.exe
# through SOFTKEY_NOTIFY_EXE, beside this script, in dist/windows/bin or build/windows-x64/bin.
# Exit status: that of softkey-notify.exe; 0 with nothing done when Wine, the program or a running
# Wine server for the prefix is missing (no Keywarden can be running then), said on standard error.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
told_nobody() { echo "softkey-notify: $1; no Keywarden was told" >&2; exit 0; }
exe=${SOFTKEY_NOTIFY_EXE:-}
for candidate in "$here/softkey-notify.exe" "$root/dist/windows/bin/softkey-notify.exe" \
                 "$root/build/windows-x64/bin/softkey-notify.exe"; do
    [ -z "$exe" ] && [ -f "$candidate" ] && exe=$candidate
done
wine=${KIT_WINE:-/usr/lib/wine/wine64}
[ -n "$exe" ] || told_nobody "softkey-notify.exe not found"
[ -x "$wine" ] || told_nobody "$wine not found"
# Only a running wineserver can have Keywarden windows: without one, do not start (or make) a
# prefix for nothing. Wine names the server's folder by the prefix's device and inode and keeps
# it in /tmp/.wine-UID (upstream) or, in Debian's Wine, in a wine-XXXXXX folder under
# /run/user/UID when that exists, else under TMPDIR (default /tmp).
prefix=${WINEPREFIX:-$HOME/.wine}
[ -d "$prefix" ] || told_nobody "no Wine prefix $prefix"
name=server-$(printf %x "$(stat -c %d "$prefix")")-$(printf %x "$(stat -c %i "$prefix")")
uid=$(id -u)
running=0
for server in "/tmp/.wine-$uid/$name" "${TMPDIR:-/tmp}/.wine-$uid/$name" \
              "/run/user/$uid"/wine-*/"$name" "${TMPDIR:-/tmp}"/wine-*/"$name" /tmp/wine-*/"$name"; do
    [ -S "$server/socket" ] && running=1
done
[ "$running" = 1 ] || told_nobody "no Wine server runs for $prefix"
WINEPREFIX=$prefix WINEDEBUG=-all "$wine" "$exe" "$@"
