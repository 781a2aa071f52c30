#!/usr/bin/env bash
# The softkey command end to end on a store of its own: results, messages and exit codes.
#   softkey_tool_test.sh [RUNNER...] SOFTKEY
# RUNNER runs the program (the Wine harness for softkey.exe). SOFTKEY_TEST_LABEL is a non-ASCII
# label the system's ANSI code page holds (default: Chinese, for code page 936).
set -u
tool=("$@")
label=${SOFTKEY_TEST_LABEL:-测试钥匙}
store=$(mktemp -d)
trap 'rm -rf "$store"' EXIT
export SOFTKEY_STORE=$store
failures=0
check() {  # check DESCRIPTION EXPECTED_STATUS COMMAND...
    local what=$1 want=$2
    shift 2
    # Through a file, not a pipe: under Wine, the session's long-lived processes would hold a
    # pipe open after the program ended.
    "$@" >"$store/.out" 2>&1
    local got=$?
    out=$(cat "$store/.out")
    if [ "$got" != "$want" ]; then
        echo "FAIL: $what: exit $got, wanted $want: $out"
        failures=$((failures + 1))
    fi
}
expect_text() {  # expect_text DESCRIPTION PATTERN (in the last output)
    if ! grep -q -- "$2" <<<"$out"; then
        echo "FAIL: $1: no '$2' in: $out"
        failures=$((failures + 1))
    fi
}

check "help" 0 "${tool[@]}" --help
expect_text "help lists commands" "set-pin-state"
check "help after a command" 0 "${tool[@]}" create --help
expect_text "usage shown" "usage: softkey"
check "no command" 2 "${tool[@]}"
check "unknown command" 2 "${tool[@]}" frobnicate
expect_text "unknown command named" "unknown command 'frobnicate'"
check "empty store lists" 0 "${tool[@]}" list
expect_text "empty store said" "no keys"

check "create" 0 "${tool[@]}" create SK100 --label "$label" --rsa 1 --sm2 2 --rsa-bits 1024
check "create again" 1 "${tool[@]}" create SK100
expect_text "duplicate named" "exists already"
check "bad serial" 2 "${tool[@]}" create "bad/serial"
check "too many containers" 2 "${tool[@]}" create SK101 --rsa 5 --sm2 4
check "bad number" 2 "${tool[@]}" create SK101 --rsa many
check "too many tries" 2 "${tool[@]}" create SK101 --retries 16
check "unknown option" 2 "${tool[@]}" create SK101 --colour red
check "label too long" 2 "${tool[@]}" create SK101 --label "$(printf 'L%.0s' {1..65})"
check "nothing half made" 0 "${tool[@]}" list
if grep -q SK101 <<<"$out"; then echo "FAIL: rejected key SK101 was stored"; failures=$((failures + 1)); fi
expect_text "list shows the key" "SK100 *present *$label *10/10 tries, factory PIN, 3 container"

check "show" 0 "${tool[@]}" show SK100
expect_text "show containers" "container 2:   SM2-2 (SM2) signature yes, exchange yes"
check "show missing" 1 "${tool[@]}" show NOPE

printf '\x30\x03\x02\x01\x05' >"$store/seal.der"
printf 'not a seal' >"$store/junk.der"
check "add seal" 0 "${tool[@]}" add-seal SK100 "$store/seal.der"
check "add second seal" 0 "${tool[@]}" add-seal SK100 "$store/seal.der"
expect_text "two seals" "holds 2 seal"
check "junk seal" 1 "${tool[@]}" add-seal SK100 "$store/junk.der"
expect_text "junk named" "not a DER"
check "missing seal file" 1 "${tool[@]}" add-seal SK100 "$store/none.der"
check "remove seal" 0 "${tool[@]}" remove-seal SK100 1
expect_text "one seal left" "holds 1 seal"
check "remove missing seal" 1 "${tool[@]}" remove-seal SK100 5

check "set label" 0 "${tool[@]}" set-label SK100 "New label"
check "set-pin-state blocked" 0 "${tool[@]}" set-pin-state SK100 --blocked
expect_text "blocked shown" "blocked"
check "set-pin-state unblock and change" 0 "${tool[@]}" set-pin-state SK100 --unblock --pin 123456
expect_text "changed PIN" "10/10 tries, PIN changed"
check "retries over max" 1 "${tool[@]}" set-pin-state SK100 --retries 11
check "retries" 0 "${tool[@]}" set-pin-state SK100 --retries 3 --default
expect_text "default again" "3/10 tries, factory PIN"
check "conflicting options" 2 "${tool[@]}" set-pin-state SK100 --blocked --unblock
check "no options" 2 "${tool[@]}" set-pin-state SK100

check "pull" 0 "${tool[@]}" pull SK100
check "list after pull" 0 "${tool[@]}" list
expect_text "pulled" "SK100 *pulled *New label"
check "insert" 0 "${tool[@]}" insert SK100
check "export cert" 0 "${tool[@]}" export-cert SK100 "$store/sign.cer"
if ! openssl x509 -inform DER -in "$store/sign.cer" -noout -text | grep -q "SM2\|sm2\|1.2.156.10197"; then
    echo "FAIL: exported signing certificate is not an SM2 certificate"
    failures=$((failures + 1))
fi
check "maker document" 0 "${tool[@]}" maker-doc SK100 "$store/maker.b64"
if ! base64 -d "$store/maker.b64" 2>/dev/null | head -c 4 | grep -q "SMC1"; then
    echo "FAIL: the maker document is not an encrypted file in Base64"
    failures=$((failures + 1))
fi
if base64 -d "$store/maker.b64" 2>/dev/null | grep -qa "privatekey"; then
    echo "FAIL: the maker document shows its contents"
    failures=$((failures + 1))
fi
check "maker document of no key" 1 "${tool[@]}" maker-doc NOKEY "$store/none.b64"
check "--store wins" 0 "${tool[@]}" --store "$store/other" list
expect_text "other store empty" "no keys"
check "remove" 0 "${tool[@]}" remove SK100
check "remove again" 1 "${tool[@]}" remove SK100

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all softkey tool checks passed"
