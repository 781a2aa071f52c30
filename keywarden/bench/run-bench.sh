#!/usr/bin/env bash
# Makes the benchmark's keys with the native keva-testkeys and runs keywarden_bench under Wine.
#   keywarden/bench/run-bench.sh [benchmark options...]
# KW_WIN_BUILD and KW_NATIVE_BUILD name the build trees (build/windows-x64, build/linux).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
win=$(realpath "${KW_WIN_BUILD:-$root/build/windows-x64}")
native=$(realpath "${KW_NATIVE_BUILD:-$root/build/linux}")
work=$win/keywarden/bench
store=$work/softkey-store
rm -rf "$store"
keys=(KB8:rsa=8,sm2=0,changed,absent)
for i in $(seq -w 1 16); do keys+=("R$i:changed,absent"); done
"$native/out/keva-testkeys" "$store" "${keys[@]}" >/dev/null
cd "$work"
SOFTKEY_STORE=$store KIT_WINEPREFIX=$work/wineprefix "$root/cmake/wine-run.sh" "$win/bin/keywarden_bench.exe" "$@"
