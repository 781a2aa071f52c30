#!/usr/bin/env bash
# The libraries' host tests: prepares a fixture with the native tools, runs the host test
# program on it (natively, or a Windows build under Wine), and for a Windows build runs the
# native program on the same fixture and compares what both wrote byte for byte; the seals the
# Windows libraries made are checked again with OpenSSL natively.
#
#   run_host_tests.sh --tools DIR --program EXE [--runner WINE-RUNNER --native-program EXE]
#                     --work DIR
#
# --tools: the native build's output folder (softkey, sealtool, sealregistry).
set -euo pipefail

tools="" program="" runner="" native_program="" work=""
while [ $# -gt 0 ]; do
    case "$1" in
        --tools) tools=$2; shift 2 ;;
        --program) program=$2; shift 2 ;;
        --runner) runner=$2; shift 2 ;;
        --native-program) native_program=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        *) echo "run_host_tests.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
# A Windows run where the runner cannot run programs of its width is skipped (77), as the
# runner's own runs are: without it there is nothing to compare.
if [ -n "$runner" ]; then
    probe=0
    $runner --probe || probe=$?
    [ $probe -eq 0 ] || exit $probe
fi
for tool in softkey sealtool sealregistry; do
    if [ ! -x "$tools/$tool" ]; then
        echo "run_host_tests.sh: $tools/$tool is missing: build the native tree first" >&2
        exit 1
    fi
done
if [ -n "$runner" ] && [ ! -x "$native_program" ]; then
    echo "run_host_tests.sh: $native_program is missing: build the native tree first" >&2
    exit 1
fi

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
fx=$work/fixture
mkdir -p "$fx/certs"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    # The Wine session of the run ends with it (the runner's prefix: KIT_WINEPREFIX).
    if [ -n "$runner" ]; then
        WINEPREFIX="${KIT_WINEPREFIX:-$PWD/wineprefix}" wineserver -k >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT

# ---- fixture -----------------------------------------------------------------------------
export SOFTKEY_NOTIFY=none
serial=SK-HOST-0001
"$tools/softkey" --store "$fx/store" create "$serial" --rsa 0 --sm2 1 \
    --holder "$(printf '测试持有人')" >/dev/null
echo "$serial" >"$fx/serial.txt"
"$tools/softkey" --store "$fx/store" export-cert "$serial" "$fx/signcert.der" >/dev/null
"$tools/softkey" --store "$fx/store" maker-doc "$serial" "$fx/maker-doc.b64" >/dev/null
"$tools/sealtool" demo-material "$fx/material" >/dev/null
cp "$fx/material/sealparams.xml" "$fx/sealparams.xml"

# Two seals on the key: one valid (PFX maker), one whose validity has ended.
"$tools/sealtool" make "$fx/sealparams.xml" -o "$fx/seal0.der" >/dev/null
sed -E -e 's#<vaildstart>[0-9]{4}#<vaildstart>2019#' -e 's#<vaildend>[0-9]{4}#<vaildend>2020#' \
    -e 's#<esid>[0-9]+#<esid>3201000000002#' "$fx/sealparams.xml" >"$fx/sealparams-old.xml"
"$tools/sealtool" make "$fx/sealparams-old.xml" -o "$fx/seal1.der" >/dev/null
sed -n 's#.*<esid>\(.*\)</esid>.*#\1#p' "$fx/sealparams.xml" >"$fx/code0.txt"
echo 3201000000002 >"$fx/code1.txt"
for i in 0 1; do "$tools/softkey" --store "$fx/store" add-seal "$serial" "$fx/seal$i.der" >/dev/null; done

# The parameters of a seal whose maker signs through the key driver with the key's own pair.
stamp() { date -d "@$1" +%Y%m%d%H%M%SZ; }
now=$(date +%s)
{
    printf '<sealinfo>\n'
    printf '\t<imgdata>%s</imgdata>\n' "$(base64 -w0 "$fx/material/seal.png")"
    printf '\t<usercertlist><usercert>%s</usercert></usercertlist>\n' \
        "$(base64 -w0 "$fx/material/holder.cer")"
    printf '\t<esid>3201000000003</esid>\n\t<version>4</version>\n\t<sealtype>1</sealtype>\n'
    printf '\t<sealname>%s</sealname>\n' "$(printf '测试合同章' | iconv -f UTF-8 -t GBK)"
    printf '\t<createdate>%s</createdate>\n' "$(stamp "$now")"
    printf '\t<validstart>%s</validstart>\n' "$(stamp "$now")"
    printf '\t<validend>%s</validend>\n' "$(stamp $((now + 365 * 86400)))"
    printf '\t<imgtype>png</imgtype>\n'
    printf '\t<sealmakercert>%s</sealmakercert>\n' "$(cat "$fx/maker-doc.b64")"
    printf '</sealinfo>\n'
} >"$fx/sealinfo.xml"

# Certificates whose subjects test the X.500 string form: several names, a multi-valued name,
# quoting, Chinese text, e-mail, an attribute without a short key.
cert() {
    local name=$1
    shift
    openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
        -keyout /dev/null -days 30 -utf8 "$@" -outform DER -out "$fx/certs/$name.der" \
        2>/dev/null
    echo "$name" >>"$fx/certs/list.txt"
}
cert plain -subj "/C=CN/O=Kit Test/OU=Seals/CN=Plain Holder"
cert chinese -subj "/C=CN/ST=江苏/L=南京/O=测试单位/CN=张三"
cert quoting -subj "/O=Comma, Inc./OU= padded /CN=a=b\\+c \"quoted\";#<>"
cert multivalue -multivalue-rdn -subj "/C=CN/O=Kit Test/CN=Holder+serialNumber=12345"
cert email -subj "/CN=Mail Holder/emailAddress=holder@example.test/DC=example/DC=test"
# (openssl takes no bare dotted OID in -subj; the user id has no X.500 key of its own.)
cert oid -subj "/CN=Odd Holder/UID=odd value/title=Officer/GN=Given/SN=Family"
# Chinese values whose first character's low byte is a blank or a tab (U+4E20, U+4E09, U+5F20).
cert chinese-blanks -subj "/O=丠/CN=三张/OU=张"
cp "$fx/signcert.der" "$fx/certs/key.der" && echo key >>"$fx/certs/list.txt"

# HTTPS registries' certificates, all for "localhost": one from the test CA that the runs trust
# (Linux: SEALGATE_REGISTRY_CA_FILE; Windows: the prefix's trusted roots), one from the same CA
# whose validity has ended, one from a CA nobody trusts.
tls=$fx/tls
mkdir -p "$tls"
printf '%s\n' '[ca]' 'default_ca=test' '[test]' 'database=index.txt' 'new_certs_dir=.' \
    'serial=serial' 'default_md=sha256' 'policy=any' 'copy_extensions=copy' 'unique_subject=no' \
    '[any]' 'commonName=supplied' >"$tls/ca.cnf"
tls_ca() {
    openssl req -x509 -new -newkey rsa:2048 -nodes -keyout "$tls/$1.key" -out "$tls/$1.pem" \
        -days 2 -subj "/O=Kit Test/CN=$2" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}
tls_server() {
    local name=$1 issuer=$2 start=$3 end=$4
    openssl req -new -newkey rsa:2048 -nodes -keyout "$tls/$name.key" -out "$tls/$name.csr" \
        -subj "/O=Kit Test/CN=localhost" -addext subjectAltName=DNS:localhost \
        -addext extendedKeyUsage=serverAuth 2>/dev/null
    (cd "$tls" && : >index.txt && openssl rand -hex 8 >serial &&
        openssl ca -batch -config ca.cnf -cert "$issuer.pem" -keyfile "$issuer.key" \
            -in "$name.csr" -out "$name.pem" -startdate "$start" -enddate "$end" -notext 2>/dev/null)
}
tls_ca ca "Kit Test Registry CA"
tls_ca stranger-ca "Kit Test Stranger CA"
openssl x509 -in "$tls/ca.pem" -outform DER -out "$tls/ca.der"
day=86400
tls_server server ca "$(date -u -d "@$((now - day))" +%Y%m%d%H%M%SZ)" \
    "$(date -u -d "@$((now + 2 * day))" +%Y%m%d%H%M%SZ)"
tls_server expired ca 20200101000000Z 20200201000000Z
tls_server stranger stranger-ca "$(date -u -d "@$((now - day))" +%Y%m%d%H%M%SZ)" \
    "$(date -u -d "@$((now + 2 * day))" +%Y%m%d%H%M%SZ)"

# Registry services on 127.0.0.1: one that knows the valid seal, one per fault, and the HTTPS
# ones (they know the seal too, so only TLS decides).
status0=17
echo $status0 >"$fx/status0.txt"
registry() {
    local name=$1 behaviour=$2
    shift 2
    "$tools/sealregistry" --port-file "$fx/registry-$name.port" --behaviour "$behaviour" \
        "$@" >/dev/null 2>&1 &
    pids+=($!)
}
registry normal normal --log "$fx/registry-normal.log" "$(cat "$fx/code0.txt")=$status0"
for behaviour in 500 garbage silent; do registry $behaviour $behaviour; done
registry slow slow --delay 6000
registry tls normal --log "$fx/registry-tls.log" --tls "$tls/server.pem" "$tls/server.key" \
    "$(cat "$fx/code0.txt")=$status0"
for name in expired stranger; do
    registry "tls-$name" normal --tls "$tls/$name.pem" "$tls/$name.key" \
        "$(cat "$fx/code0.txt")=$status0"
done
for name in normal 500 garbage slow silent tls tls-expired tls-stranger; do
    for _ in $(seq 100); do [ -s "$fx/registry-$name.port" ] && break; sleep 0.1; done
    [ -s "$fx/registry-$name.port" ] || { echo "registry $name did not start" >&2; exit 1; }
done
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY

# ---- runs --------------------------------------------------------------------------------
# run NAME PROGRAM PATH-PREFIX [RUNNER]: the program on a fresh copy of the key store.
run() {
    local name=$1 exe=$2 prefix=$3 wrapper=${4:-}
    local out=$work/out-$name
    rm -rf "$out" "$work/store-$name" "$fx/registry-normal.log" "$fx/registry-tls.log"
    mkdir -p "$out"
    cp -r "$fx/store" "$work/store-$name"
    echo "== host tests: $name"
    KIT_HOST_FIXTURE="$prefix$fx" KIT_HOST_OUT="$prefix$out" \
        KIT_HOST_STORE="$prefix$work/store-$name" \
        $wrapper "$exe" >"$work/$name.log" 2>&1 || { cat "$work/$name.log"; return 1; }
    grep -E "^\[  (PASSED|FAILED) |tests? ran" "$work/$name.log" || true
}

status=0
if [ -z "$runner" ]; then
    run native "$program" "" || status=1
    exit $status
fi

# The test CA among the prefix's trusted roots (machine store), as an administrator installs a
# private registry's issuer.
bin=$(dirname "$program")
$runner "$bin/trust_root.exe" "Z:$tls/ca.der" >"$work/trust-root.log" 2>&1 ||
    { cat "$work/trust-root.log"; exit 1; }
run windows "$program" "Z:" "$runner" || status=1

# Modules named like the outside ones planted in the host's current folder and on PATH; the kit
# folder holds the two libraries with the vendor's signer and key driver beside them, as a users'
# install does (no trace library, certificate SDK or file cipher). No plant may be loaded by the
# kit; a bare LoadLibraryA from the host, the control, does find them.
echo "== host tests: planted modules"
pl=$work/planted
mkdir -p "$pl/kit" "$pl/host" "$pl/cwd" "$pl/path" "$pl/markers"
cp "$bin/Sealgate.dll" "$bin/Sealform.dll" "$bin/signaturemodule.dll" "$bin/UKeyDriver.dll" "$pl/kit/"
cp "$bin/planted_host.exe" "$pl/host/"
for name in RZLog.dll CertificateSDK.dll SecureModelCollection.dll UKeyDriver.dll Sealform.dll \
    signaturemodule.dll; do
    cp "$bin/planted_module.dll" "$pl/cwd/$name"
    cp "$bin/planted_module.dll" "$pl/path/$name"
done
rm -rf "$work/store-planted" && cp -r "$fx/store" "$work/store-planted"
planted() {
    (cd "$pl/cwd" && KIT_PLANT_MARKERS="Z:$pl/markers" WINEPATH="Z:$pl/path" \
        KIT_HOST_FIXTURE="Z:$fx" KIT_HOST_STORE="Z:$work/store-planted" \
        $runner "$pl/host/planted_host.exe" "$@") >"$work/planted-$1.log" 2>&1
}
planted kit "Z:$pl/kit" || { cat "$work/planted-kit.log"; status=1; }
if [ -n "$(ls "$pl/markers")" ]; then
    echo "PLANTED MODULES LOADED BY THE KIT: $(ls "$pl/markers" | tr '\n' ' ')"
    status=1
else
    echo "no planted module loaded by the kit"
fi
planted control RZLog.dll CertificateSDK.dll || { cat "$work/planted-control.log"; status=1; }
for marker in cwd_RZLog.dll cwd_CertificateSDK.dll; do
    [ -e "$pl/markers/$marker" ] || { echo "control: $marker was not loaded" >&2; status=1; }
done
rm -f "$pl/cwd/CertificateSDK.dll"
planted control CertificateSDK.dll || { cat "$work/planted-control.log"; status=1; }
[ -e "$pl/markers/path_CertificateSDK.dll" ] ||
    { echo "control: path_CertificateSDK.dll was not loaded (is WINEPATH honoured?)" >&2; status=1; }
# The native program on the same fixture, measuring pictures on the screen Windows reported.
read -r screen dpi <"$work/out-windows/screen.txt" || { echo "no screen.txt" >&2; exit 1; }
KIT_SCREEN=$screen KIT_SCREEN_DPI=$dpi run native "$native_program" "" || status=1

echo "== the same results on Windows and natively"
for f in parse0.xml parse1.xml sealinfo0.xml sealinfo1.xml record0.bin record1.bin \
    base64-0.txt base64-1.txt code0.txt code1.txt subjects.txt; do
    if cmp -s "$work/out-windows/$f" "$work/out-native/$f"; then
        echo "same: $f"
    else
        echo "DIFFERENT: $f"
        diff <(od -c "$work/out-windows/$f") <(od -c "$work/out-native/$f") | head -20 || true
        status=1
    fi
done

echo "== the seals made on Windows, checked natively (OpenSSL)"
for f in made-pfx.der made-key.der; do
    if "$tools/sealtool" verify "$work/out-windows/$f" >/dev/null; then
        echo "verified: $f"
    else
        echo "NOT VERIFIED: $f"
        status=1
    fi
done
[ $status -eq 0 ] && echo "host tests: all passed"
exit $status
