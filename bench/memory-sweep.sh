#!/bin/bash
# `brimvale-cli make` of 8 large photos at 800 x 600 over a background picture, run under
# `ulimit -v` limits from 110 to 250 MB in 4 MB steps, plain, --optimize, --dither, both
# and --quality 60 (180 runs). A sound run either makes the GIF of all eight photos (exit
# status 0), or fails with exit status 1, a message that names memory, the existing output
# untouched and no other file left behind. Prints the counts; exits 1 when some run was
# not sound.
#
# The photos are the first eight bench photos when they are installed (see
# bench-photos.sh), otherwise made with ImageMagick (half of them progressive).
#   bash bench/memory-sweep.sh [path/to/brimvale-cli]
set -u
cd "$(dirname "$0")/.." || exit 1
CLI=$(readlink -f "${1:-build/cli/brimvale-cli}")
CONVERT=${CONVERT:-$(command -v convert || command -v magick)}
FROM=${FROM:-110}
TO=${TO:-250}
STEP=${STEP:-4}
[ -x "$CLI" ] || { echo "no $CLI: build it first"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mapfile -t found < <(
    # shellcheck disable=SC1091,SC2153 # the bench photos and their names, when installed
    (source bench/bench-photos.sh >/dev/null 2>&1 && printf '%s\n' "${PHOTOS[@]:0:8}" "$BACKGROUND")
)
if [ ${#found[@]} -eq 9 ]; then
    photos=("${found[@]:0:8}")
    background=${found[8]}
else
    echo "making 8 photos of 3200 x 2400 with ImageMagick..."
    photos=()
    for i in 1 2 3 4 5 6 7 8; do
        interlace=None
        [ $((i % 2)) -eq 0 ] && interlace=Plane
        "$CONVERT" -size 800x600 -seed "$i" plasma:fractal -resize 3200x2400! \
            -attenuate 0.4 +noise Gaussian -interlace "$interlace" -quality 90 \
            "$work/photo$i.jpg"
        photos+=("$work/photo$i.jpg")
    done
    "$CONVERT" -size 2400x1800 -seed 9 plasma:fractal "$work/background.png"
    background=$work/background.png
fi

out=$work/out
mkdir -p "$out"
printf 'old' >"$work/old"
made=0 refused=0 unsound=0
for ((limit = FROM; limit <= TO; limit += STEP)); do
    for mode in "" "--optimize" "--dither" "--optimize --dither" "--quality 60"; do
        cp "$work/old" "$out/made.gif"
        # shellcheck disable=SC2086 # the mode is zero, one or two options
        (ulimit -v $((limit * 1024)) && exec "$CLI" make --width 800 --height 600 \
            --photo-size 600 --background-image "$background" --quiet $mode \
            -o "$out/made.gif" "${photos[@]}") >"$work/stdout" 2>"$work/stderr"
        status=$?
        left=$(find "$out" -mindepth 1 ! -name made.gif | wc -l)
        verdict=unsound
        if [ "$status" -eq 0 ] && [ "$left" -eq 0 ] \
            && "$CLI" info "$out/made.gif" | grep -q '"frames":8,'; then
            verdict=made
            made=$((made + 1))
        elif [ "$status" -eq 1 ] && [ "$left" -eq 0 ] && cmp -s "$work/old" "$out/made.gif" \
            && grep -qi memory "$work/stderr"; then
            verdict=refused
            refused=$((refused + 1))
        else
            unsound=$((unsound + 1))
        fi
        printf '%4d MB %-20s exit %3d  %s\n' "$limit" "${mode:-plain}" "$status" "$verdict"
        if [ "$verdict" = unsound ]; then
            sed 's/^/    /' "$work/stderr" | head -5
            find "$out" -mindepth 1 ! -name made.gif | sed 's/^/    left: /'
        fi
        find "$out" -mindepth 1 ! -name made.gif -delete
    done
done
echo "made with every photo: $made; refused for memory, output untouched: $refused; unsound: $unsound"
[ "$unsound" -eq 0 ]
