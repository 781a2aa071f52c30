#!/usr/bin/env bash
# A Windows module's export table holds exactly the functions its public header declares, by
# their plain names (no decoration: the C calling convention on 32-bit Windows), and the module
# needs no MinGW runtime DLL.
#   dll_exports_test.sh OBJDUMP MODULE.dll [HEADER API-MACRO]
# Without a header only the imports are checked (the stand-ins).
set -euo pipefail
objdump=$1 dll=$2 header=${3:-} macro=${4:-}
dump=$("$objdump" -p "$dll")
status=0

imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | sort -u)
runtime=$(grep -iE '^(libgcc|libstdc\+\+|libwinpthread|libssp)' <<<"$imports" || true)
if [ -n "$runtime" ]; then
    echo "$(basename "$dll") needs MinGW runtime DLLs: $runtime"
    status=1
fi

if [ -n "$header" ]; then
    # The export table: "[ordinal] name" lines after "[Ordinal/Name Pointer] Table".
    exported=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
        sed -n 's/^\s*\[\s*[0-9]*\] //p' | sort)
    declared=$(tr '\n' ' ' <"$header" | grep -oE "$macro [^;(]*\(" |
        sed -E 's/.*[ *]([A-Za-z_][A-Za-z0-9_]*)\($/\1/' | grep -v '^__' | sort)
    if [ "$exported" != "$declared" ]; then
        echo "$(basename "$dll") exports differ from $(basename "$header")"
        diff <(echo "$declared") <(echo "$exported") || true
        status=1
    else
        echo "$(basename "$dll"): $(wc -l <<<"$exported") exports, as declared: $(echo $exported)"
    fi
fi
echo "$(basename "$dll") imports: $(echo $imports)"
exit $status
