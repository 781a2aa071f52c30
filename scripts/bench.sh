#!/usr/bin/env bash
# Runs every benchmark program of the native build. Results go to the terminal and, as JSON,
# to build/bench/NAME.json for comparison between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build/bench
status=0
for bench in build/linux/out/*_bench; do
    [ -x "$bench" ] || continue
    name=$(basename "$bench")
    # Runs on its fixture beside its Windows twin (below).
    [ "$name" = sealkit_host_bench ] && continue
    echo "== $name"
    "$bench" --benchmark_out="build/bench/$name.json" --benchmark_out_format=json "$@" || status=1
done
# Keywarden's benchmark runs under Wine when the Windows build has it.
if [ -x build/windows-x64/bin/keywarden_bench.exe ] && [ -x build/linux/out/keva-testkeys ]; then
    echo "== keywarden_bench (Wine)"
    keywarden/bench/run-bench.sh --benchmark_out="$PWD/build/bench/keywarden_bench.json" \
        --benchmark_out_format=json "$@" || status=1
fi
# The libraries' exports natively and under Wine, in one run, when the Windows build has them.
if [ -x build/windows-x64/bin/sealkit_host_bench.exe ] && [ -x build/linux/out/sealkit_host_bench ]; then
    echo "== sealkit_host_bench (native and Wine)"
    bench/host/run_host_bench.sh "$@" || status=1
fi
exit $status
