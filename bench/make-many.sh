#!/usr/bin/env bash
# Times `brimvale-cli make` of a long animation: the 24 bench photos repeated to 240 and
# 480 photos (in the order given, as a time-lapse would be), 800 x 600 with photo size
# 600 on white, plain and --optimize (MODES="plain optimize quality" adds --quality 90).
# Every command runs once per round, round after round; prints the median wall time and
# peak memory of each as ratios to the 24-photo making of the same kind, and whether the
# targets hold: memory that does not grow with the number of photos (480 photos within
# 1.25x the peak of 24) and time that grows no faster than they do (within 1.05x the
# ratio of the counts: 480 photos in 21x the time of 24).
#
#   bash bench/make-many.sh [RUNS] [COUNTS]      (default 3 rounds; counts "24 240 480")
#
# The photos come from `bash scripts/install-deps.sh --bench`, which also installs
# /usr/bin/time. The machine's load is printed before and after: the figures mean little
# while other work runs.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-3}
read -r -a COUNTS <<<"${2:-24 240 480}"
CLI=${CLI:-build/cli/brimvale-cli}
CONVERT=${CONVERT:-/usr/bin/convert-im6.q16}
[ -x "$CONVERT" ] || CONVERT=$(command -v convert)
WORK=${WORK:-$(mktemp -d /tmp/bv-many.XXXXXX)}
trap 'rm -rf "$WORK"' EXIT
[ -x "$CLI" ] || { echo "build $CLI first (cmake --build --preset default)"; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (bash scripts/install-deps.sh --bench)"; exit 1; }
# shellcheck source=bench/bench-photos.sh
source bench/bench-photos.sh

photos_of() { # COUNT -> the 24 photos repeated, COUNT in all
    local n=0
    while [ "$n" -lt "$1" ]; do
        for f in "${PHOTOS[@]}"; do
            [ "$n" -lt "$1" ] && echo "$f"
            n=$((n + 1))
        done
    done
}

read -r -a MODES <<<"${MODES:-plain optimize}"
run_one() { # MODE COUNT -> "wall_seconds peak_kb" appended to its results
    local mode=$1 count=$2 extra=()
    [ "$mode" = optimize ] && extra=(--optimize)
    [ "$mode" = quality ] && extra=(--quality 90)
    mapfile -t list < <(photos_of "$count")
    /usr/bin/time -f '%e %M' -o "$WORK/time" "$CLI" make --quiet --keep-order --width 800 \
        --height 600 --photo-size 600 "${extra[@]}" -o "$WORK/out.gif" "${list[@]}"
    cat "$WORK/time" >>"$WORK/$mode-$count"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
for ((round = 1; round <= RUNS; round++)); do
    for count in "${COUNTS[@]}"; do
        for mode in "${MODES[@]}"; do
            run_one "$mode" "$count"
        done
    done
done
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
base=${COUNTS[0]}
printf '%-9s %6s %12s %12s %10s\n' mode photos wall-ratio rss-ratio targets
for mode in "${MODES[@]}"; do
    w0=$(cut -d' ' -f1 "$WORK/$mode-$base" | median)
    m0=$(cut -d' ' -f2 "$WORK/$mode-$base" | median)
    for count in "${COUNTS[@]}"; do
        w=$(cut -d' ' -f1 "$WORK/$mode-$count" | median)
        m=$(cut -d' ' -f2 "$WORK/$mode-$count" | median)
        awk -v mode="$mode" -v n="$count" -v b="$base" -v w="$w" -v w0="$w0" -v m="$m" -v m0="$m0" 'BEGIN {
            wr = w / w0; mr = m / m0; met = ""
            if (n != b) met = (mr <= 1.25 && wr <= 1.05 * n / b ? "met" : "MISSED")
            printf "%-9s %6d %11.2fx %11.2fx %10s\n", mode, n, wr, mr, met
        }'
    done
done
