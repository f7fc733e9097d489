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
targets=(build-fuzz/fuzz/*/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz: no targets yet"
    exit 0
fi
for target in "${targets[@]}"; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=$(mktemp -d)
    seeds="fuzz/$(basename "$(dirname "$target")")/seeds"
    [ -d "$seeds" ] || seeds=""
    echo "fuzz: $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
        "$corpus" $seeds >"/tmp/$name.log" 2>&1 || { tail -50 "/tmp/$name.log"; exit 1; }
    rm -rf "$corpus"
done
echo "fuzz: all targets ran clean"
