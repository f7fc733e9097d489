#!/usr/bin/env bash
# Builds the asan preset (AddressSanitizer and UBSan) and runs the whole test suite under
# it with leak checking on: any leak, bad access or undefined behaviour fails the test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset asan >/dev/null
cmake --build --preset asan
export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --preset asan
