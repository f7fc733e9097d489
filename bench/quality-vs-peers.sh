#!/usr/bin/env bash
# Compares `brimvale-cli make --quality N` with the GIF makers that aim at looks: gifski
# (-Q 90 and -Q 100), ffmpeg (a palette per frame, palettegen stats_mode=single with
# paletteuse new=1) and ImageMagick's convert, all given exactly the same 24-bit frames
# (12 real photos cut to 480 x 480 and 2 smooth gradients). For every GIF it prints the
# bytes, PSNR, SSIM (luma, Gaussian 11/1.5) and blurred PSNR (Gaussian sigma 1.5 of both),
# measured by bench/peers/gif-quality.py against the frames, and the median wall time of
# RUNS rounds (every maker once per round, interleaved) as a ratio to gifski -Q 90's.
# Then, for each peer, the N whose file is no larger with SSIM and blurred PSNR no lower.
#
#   bash bench/quality-vs-peers.sh [RUNS]        (default 3 rounds; SET=2 for other pictures)
#
# Needs `bash scripts/install-deps.sh --bench` (the photos, python3-pil, python3-numpy, bc,
# ffmpeg, imagemagick) and gifski, which is not a dependency of the program: set GIFSKI to
# its binary, e.g. from npm: cd /tmp && npm pack gifski && tar xzf gifski-*.tgz, then
# GIFSKI=/tmp/package/bin/debian/gifski. The machine's load is printed: timings mean
# little while other work runs.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-3}
CLI=${CLI:-build/cli/brimvale-cli}
PYTHON=${PYTHON:-/usr/bin/python3}
CONVERT=${CONVERT:-/usr/bin/convert-im6.q16}
FFMPEG=${FFMPEG:-/usr/bin/ffmpeg}
GIFSKI=${GIFSKI:-/tmp/package/bin/debian/gifski}
QUALITIES=${QUALITIES:-"30 50 70 90 100"}
SIZE=${SIZE:-480}
if [ -z "${WORK:-}" ]; then
    WORK=$(mktemp -d /tmp/bv-quality.XXXXXX)
    trap 'rm -rf "$WORK"' EXIT
fi
for tool in "$CLI" "$CONVERT" "$FFMPEG" "$GIFSKI"; do
    [ -x "$tool" ] || { echo "missing $tool (see the head of this script)"; exit 1; }
done
"$PYTHON" -c 'import PIL, numpy' 2>/dev/null \
    || { echo "needs python3-pil and python3-numpy (bash scripts/install-deps.sh --bench)"; exit 1; }

# Six pictures of each wallpaper package; SET=2 takes six others of each (more drawn
# pictures with smooth gradients), a check that the qualities were not tuned to one set.
PHOTOS=()
if [ "${SET:-1}" = 2 ]; then
    ODD=0 NAMES_2=(ColdRipple DarkestHour Grey Kite OneStandsOut SafeLanding)
else
    ODD=1 NAMES_2=(Autumn BytheWater ColorfulCups EveningGlow FallenLeaf Path)
fi
mapfile -t LOMIRI < <(ls /usr/share/backgrounds/*.jpg 2>/dev/null | sort | awk -v odd=$ODD 'NR % 2 == odd' | head -6)
PHOTOS+=("${LOMIRI[@]}")
for name in "${NAMES_2[@]}"; do
    f=$(ls -S /usr/share/wallpapers/$name/contents/images/*.jpg 2>/dev/null | head -1 || true)
    [ -n "$f" ] && PHOTOS+=("$f")
done
if [ ${#PHOTOS[@]} -lt 12 ]; then
    echo "found ${#PHOTOS[@]} photos; install lomiri-wallpapers-16.04 and plasma-workspace-wallpapers"
    exit 1
fi
"$PYTHON" bench/peers/quality-frames.py "$WORK/frames" "$SIZE" "${PHOTOS[@]}"
FRAMES=("$WORK"/frames/*.png)
echo "${#FRAMES[@]} frames of $SIZE x $SIZE; load: $(cut -d' ' -f1-3 /proc/loadavg)"

# name and command of every maker; the output file is $WORK/<name>.gif
declare -a NAMES=() COMMANDS=()
add() { NAMES+=("$1"); COMMANDS+=("$2"); }
for q in $QUALITIES; do
    add "brimvale-q$q" "$CLI make --quiet --keep-order --width $SIZE --height $SIZE --photo-size $SIZE --quality $q -o $WORK/brimvale-q$q.gif ${FRAMES[*]}"
done
add "brimvale-plain" "$CLI make --quiet --keep-order --width $SIZE --height $SIZE --photo-size $SIZE -o $WORK/brimvale-plain.gif ${FRAMES[*]}"
add "brimvale-dither" "$CLI make --quiet --keep-order --width $SIZE --height $SIZE --photo-size $SIZE --dither -o $WORK/brimvale-dither.gif ${FRAMES[*]}"
add "gifski-q90" "$GIFSKI --quiet -Q 90 --fps 2 -o $WORK/gifski-q90.gif ${FRAMES[*]}"
add "gifski-q100" "$GIFSKI --quiet -Q 100 --fps 2 -o $WORK/gifski-q100.gif ${FRAMES[*]}"
add "ffmpeg" "$FFMPEG -loglevel error -y -framerate 2 -i $WORK/frames/%02d.png -lavfi split[a][b];[a]palettegen=stats_mode=single[p];[b][p]paletteuse=new=1 $WORK/ffmpeg.gif"
add "imagemagick" "$CONVERT -delay 50 ${FRAMES[*]} -loop 0 $WORK/imagemagick.gif"

declare -A TIMES=()
for ((round = 0; round < RUNS; round++)); do
    for i in "${!NAMES[@]}"; do
        start=$(date +%s.%N)
        ${COMMANDS[$i]}
        end=$(date +%s.%N)
        TIMES[${NAMES[$i]}]+="$(echo "$end - $start" | bc) "
    done
done
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
REFERENCE=$(echo "${TIMES[gifski-q90]}" | median)

printf '%-16s %10s %8s %7s %10s %8s %10s\n' maker bytes PSNR SSIM blurPSNR wall "wall/gifski90"
declare -A BYTES=() SSIM=() BLUR=()
for name in "${NAMES[@]}"; do
    read -r bytes psnr ssim blurred < <("$PYTHON" bench/peers/gif-quality.py "$WORK/$name.gif" "${FRAMES[@]}")
    wall=$(echo "${TIMES[$name]}" | median)
    BYTES[$name]=$bytes SSIM[$name]=$ssim BLUR[$name]=$blurred
    printf '%-16s %10s %8s %7s %10s %8.2f %10.2f\n' "$name" "$bytes" "$psnr" "$ssim" "$blurred" \
        "$wall" "$(echo "$wall / $REFERENCE" | bc -l)"
done
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"

# Every peer must be met by some quality: no more bytes, no less SSIM nor blurred PSNR.
missed=0
for peer in gifski-q90 gifski-q100 ffmpeg imagemagick; do
    met=""
    for q in $QUALITIES; do
        ours=brimvale-q$q
        if [ "${BYTES[$ours]}" -le "${BYTES[$peer]}" ] \
            && [ "$(echo "${SSIM[$ours]} >= ${SSIM[$peer]}" | bc)" = 1 ] \
            && [ "$(echo "${BLUR[$ours]} >= ${BLUR[$peer]}" | bc)" = 1 ]; then
            met+=" $q"
        fi
    done
    if [ -n "$met" ]; then
        echo "$peer: met by --quality$met"
    else
        echo "$peer: NOT met"
        missed=1
    fi
done
exit $missed
