#!/usr/bin/env bash
# Authenticode signatures of the kit's Windows programs, libraries and setup programs, made with
# osslsigncode: SHA-256, one signature per file, no timestamp (no timestamp service is reachable
# from the build machines, so a signature is valid while its certificate is).
#   sign.sh FILE...                  signs each FILE in place
#   sign.sh --test-certificate DIR   makes a throwaway code-signing certificate in DIR:
#                                    signing.pfx, signing.password, signing.pem (the certificate)
# The certificate and key come from the PFX file KIT_SIGN_PFX, whose password is the first line
# of the file KIT_SIGN_PASSWORD_FILE. osslsigncode reads the password from that file itself, so
# it never appears on a command line (where `ps` would show it to every user of the machine).
# NSIS runs this script for the setup programs and the uninstaller (!finalize, !uninstfinalize).
set -euo pipefail

if [ "${1:-}" = --test-certificate ]; then
    dir=$2
    mkdir -p "$(dirname "$dir")"
    new=$(mktemp -d "$dir.new.XXXXXX")
    # Key and password stay readable by their owner only.
    (umask 077
     head -c 24 /dev/urandom | base64 >"$new/signing.password"
     openssl req -x509 -newkey rsa:3072 -nodes -keyout "$new/signing.key" -out "$new/signing.pem" \
         -days 30 -subj "/O=UKey middleware kit/CN=Keywarden test signing (not for release)" \
         -addext "basicConstraints=critical,CA:FALSE" \
         -addext "keyUsage=critical,digitalSignature" \
         -addext "extendedKeyUsage=codeSigning" 2>/dev/null
     openssl pkcs12 -export -in "$new/signing.pem" -inkey "$new/signing.key" \
         -name "Keywarden test signing" -out "$new/signing.pfx" \
         -passout "file:$new/signing.password"
     rm -f "$new/signing.key")
    rm -rf "$dir"
    mv "$new" "$dir"
    exit 0
fi

: "${KIT_SIGN_PFX:?sign.sh: KIT_SIGN_PFX names no PFX file}"
: "${KIT_SIGN_PASSWORD_FILE:?sign.sh: KIT_SIGN_PASSWORD_FILE names no password file}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for file in "$@"; do
    # osslsigncode writes a new file: sign into the work folder, keep the mode, then replace.
    if ! osslsigncode sign -pkcs12 "$KIT_SIGN_PFX" -readpass "$KIT_SIGN_PASSWORD_FILE" \
            -h sha256 -n Keywarden -in "$file" -out "$work/signed" >"$work/log" 2>&1; then
        echo "sign.sh: cannot sign $file: $(cat "$work/log")" >&2
        exit 1
    fi
    chmod --reference="$file" "$work/signed"
    cp -f "$work/signed" "$file.signed"
    mv -f "$file.signed" "$file"
    rm -f "$work/signed"
done
