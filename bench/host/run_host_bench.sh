#!/usr/bin/env bash
# ParsingSeal and GetSealInfo mode 0 natively and through a Windows tree's DLLs under Wine, in one
# run on one fixture, and what Wine costs (Wine time / native time, wall clock).
#
#   bench/host/run_host_bench.sh [--win32] [benchmark options...]
#
# KIT_WIN_BUILD and KIT_NATIVE_BUILD name the build trees (build/windows-x64 or, with --win32,
# build/windows-x86; build/linux). JSON results go to KIT_WIN_BUILD/bench/host.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
width=--win64 default_tree=windows-x64
if [ "${1:-}" = --win32 ]; then
    width=--win32 default_tree=windows-x86
    shift
fi
win=$(realpath "${KIT_WIN_BUILD:-$root/build/$default_tree}")
native=$(realpath "${KIT_NATIVE_BUILD:-$root/build/linux}")
tools=$native/out
for f in "$tools/softkey" "$tools/sealtool" "$tools/sealkit_host_bench" \
    "$win/bin/sealkit_host_bench.exe"; do
    [ -x "$f" ] || { echo "run_host_bench.sh: $f is missing: build both trees first" >&2; exit 1; }
done

work=$win/bench/host
fx=$work/fixture
rm -rf "$fx" && mkdir -p "$fx"
export SOFTKEY_NOTIFY=none
serial=SK-BENCH-0001
"$tools/softkey" --store "$fx/store" create "$serial" --rsa 0 --sm2 1 >/dev/null
"$tools/sealtool" demo-material "$fx/material" >/dev/null
"$tools/sealtool" make "$fx/material/sealparams.xml" -o "$fx/seal0.der" >/dev/null
"$tools/softkey" --store "$fx/store" add-seal "$serial" "$fx/seal0.der" >/dev/null

run() {
    local name=$1 prefix=$2
    shift 2
    echo "== $name"
    KIT_HOST_FIXTURE="$prefix$fx" KIT_HOST_STORE="$prefix$fx/store" "$@" \
        --benchmark_out="$(pwd)/$name.json" --benchmark_out_format=json "${options[@]}" \
        >"$name.log" 2>&1 || { cat "$name.log"; return 1; }
    grep -E "^BM_" "$name.log"
}
options=("$@")
cd "$work"
run native "" "$tools/sealkit_host_bench"
KIT_WINEPREFIX=$work/wineprefix run wine "Z:" "$root/cmake/wine-run.sh" "$width" \
    "$win/bin/sealkit_host_bench.exe"
WINEPREFIX=$work/wineprefix wineserver -k >/dev/null 2>&1 || true

echo "== Wine / native (real time per call)"
python3 - native.json wine.json <<'PY'
import json, sys
def times(path):
    with open(path) as f:
        return {b["name"]: (b["real_time"], b["time_unit"]) for b in json.load(f)["benchmarks"]
                if b.get("run_type", "iteration") == "iteration" and "error_occurred" not in b}
native, wine = times(sys.argv[1]), times(sys.argv[2])
for name in native:
    if name in wine:
        (n, unit), (w, wunit) = native[name], wine[name]
        print(f"{name:32} native {n:10.1f} {unit}   wine {w:10.1f} {wunit}   ratio {w / n:5.2f}")
PY
