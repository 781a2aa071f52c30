#!/usr/bin/env bash
# Runs every test suite and fails when any test fails: the native build, the same tests under
# AddressSanitizer and UBSan, and the Windows builds under Wine, 32-bit (the target) first, then
# 64-bit (each with the setup program's test in a clean prefix), and the Debian packages.
# Each suite's time is printed so that a slow one shows.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0
run() {
    local tree=$1 start=$SECONDS
    shift
    echo "== ctest $tree"
    ctest --test-dir "$tree" --output-on-failure -j "${JOBS:-$(nproc)}" "$@" || status=1
    echo "== $tree: $((SECONDS - start)) s"
}
run build/linux
ASAN_OPTIONS=detect_leaks=1 run build/linux-asan
# Windows suites one at a time: each starts Wine sessions and windows of its own.
run build/windows-x86 -j 1
run build/windows-x64 -j 1
start=$SECONDS
echo "== Debian packages"
packaging/linux/tests/test-packages.sh dist/packages sealgate/host/sealhost.c || status=1
echo "== Debian packages: $((SECONDS - start)) s"
exit $status
