#!/usr/bin/env bash
# Runs the desktop program's real-pointer tests: starts a private X server (Xvfb) and the
# openbox window manager, waits until both are ready, runs the tests on them with the xcb
# platform, and stops both again. Expects a build (scripts/test.sh makes one).
set -euo pipefail
cd "$(dirname "$0")/.."
test_binary="${1:-build/tests/ui/ui_real_x_test}"
if [ ! -x "$test_binary" ]; then
    echo "test-real-x: $test_binary is missing: build first (bash scripts/test.sh)" >&2
    exit 1
fi

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number once it accepts connections.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
if ! read -r -t 30 display <"$work/display"; then
    echo "test-real-x: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$display"

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
# The window manager is ready once it has announced itself on the root window.
wm_ready() {
    local announced
    announced="$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null || true)"
    [[ "$announced" == *"window id"* ]]
}
for _ in $(seq 300); do
    wm_ready && break
    sleep 0.1
done
if ! wm_ready; then
    echo "test-real-x: openbox did not start" >&2
    cat "$work/openbox.log" >&2
    exit 1
fi

mkdir -m 700 "$work/runtime"
XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb "$test_binary"
