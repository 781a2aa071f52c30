#!/usr/bin/env bash
# The shipped Windows programs and libraries load at a random address and keep data pages out of
# execution: their PE headers carry DYNAMIC_BASE (ASLR) and NX_COMPAT (DEP), and a 64-bit file
# also HIGH_ENTROPY_VA (ASLR over the whole 64-bit address space). A link option that drops one
# (--disable-dynamicbase, a linker that defaults otherwise) fails here.
#   pe_hardening_test.sh OBJDUMP FILE...
set -uo pipefail
objdump=$1
shift
status=0
for file in "$@"; do
    dump=$("$objdump" -p "$file") || { echo "FAIL: objdump cannot read $file"; status=1; continue; }
    magic=$(sed -n 's/^Magic\s*\([0-9a-f]*\).*/\1/p' <<<"$dump")
    flags=$(sed -n 's/^DllCharacteristics\s*\([0-9a-f]*\).*/\1/p' <<<"$dump")
    [ -n "$magic" ] && [ -n "$flags" ] || { echo "FAIL: $file: no PE optional header"; status=1; continue; }
    # IMAGE_DLLCHARACTERISTICS_*: HIGH_ENTROPY_VA 0x20, DYNAMIC_BASE 0x40, NX_COMPAT 0x100.
    need=(DYNAMIC_BASE:0x40 NX_COMPAT:0x100)
    [ "$magic" = 020b ] && need+=(HIGH_ENTROPY_VA:0x20)
    missing=""
    for n in "${need[@]}"; do
        (( 0x$flags & ${n#*:} )) || missing+=" ${n%%:*}"
    done
    if [ -n "$missing" ]; then
        echo "FAIL: $(basename "$file") (DllCharacteristics $flags) lacks$missing"
        status=1
    else
        echo "$(basename "$file"): DllCharacteristics $flags (${need[*]%%:*})"
    fi
done
exit $status
