#!/usr/bin/env bash
# Runs every test suite and fails when any test fails: the native build, the same tests under
# AddressSanitizer and UBSan, and the Windows build under wine64.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0
run() {
    echo "== ctest $1"
    ctest --test-dir "$1" --output-on-failure -j "${JOBS:-$(nproc)}" ${2:-} || status=1
}
run build/linux
ASAN_OPTIONS=detect_leaks=1 run build/linux-asan
run build/windows-x64 "-j 1"
exit $status
