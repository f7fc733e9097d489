#!/usr/bin/env bash
# The sizes `brimvale-cli make --optimize` writes, next to the plain file and to
# `gifsicle -O3` applied to the plain file, and the extra making time the option costs;
# checks that the optimised file shows the same frames as the plain one (ImageMagick
# composes both) and is no larger than gifsicle's. Dithered files are listed too.
#
#   bash bench/optimize-vs-gifsicle.sh [RUNS]     (default 3 timed runs of each making)
#
# Jobs: S the bench photos as a slideshow over a plain background (400 x 300, photo size
# 200); J2 the same photos onto 800 x 600 with photo size 600 over a background picture
# (as in bench/make-vs-peers.sh); E the sample pictures of examples/ as S (needs no
# downloads). The bench photos come from `bash scripts/install-deps.sh --bench`.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-3}
CLI=${CLI:-build/cli/brimvale-cli}
CONVERT=${CONVERT:-/usr/bin/convert-im6.q16}
[ -x "$CONVERT" ] || CONVERT=$(command -v convert)
WORK=${WORK:-$(mktemp -d /tmp/bv-optimize.XXXXXX)}
trap 'rm -rf "$WORK"' EXIT
[ -x "$CLI" ] || { echo "build $CLI first (cmake --build --preset default --target brimvale-cli)"; exit 1; }
command -v gifsicle >/dev/null || { echo "needs gifsicle (bash scripts/install-deps.sh)"; exit 1; }

# shellcheck source=bench/bench-photos.sh
source bench/bench-photos.sh
EXAMPLES=(examples/*.jpg examples/*.png examples/*.gif examples/*.tga examples/*.bmp)

job_arguments() { # NAME -> the make arguments without -o
    case $1 in
    S) echo "--width 400 --height 300 --photo-size 200 ${PHOTOS[*]}" ;;
    J2) echo "--width 800 --height 600 --photo-size 600 --background-image $BACKGROUND ${PHOTOS[*]}" ;;
    E) echo "--width 400 --height 300 --photo-size 200 ${EXAMPLES[*]}" ;;
    esac
}

seconds() { # COMMAND... -> wall seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f\n", e - s }'
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
size() { stat -c %s "$1"; }

echo "sizes in bytes; time: median wall seconds of $RUNS makings, plain and --optimize"
printf '%-3s %9s %9s %9s %7s %7s %9s %9s %7s\n' job plain gifsicle ours ours/gs ours/pl \
    dithered dith+opt time-x
failed=0
for job in S J2 E; do
    # shellcheck disable=SC2207 # paths without spaces
    args=($(job_arguments "$job"))
    plain=$WORK/$job.gif ours=$WORK/$job-opt.gif
    : >"$WORK/t-plain"
    : >"$WORK/t-opt"
    for ((r = 0; r < RUNS; r++)); do
        seconds "$CLI" make --quiet -o "$plain" "${args[@]}" >>"$WORK/t-plain"
        seconds "$CLI" make --quiet --optimize -o "$ours" "${args[@]}" >>"$WORK/t-opt"
    done
    gifsicle -O3 "$plain" -o "$WORK/$job-gs.gif" 2>/dev/null
    "$CLI" make --quiet --dither -o "$WORK/$job-d.gif" "${args[@]}"
    "$CLI" make --quiet --dither --optimize -o "$WORK/$job-do.gif" "${args[@]}"
    tp=$(median <"$WORK/t-plain")
    to=$(median <"$WORK/t-opt")
    awk -v j="$job" -v p="$(size "$plain")" -v g="$(size "$WORK/$job-gs.gif")" -v o="$(size "$ours")" \
        -v d="$(size "$WORK/$job-d.gif")" -v x="$(size "$WORK/$job-do.gif")" -v tp="$tp" -v to="$to" \
        'BEGIN { printf "%-3s %9d %9d %9d %7.4f %7.4f %9d %9d %7.2f\n", j, p, g, o, o / g, o / p, d, x, to / tp }'
    # Lossless: every composed frame the same, pixel for pixel.
    "$CONVERT" "$plain" -coalesce rgba:"$WORK/a.rgba"
    "$CONVERT" "$ours" -coalesce rgba:"$WORK/b.rgba"
    if ! cmp -s "$WORK/a.rgba" "$WORK/b.rgba"; then
        echo "$job: the optimised file shows other frames than the plain one"
        failed=1
    fi
    if [ "$(size "$ours")" -gt "$(size "$WORK/$job-gs.gif")" ]; then
        echo "$job: the optimised file is larger than gifsicle's"
        failed=1
    fi
    rm -f "$WORK"/*.rgba
done
exit $failed
