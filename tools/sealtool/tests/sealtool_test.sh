#!/usr/bin/env bash
# sealtool end to end: demo material, make, parse, verify, and the failures a user meets.
set -u
tool="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"
failures=0

expect() {  # expect CODE DESCRIPTION -- command...
    local want=$1 what=$2
    shift 3
    "$@" >"$work/out" 2>"$work/err"
    local got=$?
    if [ "$got" != "$want" ]; then
        echo "FAIL: $what: exit $got, expected $want"
        cat "$work/out" "$work/err"
        failures=$((failures + 1))
    fi
}
contains() {  # contains FILE TEXT DESCRIPTION
    if ! grep -qF -- "$2" "$work/$1"; then
        echo "FAIL: $3: '$2' not in $1:"
        cat "$work/$1"
        failures=$((failures + 1))
    fi
}
lacks() {
    if grep -qF -- "$2" "$work/$1"; then
        echo "FAIL: $3: '$2' found in $1"
        failures=$((failures + 1))
    fi
}

expect 0 "help" -- "$tool" --help
contains out "usage: sealtool" "help text"
expect 2 "no command" -- "$tool"
expect 2 "unknown command" -- "$tool" stamp
expect 2 "make without output" -- "$tool" make x.xml

expect 0 "demo material" -- "$tool" demo-material "$work/demo"
for f in maker.pfx holder.cer seal.png sealparams.xml; do
    [ -s "$work/demo/$f" ] || { echo "FAIL: demo-material did not write $f"; failures=$((failures + 1)); }
done

expect 0 "make" -- "$tool" make "$work/demo/sealparams.xml" -o "$work/seal.der"
expect 0 "parse" -- "$tool" parse "$work/seal.der"
contains out "<sealinfos>" "parse output"
contains out "<imgtype>png</imgtype>" "parse output"
expect 0 "verify" -- "$tool" verify "$work/seal.der"
contains out "signature: valid" "verify output"
contains out "Demo Seal Maker" "verify names the maker"

# One changed byte inside the seal information (in the picture) breaks the signature.
cp "$work/seal.der" "$work/changed.der"
old=$(od -An -tu1 -j600 -N1 "$work/seal.der" | tr -d ' ')
printf "\\x$(printf %02x $(((old + 1) % 256)))" | dd of="$work/changed.der" bs=1 seek=600 conv=notrunc status=none
cmp -s "$work/seal.der" "$work/changed.der" && { echo "FAIL: the byte did not change"; failures=$((failures + 1)); }
expect 1 "verify of a changed seal" -- "$tool" verify "$work/changed.der"
contains out "NOT VALID" "verify output for a changed seal"

expect 1 "parse of a non-seal" -- "$tool" parse "$work/demo/seal.png"
contains err "not an electronic seal" "parse error message"
expect 3 "missing file" -- "$tool" verify "$work/none.der"
contains err "cannot read" "missing file message"

sed 's|<sealmakerpfxpwd>[^<]*<|<sealmakerpfxpwd>Wrong-Secret-99<|' "$work/demo/sealparams.xml" >"$work/wrong.xml"
expect 1 "make with a wrong password" -- "$tool" make "$work/wrong.xml" -o "$work/x.der"
contains err "wrong password" "wrong password message"
lacks err "Wrong-Secret-99" "the password is not shown"
[ -e "$work/x.der" ] && { echo "FAIL: a failed make wrote a seal"; failures=$((failures + 1)); }

sed 's|<vaildend>[^<]*<|<vaildend>2031-05-13<|' "$work/demo/sealparams.xml" >"$work/date.xml"
expect 1 "make with a bad date" -- "$tool" make "$work/date.xml" -o "$work/x.der"
contains err "GeneralizedTime" "bad date message"

left=$(ls -A "$TMPDIR")
[ -z "$left" ] || { echo "FAIL: temporary files left: $left"; failures=$((failures + 1)); }

[ "$failures" = 0 ] && echo "sealtool: all checks passed"
exit $((failures > 0))
