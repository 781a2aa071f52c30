#!/usr/bin/env bash
# Builds the Windows setup programs with NSIS from the install trees of both Windows builds:
#   [KIT_VERSION=a.b.c.d] make-installer.sh OUT_DIR [X86_TREE] [X64_TREE]
# OUT_DIR receives Keywarden-VERSION-setup.exe (what users get) and
# Keywarden-VERSION-devkit-setup.exe (adds the stand-ins of the outside components, for trying
# the kit on a software key). TARGET=amd64-unicode builds 64-bit setup programs instead (used by
# the tests on machines that cannot run 32-bit programs). KIT_VERSION overrides the version of
# CMakeLists.txt (the tests make an older build).
# Signatures: Keywarden.exe, Sealform.dll and Sealgate.dll of both widths, the uninstaller and the
# setup programs are signed (sign.sh) with the certificate of KIT_SIGN_PFX, whose password is in
# KIT_SIGN_PASSWORD_FILE; without them with a throwaway test certificate that the first run makes
# in build/signing. The build trees stay as they are: signed copies of the trees are packed, in a
# temporary folder, or in KIT_INSTALLER_STAGE (kept) when that names one. The stand-ins of the
# devkit setup are not signed: they stand for the key vendor's modules, not the product.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=$1
x86=$(cd "${2:-$root/dist/windows-x86}" && pwd)
x64=$(cd "${3:-$root/dist/windows}" && pwd)
version=${KIT_VERSION:-$(sed -n "s/^project(UKeyKit VERSION \([0-9.]*\).*/\1/p" "$root/CMakeLists.txt")}
[ -n "$version" ] || { echo "make-installer.sh: no version in CMakeLists.txt" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)
suffix=${TARGET:+-${TARGET%%-*}}

if [ -z "${KIT_SIGN_PFX:-}" ]; then
    certificate=$root/build/signing
    # Made once and again when it expires within a day (it is valid for 30 days).
    if [ ! -f "$certificate/signing.pfx" ] ||
        ! openssl x509 -checkend 86400 -noout -in "$certificate/signing.pem" >/dev/null 2>&1; then
        "$here/sign.sh" --test-certificate "$certificate"
    fi
    export KIT_SIGN_PFX=$certificate/signing.pfx KIT_SIGN_PASSWORD_FILE=$certificate/signing.password
fi
[ -r "$KIT_SIGN_PFX" ] || { echo "make-installer.sh: cannot read KIT_SIGN_PFX $KIT_SIGN_PFX" >&2; exit 1; }
[ -r "${KIT_SIGN_PASSWORD_FILE:-}" ] ||
    { echo "make-installer.sh: cannot read KIT_SIGN_PASSWORD_FILE ${KIT_SIGN_PASSWORD_FILE:-}" >&2; exit 1; }

if [ -n "${KIT_INSTALLER_STAGE:-}" ]; then
    stage=$KIT_INSTALLER_STAGE
    rm -rf "$stage"
    mkdir -p "$stage"
    stage=$(cd "$stage" && pwd)
else
    stage=$(mktemp -d)
    trap 'rm -rf "$stage"' EXIT
fi
# The product's programs and libraries, signed in copies of the install trees.
cp -a "$x86/." "$stage/x86"
cp -a "$x64/." "$stage/x64"
signed=()
for f in x86/bin/Keywarden.exe x86/bin/Sealform.dll x86/bin/Sealgate.dll x64/bin/Sealform.dll x64/bin/Sealgate.dll; do
    [ -f "$stage/$f" ] && signed+=("$stage/$f")
done
"$here/sign.sh" "${signed[@]}"
x86=$stage/x86 x64=$stage/x64

# Keywarden's window protocol for the script: the header's one-line #defines as NSIS !defines.
sed -n 's|^#define \([A-Z_][A-Z0-9_]*\) \([^ ]*\).*|!define \1 \2|p' \
    "$root/keywarden/include/keywarden_window.h" >"$stage/keywarden_window.nsh"
common=(-V2 -DVERSION="$version" -DX86="$x86" -DX64="$x64" -DSOURCE="$root" -DSIGN="$here/sign.sh"
    -DPROTOCOL="$stage/keywarden_window.nsh")
[ -n "${TARGET:-}" ] && common+=(-DTARGET="$TARGET")
(cd "$here" &&
    makensis "${common[@]}" -DOUTFILE="$out/Keywarden-$version$suffix-setup.exe" keywarden.nsi &&
    makensis "${common[@]}" -DDEVKIT -DOUTFILE="$out/Keywarden-$version$suffix-devkit-setup.exe" keywarden.nsi)
echo "$out/Keywarden-$version$suffix-setup.exe"
