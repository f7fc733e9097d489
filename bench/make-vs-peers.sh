#!/usr/bin/env bash
# Times `brimvale-cli make` against ImageMagick's convert doing the same geometry (resize
# to fit, centre on the canvas, at most 256 colours per frame without dithering, delay 50,
# endless loop) on the same photos, the two commands interleaved run by run, and prints
# the median wall times, their ratio and the peak memory of each.
#
# The photos are the large JPEG photographs of Debian's lomiri-wallpapers-16.04 and
# plasma-workspace-wallpapers packages (installed on request by
# `bash scripts/install-deps.sh --bench`, or with apt-get).
#
#   bash bench/make-vs-peers.sh [RUNS]        (default 5 runs of each job)
#
# Jobs: J1 24 photos onto 120 x 120; J2 the same onto 800 x 600 with photo size 600 over a
# background picture; J3 8 of them as PNG onto 120 x 120; J1s is J1 with one thread
# (the single-threaded pipeline: its GIF must be byte-identical to J1's); D is the decode
# floor (djpeg of the 24 photos at full size, one after another).
set -euo pipefail
cd "$(dirname "$0")/.."
# The GIFs every job must make, whatever the number of threads: the exact making never
# changes its output.
declare -A EXPECTED_SHA256=(
    [J1]=194b2c9334c67584937ee4fe52e25d25fd5aa075ea80e53c3f12a85b25d43bb2
    [J2]=f40c7792fad3da462852e44764c32ff574ce0adc8a5af87a9818d472f229cee7
    [J3]=afe143223a3a16e8bd841581df2ce41d5f83d3ee2c7523cc0c39dd7108d48e81
)
RUNS=${1:-5}
CLI=${CLI:-build/cli/brimvale-cli}
# The Debian ImageMagick binary itself, not any wrapper earlier in PATH.
CONVERT=${CONVERT:-/usr/bin/convert-im6.q16}
[ -x "$CONVERT" ] || CONVERT=$(command -v convert)
WORK=${WORK:-$(mktemp -d /tmp/bv-bench.XXXXXX)}
trap 'rm -rf "$WORK"' EXIT
[ -x "$CLI" ] || { echo "build $CLI first (cmake --build --preset default --target brimvale-cli)"; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)"; exit 1; }

# shellcheck source=bench/bench-photos.sh
source bench/bench-photos.sh
mkdir -p "$WORK/png"
PNGS=()
for f in "${PHOTOS[@]:0:8}"; do
    out="$WORK/png/$(basename "$(dirname "$(dirname "$(dirname "$f")")")")-$(basename "$f" .jpg).png"
    "$CONVERT" "$f" "$out"
    PNGS+=("$out")
done

# ImageMagick: each photo resized to fit while it is read (one full-size photo in memory at
# a time), centred on the canvas, then the frames reduced to 256 colours without dithering.
im_fit() { # W H S PHOTO...
    local w=$1 h=$2 s=$3
    shift 3
    for f in "$@"; do printf '%s\n' "$f[${s}x${s}>]"; done
}

# The floor for exact output: every photo decoded at full size by libjpeg-turbo in one
# thread.
for f in "${PHOTOS[@]}"; do echo "djpeg -outfile /dev/null $f"; done >"$WORK/floor.sh"

job_commands() { # NAME -> two command lines: ours, theirs
    case $1 in
    D) echo "bash $WORK/floor.sh"
        echo "" ;;
    J1) echo "$CLI make --quiet -o $WORK/J1.gif ${PHOTOS[*]}"
        echo "$CONVERT -delay 50 -loop 0 -background white -gravity center $(im_fit 120 120 120 "${PHOTOS[@]}" | tr '\n' ' ') -extent 120x120 +dither -colors 256 $WORK/J1-im.gif" ;;
    J1s) echo "$CLI make --quiet --threads 1 -o $WORK/J1s.gif ${PHOTOS[*]}"
        echo "" ;;
    J2) echo "$CLI make --quiet --width 800 --height 600 --photo-size 600 --background-image $BACKGROUND -o $WORK/J2.gif ${PHOTOS[*]}"
        echo "$CONVERT -delay 50 -loop 0 ( $BACKGROUND -resize 800x600! -write mpr:bg +delete ) $(for f in "${PHOTOS[@]}"; do printf '( mpr:bg %s -gravity center -composite ) ' "$f[600x600>]"; done) +dither -colors 256 $WORK/J2-im.gif" ;;
    J3) echo "$CLI make --quiet -o $WORK/J3.gif ${PNGS[*]}"
        echo "$CONVERT -delay 50 -loop 0 -background white -gravity center $(im_fit 120 120 120 "${PNGS[@]}" | tr '\n' ' ') -extent 120x120 +dither -colors 256 $WORK/J3-im.gif" ;;
    esac
}

# One timed run: prints "seconds peak-kB cpu-seconds".
run_once() {
    local start end
    start=$(date +%s.%N)
    # Split into words without expanding the "[WxH>]" read modifiers as patterns.
    # shellcheck disable=SC2086
    (set -f; /usr/bin/time -f '%M %U %S' -o "$WORK/mem" $1 >/dev/null 2>"$WORK/err") || { cat "$WORK/err"; exit 1; }
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" '{ printf "%.4f %d %.2f\n", e - s, $1, $2 + $3 }' "$WORK/mem"
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

echo "wall: median seconds of $RUNS runs; cpu: median user+system seconds; MB: largest peak"
printf '%-4s %9s %9s %7s %9s %9s %7s %8s %8s\n' job ours-s peer-s ratio ours-cpu peer-cpu ratio ours-MB peer-MB
for job in D J1 J1s J2 J3; do
    mapfile -t CMDS < <(job_commands "$job")
    : >"$WORK/ours" ; : >"$WORK/peer"
    for ((r = 0; r < RUNS; r++)); do
        run_once "${CMDS[0]}" >>"$WORK/ours"
        [ -n "${CMDS[1]}" ] && run_once "${CMDS[1]}" >>"$WORK/peer"
    done
    ours=$(cut -d' ' -f1 "$WORK/ours" | median)
    [ "$job" = D ] && floor=$ours
    [ "$job" = J1 ] && j1=$ours
    oursCpu=$(cut -d' ' -f3 "$WORK/ours" | median)
    oursMem=$(cut -d' ' -f2 "$WORK/ours" | sort -n | tail -1)
    if [ -s "$WORK/peer" ]; then
        peer=$(cut -d' ' -f1 "$WORK/peer" | median)
        peerCpu=$(cut -d' ' -f3 "$WORK/peer" | median)
        peerMem=$(cut -d' ' -f2 "$WORK/peer" | sort -n | tail -1)
        awk -v j="$job" -v o="$ours" -v p="$peer" -v oc="$oursCpu" -v pc="$peerCpu" \
            -v om="$oursMem" -v pm="$peerMem" 'BEGIN { printf "%-4s %9.3f %9.3f %7.3f %9.2f %9.2f %7.3f %8.1f %8.1f\n", \
            j, o, p, o / p, oc, pc, oc / pc, om / 1024, pm / 1024 }'
    else
        awk -v j="$job" -v o="$ours" -v oc="$oursCpu" -v om="$oursMem" \
            'BEGIN { printf "%-4s %9.3f %9s %7s %9.2f %9s %7s %8.1f %8s\n", j, o, "-", "-", oc, "-", "-", om / 1024, "-" }'
    fi
done
awk -v a="$j1" -v b="$floor" 'BEGIN { printf "J1 / decode floor: %.3f\n", a / b }'
status=0
for gif in J1 J1s J2 J3; do
    sum=$(sha256sum "$WORK/$gif.gif" | cut -d' ' -f1)
    if [ "$sum" = "${EXPECTED_SHA256[${gif%s}]}" ]; then
        echo "$gif.gif: the expected bytes"
    else
        echo "$gif.gif: DIFFERENT bytes ($sum)"
        status=1
    fi
done
exit $status
