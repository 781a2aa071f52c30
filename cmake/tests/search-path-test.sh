#!/usr/bin/env bash
# Every program and library of a native build tree names only fixed folders in its library search
# path: no empty entry and no relative one, either of which the loader reads against the current
# folder (a download folder, say) when it looks for a library.
#   search-path-test.sh FOLDER
set -uo pipefail
status=0 checked=0
for f in "$1"/*; do
    [ -f "$f" ] && head -c4 "$f" | grep -q ELF || continue
    checked=$((checked + 1))
    path=$(readelf -d "$f" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]/\2/p')
    [ -n "$path" ] || continue
    bad=$(printf '%s\n' "$path" | awk -F: '{ for (i = 1; i <= NF; i++)
        if ($i !~ /^\// && $i != "$ORIGIN" && $i !~ /^\$ORIGIN\//) { print "\"" $i "\""; exit } }')
    if [ -n "$bad" ]; then
        echo "$f: search path \"$path\" has the entry $bad"
        status=1
    fi
done
[ "$checked" -gt 0 ] || { echo "no programs or libraries in $1"; exit 1; }
echo "$checked files checked"
exit $status
