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

# ---------------------------------------------------------------------------------------------
# The seal read road: a seal whose maker signs with key-held material, read back by a host
# through Sealgate, and its status from the seal registry service on this machine.
# ---------------------------------------------------------------------------------------------
step "Seal read road: a key whose signing certificate is a seal maker's"
"$bin/softkey" create READ0001 --label "seal key" --rsa 0 --sm2 1
"$bin/softkey" maker-doc READ0001 "$work/maker-doc.b64"
echo "encrypted maker document: $(stat -c %s "$work/maker-doc.b64") characters of Base64"

step "Make a seal signed through the key driver: sealhost make sealinfo.xml"
stamp() { date -d "@$1" +%Y%m%d%H%M%SZ; }
now=$(date +%s)
# sealinfo ESID VALID-FROM VALID-TO: the parameter document of a seal made with the key's maker.
sealinfo() {
    printf '<sealinfo>\n'
    printf '\t<imgdata>%s</imgdata>\n' "$(base64 -w0 "$work/material/seal.png")"
    printf '\t<usercertlist><usercert>%s</usercert></usercertlist>\n' \
        "$(base64 -w0 "$work/material/holder.cer")"
    printf '\t<esid>%s</esid>\n\t<version>4</version>\n\t<sealtype>1</sealtype>\n' "$1"
    printf '\t<sealname>%s</sealname>\n' "$(printf '演示合同章' | iconv -f UTF-8 -t GBK)"
    printf '\t<createdate>%s</createdate>\n' "$(stamp "$2")"
    printf '\t<validstart>%s</validstart>\n' "$(stamp "$2")"
    printf '\t<validend>%s</validend>\n' "$(stamp "$3")"
    printf '\t<imgtype>png</imgtype>\n'
    printf '\t<sealmakercert>%s</sealmakercert>\n' "$(cat "$work/maker-doc.b64")"
    printf '</sealinfo>\n'
}
sealinfo 3201000000777 "$now" $((now + 3 * 365 * 86400)) > "$work/sealinfo.xml"
sealinfo 3201000000778 $((now - 400 * 86400)) $((now - 86400)) > "$work/sealinfo-old.xml"
export SOFTKEY_SERIAL=READ0001
"$bin/sealhost" make "$work/sealinfo.xml" "$work/seal-key.der"
"$bin/sealtool" verify "$work/seal-key.der"
"$bin/sealhost" make "$work/sealinfo-old.xml" "$work/seal-old.der"
"$bin/softkey" add-seal READ0001 "$work/seal-key.der"
# The seal made with the PFX maker above, and one whose validity ended yesterday.
"$bin/softkey" add-seal READ0001 "$work/seal.der"
"$bin/softkey" add-seal READ0001 "$work/seal-old.der"

step "A host reads the seals through Sealgate: sealhost list"
"$bin/sealhost" list | iconv -f GBK -t UTF-8

step "Seal status from the seal registry service (sealregistry on 127.0.0.1)"
"$bin/sealregistry" --port-file "$work/registry.port" 3201000000777=2 3201000000001=4 \
    > "$work/registry.log" 2>&1 &
registry_pid=$!
trap 'kill "$registry_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$work/registry.port" ] && break; sleep 0.1; done
[ -s "$work/registry.port" ] || { echo "demo: the registry service did not start" >&2; exit 1; }
export SEALGATE_REGISTRY_URL="http://127.0.0.1:$(cat "$work/registry.port")/pekorl/sealrecord/clientGetSealStatus"
export SEALGATE_ONLINE=1 SEALGATE_HTTP_TIMEOUT=5
echo "service: $SEALGATE_REGISTRY_URL"
"$bin/sealhost" status 0
"$bin/sealhost" status 1
"$bin/sealhost" status 2

step "Offline, the maker's signature decides"
SEALGATE_ONLINE=0 "$bin/sealhost" status 0
kill "$registry_pid" 2>/dev/null || true
wait "$registry_pid" 2>/dev/null || true
trap - EXIT
unset SOFTKEY_SERIAL SEALGATE_REGISTRY_URL SEALGATE_ONLINE SEALGATE_HTTP_TIMEOUT

step "Keywarden shows a software key as it is inserted (under Wine)"
cmake --preset windows-x64 >/dev/null
cmake --build build/windows-x64 -j "$(nproc)" --target Keywarden keywarden-remote softkey-notify keva_lib >/dev/null
scripts/screenshots.sh --demo "$work"

step "Library trace of this run ($RZLOG_FILE)"
head -n 20 "$RZLOG_FILE" | iconv -f GBK -t UTF-8 || true
printf '\ndemo finished: products in %s, files in %s\n' "$dist" "$work"
