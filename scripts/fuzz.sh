#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan and UBSan and runs each briefly.
# FUZZ_SECONDS sets the time per target (default 15).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-15}"
bash scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
shopt -s nullglob
targets=()
for target in build-fuzz/fuzz/*/fuzz_*; do
    [ -x "$target" ] && targets+=("$target")
done
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz: the build made no targets" >&2
    exit 1
fi
for target in "${targets[@]}"; do
    name=$(basename "$target")
    corpus=$(mktemp -d)
    seeds="fuzz/$(basename "$(dirname "$target")")/seeds"
    if [ -z "$(ls -A "$seeds" 2>/dev/null)" ]; then
        echo "fuzz: $name has no seeds in $seeds" >&2
        exit 1
    fi
    log="$corpus.log"
    "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        "$corpus" "$seeds" >"$log" 2>&1 || { tail -50 "$log"; exit 1; }
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $name ran $runs inputs in ${seconds}s ($((runs / seconds)) a second)"
    rm -rf "$corpus" "$log"
done
echo "fuzz: all targets ran clean"
