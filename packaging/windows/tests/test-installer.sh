#!/usr/bin/env bash
# The Windows setup under Wine, in a clean prefix of one width:
#   test-installer.sh win32|win64 WINDOWS_BIN NATIVE_TOOLS WORK_DIR
# WINDOWS_BIN is the tree's bin folder (store-certs.exe); NATIVE_TOOLS holds keva-testkeys.
#  1. silent install of the development setup: files, Run entry with "/min", Start-menu entry,
#     uninstall entry with the version; the 64-bit DLLs only in a 64-bit prefix;
#  2. Keywarden started from the Run entry's own command line registers the inserted software
#     key's certificates in the personal store; the installed softkey.exe makes another key and
#     plugs it in: the running Keywarden registers its certificates; pulled, they leave;
#  3. upgrade to a newer build over the running Keywarden: it quits, the files and the uninstall
#     entry are the new build's, config.ini keeps the administrator's loglevel, and exactly one
#     Keywarden runs afterwards;
#  4. silent uninstall while Keywarden runs with the key inserted: no file, no Run, Start-menu
#     or uninstall entry, no Keywarden process, no certificate of the key in the store.
# Signatures (osslsigncode, against a throwaway certificate of the test's own): the setup programs,
# the uninstaller the setup wrote, and the product's programs and libraries as installed and as
# packed carry one SHA-256 signature by that certificate whose digest matches the file; the
# stand-ins carry none; a file with one byte changed fails; the install trees stay unsigned.
# The setup is a 32-bit program. Where the 32-bit Wine loader cannot run (a kernel without
# 32-bit support), a win32 run is skipped (77) and a win64 run tests the same script built as
# a 64-bit setup of the 64-bit programs instead, and says so.
set -uo pipefail
width=$1 bin=$(cd "$2" && pwd) native=$(cd "$3" && pwd) work=$4
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
fail() { echo "FAIL: $*" >&2; cleanup; exit 1; }
step() { echo "== $*"; }

if "$root/cmake/wine-run.sh" --win32 --probe 2>/dev/null; then
    can32=1
else
    can32=0
fi
if [ "$width" = win32 ]; then
    [ "$can32" = 1 ] || { echo "the 32-bit Wine loader cannot run here: not run" >&2; exit 77; }
    wine=/usr/lib/wine/wine regview=""
    trees=("$root/dist/windows-x86" "$root/dist/windows")
    target=""
else
    wine=/usr/lib/wine/wine64 regview="/reg:32"
    trees=("$root/dist/windows-x86" "$root/dist/windows")
    target=""
    if [ "$can32" = 0 ]; then
        echo "NOTE: the 32-bit Wine loader cannot run here; testing the setup script built as a 64-bit setup of the 64-bit programs"
        trees=("$root/dist/windows" "$root/dist/windows")
        target=amd64-unicode regview=""
    fi
fi
for t in "${trees[@]}"; do
    [ -f "$t/bin/Keywarden.exe" ] || { echo "no $t/bin/Keywarden.exe (make windows windows-x86)" >&2; exit 1; }
done

rm -rf "$work"
mkdir -p "$work"
command -v osslsigncode >/dev/null || { echo "no osslsigncode (scripts/deps.sh installer)" >&2; exit 1; }
"$root/packaging/windows/sign.sh" --test-certificate "$work/signing" || { echo "no test certificate" >&2; exit 1; }
export KIT_SIGN_PFX=$work/signing/signing.pfx KIT_SIGN_PASSWORD_FILE=$work/signing/signing.password
export WINEPREFIX=$work/prefix WINEARCH=$width WINEDEBUG=-all KIT_WINE=$wine
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export SOFTKEY_STORE=$work/store
"$root/cmake/wine-prefix.sh" "$WINEPREFIX"
if [ -z "${DISPLAY:-}" ]; then
    Xvfb :$((100 + $$ % 400)) -screen 0 1024x768x24 >/dev/null 2>&1 &
    xvfb=$!
    export DISPLAY=:$((100 + $$ % 400))
    # Up once its socket is there.
    for _ in $(seq 100); do [ -S /tmp/.X11-unix/X$((100 + $$ % 400)) ] && break; sleep 0.1; done
    [ -S /tmp/.X11-unix/X$((100 + $$ % 400)) ] || { echo "Xvfb did not start" >&2; exit 1; }
fi
cleanup() {
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
}
# Wine runs in the target machines' locale (code page 936). Its calls write to files, never to
# a pipe (long-lived Wine processes keep it open).
wine_call() { LC_ALL=zh_CN.UTF-8 "$wine" "$@"; }
w() { wine_call "$@" >"$work/wine.out" 2>&1; }
regq() {  # KEY VALUE -> the value's data, or nothing
    wine_call reg query "$1" /v "$2" $regview >"$work/reg.out" 2>/dev/null || return 0
    tr -d '\r' <"$work/reg.out" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
unix_path() { wine_call winepath -u "$1" 2>/dev/null | tr -d '\r'; }
# Keywarden processes of this prefix only (other Wine sessions may run on the machine).
keywardens() {
    local pid
    for pid in $(pgrep -f 'Keywarden\.exe'); do
        tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
            printf '%s ' "$pid"
    done
}
certs() { wine_call "$bin/store-certs.exe" >"$work/certs.out" 2>&1; tr -d '\r' <"$work/certs.out"; }
wait_for() {  # SECONDS COMMAND...
    local until=$((SECONDS + $1)); shift
    while [ $SECONDS -lt $until ]; do "$@" && return 0; sleep 0.5; done
    return 1
}
have_certs() { [ -n "$(certs)" ]; }
# FILE: exactly one signature, SHA-256, by the test's certificate, and the file's digest is the
# signed one.
signed() {
    osslsigncode verify -CAfile "$work/signing/signing.pem" -in "$1" >"$work/verify.out" 2>&1 || return 1
    local current calculated
    current=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' "$work/verify.out")
    calculated=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$work/verify.out")
    [ "$(grep -c '^Signature Index:' "$work/verify.out")" = 1 ] &&
        grep -q '^Message digest algorithm *: SHA256' "$work/verify.out" &&
        grep -qx 'Number of verified signatures: 1' "$work/verify.out" &&
        [ -n "$current" ] && [ "$current" = "$calculated" ]
}
unsigned() {
    ! osslsigncode verify -in "$1" >"$work/verify.out" 2>&1 && grep -q '^No signature found' "$work/verify.out"
}
# FILE COPY: COPY is FILE with the byte in its middle inverted.
tamper() {
    local offset byte
    cp "$1" "$2"
    offset=$(( $(stat -c %s "$1") / 2 ))
    byte=$(od -An -tu1 -j "$offset" -N1 "$1" | tr -d ' ')
    printf "\\$(printf %o $((255 - byte)))" | dd of="$2" bs=1 seek="$offset" conv=notrunc status=none
}
no_keywarden() { [ -z "$(keywardens)" ]; }

# Two builds of the development setup: the one installed first and a newer one.
version=$(sed -n 's/^project(UKeyKit VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
older=$(echo "$version" | awk -F. '{printf "%d.%d.%d.%d", $1, $2, $3, ($4 > 0 ? $4 - 1 : 0)}')
[ "$older" = "$version" ] && older=0.0.0.1
TARGET=$target KIT_VERSION=$older "$root/packaging/windows/make-installer.sh" "$work/old" "${trees[@]}" >/dev/null ||
    fail "make-installer.sh (older)"
KIT_INSTALLER_STAGE=$work/new-stage TARGET=$target \
    "$root/packaging/windows/make-installer.sh" "$work/new" "${trees[@]}" >/dev/null ||
    fail "make-installer.sh"
old_setup=$(ls "$work"/old/*-devkit-setup.exe) new_setup=$(ls "$work"/new/*-devkit-setup.exe)

"$native/keva-testkeys" "$SOFTKEY_STORE" INST1:rsa=1,sm2=0,changed >/dev/null || fail "keva-testkeys"

step "silent install of $older"
w "$old_setup" /S || fail "setup /S exited $?"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Keywarden'
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
location=$(regq "$uninstall_key" InstallLocation)
[ -n "$location" ] || fail "no uninstall entry"
dir=$(unix_path "$location")
[ "$(regq "$uninstall_key" DisplayVersion)" = "$older" ] || fail "uninstall entry version"
[ -n "$(regq "$uninstall_key" UninstallString)" ] || fail "no UninstallString"
for f in Keywarden.exe config.ini uninstall.exe include/sealform.h include/sealgate.h \
         KEVA_QMB4410_LIB.dll softkey.exe SecureModelCollection.dll softkey-notify.exe; do
    [ -f "$dir/$f" ] || fail "missing $location\\$f"
done
if [ -f "${trees[0]}/bin/Sealform.dll" ]; then
    for f in Sealform.dll Sealgate.dll lib/libSealform.dll.a lib/libSealgate.dll.a; do
        [ -f "$dir/$f" ] || fail "missing $f"
    done
    if [ "$width" = win64 ]; then
        [ -f "$dir/x64/Sealform.dll" ] && [ -f "$dir/x64/Sealgate.dll" ] || fail "no 64-bit DLLs in a 64-bit prefix"
    else
        [ ! -e "$dir/x64" ] || fail "64-bit DLLs in a 32-bit prefix"
    fi
else
    echo "NOTE: no Sealform.dll in ${trees[0]}/bin: the DLL checks are not made"
    [ "$width" = win32 ] && [ -e "$dir/x64" ] && fail "an x64 folder in a 32-bit prefix"
fi
menu=$(unix_path 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Keywarden\Keywarden.lnk')
[ -f "$menu" ] || fail "no Start-menu entry"
run=$(regq "$run_key" Keywarden)
[ "$run" = "\"$location\\Keywarden.exe\" /min" ] || fail "Run entry is '$run'"
echo "installed in $location; Run: $run"

step "signatures"
for f in "$work"/old/*.exe "$work"/new/*.exe "$dir/uninstall.exe" "$work"/new-stage/x*/bin/Seal*.dll; do
    [ -e "$f" ] || continue  # trees without the DLLs (see above)
    signed "$f" || fail "$f: not one matching signature by the product certificate: $(cat "$work/verify.out")"
done
for f in "$dir"/*.exe "$dir"/*.dll "$dir"/x64/*.dll; do
    [ -e "$f" ] || continue
    case ${f#"$dir"/} in
    Keywarden.exe | uninstall.exe | Sealform.dll | Sealgate.dll | x64/Sealform.dll | x64/Sealgate.dll)
        signed "$f" || fail "installed $f: not one matching signature: $(cat "$work/verify.out")" ;;
    *) unsigned "$f" || fail "installed stand-in $f is signed: $(cat "$work/verify.out")" ;;
    esac
done
unsigned "${trees[0]}/bin/Keywarden.exe" || fail "make-installer.sh signed the install tree's Keywarden.exe"
for f in "$dir/Keywarden.exe" "$new_setup"; do
    tamper "$f" "$work/tampered.exe"
    ! signed "$work/tampered.exe" && grep -q MISMATCH "$work/verify.out" ||
        fail "$(basename "$f") with one byte changed: $(cat "$work/verify.out")"
done
echo "one matching signature each: setup programs, uninstall.exe, the product's files; stand-ins unsigned; changed files fail"
printf '[exe_config]\r\nloglevel=4\r\n' >"$dir/config.ini"
# Keywarden's log folder: each run ends with a "Keywarden exit" line.
logs=$(unix_path 'C:\pvarel')
mkdir -p "$logs"

step "Keywarden from the Run entry's command line"
[ -z "$(certs)" ] || fail "the store is not empty before Keywarden runs"
# Wine builds the program's command line from its arguments: quoted program, then "/min",
# which is the Run entry's text.
run_program=${run#\"}
run_program=${run_program%%\"*}
run_arguments=${run#\"$run_program\" }
wine_call "$run_program" $run_arguments >"$work/keywarden.out" 2>&1 &
wait_for 60 have_certs || fail "Keywarden registered no certificate"
first=$(keywardens)
echo "Keywarden $first registered: $(certs | tr '\n' ';')"

step "the installed softkey.exe makes a key and plugs it in and out"
# A PIN of its own: a key with the factory PIN makes Keywarden ask for a new one.
holder="Installer Softkey Holder"
softkey() { wine_call "$dir/softkey.exe" "$@" >"$work/softkey.out" 2>&1; }
softkey_said() { tr -d '\r' <"$work/softkey.out"; }
has_holder() { certs | grep -qxF "$holder"; }
no_holder() { ! has_holder; }
softkey create INST2 --rsa 1 --sm2 0 --pin 24681357 --holder "$holder" --pulled ||
    fail "softkey.exe create: $(softkey_said)"
softkey list || fail "softkey.exe list: $(softkey_said)"
softkey_said | grep -q '^INST2 *pulled' || fail "softkey.exe list: $(softkey_said)"
sleep 2
no_holder || fail "certificates of a key that is not plugged in"
softkey insert INST2 || fail "softkey.exe insert: $(softkey_said)"
[ "$(softkey_said)" = "key INST2 inserted" ] || fail "softkey.exe insert said: $(softkey_said)"
wait_for 30 has_holder || fail "Keywarden registered no certificate of the key softkey.exe plugged in"
echo "plugged in: $(certs | tr '\n' ';')"
softkey pull INST2 || fail "softkey.exe pull: $(softkey_said)"
[ "$(softkey_said)" = "key INST2 pulled" ] || fail "softkey.exe pull said: $(softkey_said)"
wait_for 30 no_holder || fail "the certificates of the pulled key stay in the store"
have_certs || fail "the first key's certificates left with the other key"
echo "pulled: $(certs | tr '\n' ';')"

step "upgrade to $version over the running Keywarden"
w "$new_setup" /S || fail "upgrade setup /S exited $?"
[ "$(regq "$uninstall_key" DisplayVersion)" = "$version" ] || fail "uninstall entry not the new version"
grep -q 'loglevel=4' "$dir/config.ini" || fail "config.ini was not kept"
cmp -s "$work/new-stage/x86/bin/Keywarden.exe" "$dir/Keywarden.exe" || fail "Keywarden.exe not replaced"
# The setup waits until the old Keywarden has ended before it replaces a file: the old one's
# last log line (its exit) comes before the new Keywarden.exe was written (its change time).
exits=$(cat "$logs"/KEVA_QMB4410_Client_*.log 2>/dev/null | tr -d '\r' | grep ' Keywarden exit\[')
[ "$(printf '%s\n' "$exits" | grep -c .)" = 1 ] || fail "not one exit of the old Keywarden in its log: $exits"
exited=$(printf '%s\n' "$exits" | sed -n 's/^\[INFO\] CLIENT \([0-9-]* [0-9:]*\),\([0-9]*\) .*/\1 \2/p')
[ -n "$exited" ] || fail "unreadable exit line: $exits"
exited_ms=$(( $(date -d "${exited% *}" +%s) * 1000 + 10#${exited##* } ))
written_ms=$(date -d "$(stat -c %z "$dir/Keywarden.exe")" +%s%3N)
[ "$written_ms" -ge "$exited_ms" ] ||
    fail "Keywarden.exe was replaced ($written_ms ms) before the old Keywarden ended ($exited_ms ms)"
echo "the old Keywarden ended at $exited, Keywarden.exe written $((written_ms - exited_ms)) ms later"
# Under Wine the old program's Linux process can take a moment longer to leave (or be reaped).
old_gone() {
    local pid
    for pid in $first; do
        [ ! -d /proc/"$pid" ] || [ "$(sed 's/.*) //' /proc/"$pid"/stat 2>/dev/null | cut -d' ' -f1)" = Z ] ||
            return 1
    done
}
wait_for 10 old_gone || fail "the old Keywarden ($first) still runs"
wait_for 30 have_certs || fail "the restarted Keywarden registered no certificate"
sleep 3
set -- $(keywardens)
[ $# = 1 ] || fail "$# Keywarden processes after the upgrade"
echo "one Keywarden ($1) after the upgrade; config.ini kept"

step "uninstall while Keywarden runs with the key inserted"
w "$dir/uninstall.exe" /S || fail "uninstall.exe /S exited $?"
# The uninstaller runs from a copy in the temporary folder: wait for it.
wait_for 60 no_keywarden || fail "Keywarden still runs after uninstall"
wait_for 60 test ! -e "$dir" || fail "files left: $(find "$dir" | head)"
[ -z "$(regq "$run_key" Keywarden)" ] || fail "Run entry left"
[ -z "$(regq "$uninstall_key" DisplayName)" ] || fail "uninstall entry left"
[ ! -e "$(dirname "$menu")" ] || fail "Start-menu entry left"
[ -z "$(certs)" ] || fail "certificates left in the store: $(certs)"
echo "nothing left"
cleanup
echo "PASS: installer ($width${target:+, $target})"
