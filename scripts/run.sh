#!/usr/bin/env bash
# Installs what is missing, builds everything and makes a GIF from the sample photos.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
mkdir -p out
build/cli/brimvale-cli make --quiet -o out/examples.gif examples/*.*
echo "Made out/examples.gif"
