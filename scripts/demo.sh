#!/usr/bin/env bash
# The kit's main job on a software key, from the installed products in dist/linux:
# a seal maker and a picture are generated, a seal is made, described and verified, and the
# seal is stored on a software USB key. Everything is written under build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."
dist=$PWD/dist/linux
bin=$dist/bin
work=$PWD/build/demo
rm -rf "$work"
mkdir -p "$work"
export SOFTKEY_STORE=$work/keys
export RZLOG_FILE=$work/trace.log
export KIT_DEBUG_OUTPUT=$work/trace.log

step() { printf '\n== %s\n' "$*"; }

step "Seal maker, holder certificate and seal picture (generated for the demo)"
"$bin/sealtool" demo-material "$work/material"
ls -l "$work/material"

step "Make a seal: sealtool make sealparams.xml"
"$bin/sealtool" make "$work/material/sealparams.xml" -o "$work/seal.der"
echo "seal: $(stat -c %s "$work/seal.der") bytes of DER"

step "An independent parser reads the seal: openssl asn1parse"
openssl asn1parse -inform DER -in "$work/seal.der" -i | cut -c1-110 | head -n 24

step "Describe the seal: sealtool parse"
"$bin/sealtool" parse "$work/seal.der" | cut -c1-120

step "Check the maker's signature: sealtool verify"
"$bin/sealtool" verify "$work/seal.der"

step "A tampered seal fails the check"
cp "$work/seal.der" "$work/tampered.der"
# Flip one byte of the picture, which is part of the signed seal information.
printf '\x21' | dd of="$work/tampered.der" bs=1 seek=1000 conv=notrunc status=none
if "$bin/sealtool" verify "$work/tampered.der"; then
    echo "demo: a tampered seal passed verification" >&2
    exit 1
fi

step "A software USB key holds the seal"
"$bin/softkey" create DEMO0001 --label "demo key" --rsa 1 --sm2 1
"$bin/softkey" add-seal DEMO0001 "$work/seal.der"
"$bin/softkey" list
"$bin/softkey" show DEMO0001

step "Keywarden shows a software key as it is inserted (under Wine)"
cmake --preset windows-x64 >/dev/null
cmake --build build/windows-x64 -j "$(nproc)" --target Keywarden keywarden-remote softkey-notify keva_lib >/dev/null
scripts/screenshots.sh --demo "$work"

step "Library trace of this run ($RZLOG_FILE)"
head -n 20 "$RZLOG_FILE" | iconv -f GBK -t UTF-8 || true
printf '\ndemo finished: products in %s, files in %s\n' "$dist" "$work"
