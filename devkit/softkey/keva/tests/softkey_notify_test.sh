#!/usr/bin/env bash
# softkey-notify.sh finds the Wine server of the prefix wherever this Wine keeps it (under TMPDIR
# in Debian's Wine), runs softkey-notify.exe there, and says so when it told nobody. Wine itself
# is stood in for by a script that records its call; the server by a socket in its folder.
set -u
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

prefix=$work/prefix
mkdir -p "$prefix" "$work/tmp"
printf '#!/bin/sh\necho "$WINEPREFIX $*" > "%s/wine-called"\n' "$work" > "$work/wine"
chmod +x "$work/wine"
touch "$work/softkey-notify.exe"
export KIT_WINE=$work/wine SOFTKEY_NOTIFY_EXE=$work/softkey-notify.exe WINEPREFIX=$prefix
export TMPDIR=$work/tmp
name=server-$(printf %x "$(stat -c %d "$prefix")")-$(printf %x "$(stat -c %i "$prefix")")

# No server: nothing is run, and the script says that nobody was told.
out=$("$script" arrival KEY1 2>&1)
status=$?
[ "$status" = 0 ] || fail "no server: exit $status"
grep -q "no Keywarden was told" <<<"$out" || fail "no server: nothing said: $out"
[ ! -e "$work/wine-called" ] || fail "no server: Wine was run"

# A server in TMPDIR/wine-XXXXXX/server-DEV-INO, where Debian's Wine keeps it.
mkdir -p "$work/tmp/wine-Ab12Cd/$name"
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' \
    "$work/tmp/wine-Ab12Cd/$name/socket"
out=$("$script" removal KEY1 2 2>&1)
status=$?
[ "$status" = 0 ] || fail "server under TMPDIR: exit $status: $out"
[ "$(cat "$work/wine-called" 2>/dev/null)" = "$prefix $work/softkey-notify.exe removal KEY1 2" ] ||
    fail "server under TMPDIR: Wine call was '$(cat "$work/wine-called" 2>/dev/null)'"

# A folder without a socket is no server.
rm -f "$work/wine-called" "$work/tmp/wine-Ab12Cd/$name/socket"
out=$("$script" arrival KEY1 2>&1)
[ ! -e "$work/wine-called" ] || fail "stale folder: Wine was run"
grep -q "no Keywarden was told" <<<"$out" || fail "stale folder: nothing said: $out"

[ "$failures" = 0 ] && echo "softkey-notify: all checks passed"
exit $((failures > 0))
