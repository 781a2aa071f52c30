#!/usr/bin/env bash
# Runs every fuzz target of the fuzz build for a bounded time and fails when any of them
# reports anything (a crash, a sanitizer report, a leak, a time-out).
#   scripts/fuzz.sh            FUZZ_SECONDS each (default 60), corpus kept in build/fuzz/corpus
#   scripts/fuzz.sh --smoke    FUZZ_SMOKE_SECONDS each (default 3) on a copy of the committed
#                              corpus: what `make test` runs
# Each target starts from its committed seeds (fuzz/corpus/NAME). One line per target:
# executions, coverage and features reached; the full log is in build/fuzz/logs/NAME.log.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD:-build/fuzz}
if [ "${1:-}" = "--smoke" ]; then
    seconds=${FUZZ_SMOKE_SECONDS:-3}
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
else
    seconds=${FUZZ_SECONDS:-60}
    work=$build/corpus
fi
mkdir -p "$build/logs" "$build/artifacts"
targets=$(find "$build/out" -name '*_fuzz' -type f -perm -u+x | sort)
[ -n "$targets" ] || { echo "no fuzz targets in $build/out (cmake --preset fuzz first)"; exit 1; }
status=0
for target in $targets; do
    name=$(basename "$target")
    corpus=$work/$name
    mkdir -p "$corpus"
    [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null
    log=$build/logs/$name.log
    "$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=25 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" "$corpus" >"$log" 2>&1
    rc=$?
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
    cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)
    reports=$(grep -cE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|SUMMARY: |==[0-9]+== *WARNING' "$log")
    if [ "$rc" -ne 0 ] || [ "$reports" -ne 0 ]; then
        echo "FAIL $name (exit $rc, $reports report lines): see $log"
        grep -m 5 -E 'ERROR:|runtime error:|SUMMARY:|Test unit written' "$log" | sed 's/^/    /'
        status=1
    else
        echo "ok   $name: ${runs:-?} runs in ${seconds}s, ${cov:-no coverage line}"
    fi
done
exit $status
