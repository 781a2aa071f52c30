#!/usr/bin/env bash
# Runs every fuzz target for a bounded time (FUZZ_SECONDS each, default 60) on a corpus kept
# under build/fuzz/corpus, seeded with seals the tests write and the seeds committed under
# fuzz/corpus/TARGET.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
status=0
for target in build/fuzz/out/*_fuzz; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=build/fuzz/corpus/$name
    mkdir -p "$corpus"
    [ -d "fuzz/corpus/$name" ] && cp -n "fuzz/corpus/$name"/* "$corpus"/
    case "$name" in seal*) [ -x build/fuzz/out/seal_seed ] && build/fuzz/out/seal_seed "$corpus" ;; esac
    echo "== $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 "$corpus" 2>&1 | tail -n 3 || status=1
done
exit $status
