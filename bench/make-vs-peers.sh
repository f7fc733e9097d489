#!/usr/bin/env bash
# Times `brimvale-cli make`, exact and --fast, against its peers doing the same job (each
# photo reduced to fit the photo size, centred on the canvas, 256 colours per frame
# without dithering, 0.5 s a frame, looping forever) and against the single-thread decode
# floor, every command once per round, round after round; prints the median wall and CPU
# times as ratios to the floor and to Pillow's draft path, the largest peak memory, the
# frames' PSNR against frames made exactly (J1), whether the targets are met, and checks
# that the exact GIFs are the bytes the making has always written, whatever the threads.
#
#   bash bench/make-vs-peers.sh [RUNS]        (default 5 rounds)
#
# Jobs: J1 the 24 bench photos onto 120 x 120; J2 the same onto 800 x 600 with photo size
# 600 over a background picture; J3 8 of them as PNG onto 120 x 120.
# Commands of each job:
#   exact, exact-1t   brimvale-cli make (one thread per core; one thread)
#   optimize          brimvale-cli make --optimize (frames coded as changes to the last)
#   fast              brimvale-cli make --fast
#   imagemagick       convert, each photo reduced while it is read
#   pillow-draft      Pillow (python3-pil), thumbnail()'s path: JPEG DCT-scaled to at
#                     least twice the size, then reduce() and bicubic
#   pillow-full       Pillow, the whole picture decoded and resized bicubically
#   floor             bench/floor/decode-floor: every photo (and background) decoded at full
#                     size into 24-bit rows by libjpeg-turbo or libpng, one thread
#   floor-scaled      the same, JPEG at the smallest DCT scale covering the reduced size
# The photos come from `bash scripts/install-deps.sh --bench`, which also installs
# /usr/bin/time and python3-pil. The machine's load is printed before and after: the
# figures mean little while other work runs.
set -euo pipefail
cd "$(dirname "$0")/.."
# The GIFs the exact making must write, whatever the number of threads.
declare -A EXPECTED_SHA256=(
    [J1]=194b2c9334c67584937ee4fe52e25d25fd5aa075ea80e53c3f12a85b25d43bb2
    [J2]=f40c7792fad3da462852e44764c32ff574ce0adc8a5af87a9818d472f229cee7
    [J3]=afe143223a3a16e8bd841581df2ce41d5f83d3ee2c7523cc0c39dd7108d48e81
)
RUNS=${1:-5}
CLI=${CLI:-build/cli/brimvale-cli}
FLOOR=${FLOOR:-build/bench/floor/decode-floor}
# Debian's own interpreter and ImageMagick binary, not whatever comes first in PATH.
PYTHON=${PYTHON:-/usr/bin/python3}
CONVERT=${CONVERT:-/usr/bin/convert-im6.q16}
[ -x "$CONVERT" ] || CONVERT=$(command -v convert)
WORK=${WORK:-$(mktemp -d /tmp/bv-bench.XXXXXX)}
trap 'rm -rf "$WORK"' EXIT
for tool in "$CLI" "$FLOOR"; do
    [ -x "$tool" ] || { echo "build $tool first (cmake --build --preset default)"; exit 1; }
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (bash scripts/install-deps.sh --bench)"; exit 1; }
"$PYTHON" -c 'import PIL, numpy' 2>/dev/null \
    || { echo "needs python3-pil and python3-numpy (bash scripts/install-deps.sh --bench)"; exit 1; }
PEERS=bench/peers

# shellcheck source=bench/bench-photos.sh
source bench/bench-photos.sh
mkdir -p "$WORK/png"
PNGS=()
for f in "${PHOTOS[@]:0:8}"; do
    out="$WORK/png/$(basename "$(dirname "$(dirname "$(dirname "$f")")")")-$(basename "$f" .jpg).png"
    "$CONVERT" "$f" "$out"
    PNGS+=("$out")
done
# Every command gets the photos in the making's frame order, so that frames compare.
in_frame_order() { "$PYTHON" -c 'import sys; sys.path.insert(0, "bench/peers"); import making; print("\n".join(making.frame_order(sys.argv[1:])))' "$@"; }
mapfile -t PHOTOS < <(in_frame_order "${PHOTOS[@]}")
mapfile -t PNGS < <(in_frame_order "${PNGS[@]}")

# Each job: canvas width, height, photo size, background ('#RRGGBB' or a picture), photos.
job_setting() { # JOB -> "W H S BACKGROUND"
    case $1 in
    J1 | J3) echo "120 120 120 #FFFFFF" ;;
    J2) echo "800 600 600 $BACKGROUND" ;;
    esac
}
job_photos() {
    case $1 in
    J1 | J2) echo "${PHOTOS[*]}" ;;
    J3) echo "${PNGS[*]}" ;;
    esac
}
COMMANDS=(exact exact-1t optimize fast imagemagick pillow-draft pillow-full floor floor-scaled)

# The command line of one job's command (its GIF, if it makes one, is $WORK/JOB-COMMAND.gif).
command_line() { # JOB COMMAND
    local job=$1 name=$2 w h s background photos out background_option im_background
    read -r w h s background <<<"$(job_setting "$job")"
    photos=$(job_photos "$job")
    out=$WORK/$job-$name.gif
    if [ "${background:0:1}" = "#" ]; then
        background_option="--background $background"
    else
        background_option="--background-image $background"
    fi
    case $name in
    exact) echo "$CLI make --quiet --width $w --height $h --photo-size $s $background_option -o $out $photos" ;;
    exact-1t) echo "$CLI make --quiet --threads 1 --width $w --height $h --photo-size $s $background_option -o $out $photos" ;;
    optimize) echo "$CLI make --quiet --optimize --width $w --height $h --photo-size $s $background_option -o $out $photos" ;;
    fast) echo "$CLI make --quiet --fast --width $w --height $h --photo-size $s $background_option -o $out $photos" ;;
    imagemagick)
        # Each photo reduced to fit while it is read ("[SxS>]"), centred on the background.
        if [ "${background:0:1}" = "#" ]; then
            im_background="-size ${w}x$h xc:$background -write mpr:bg +delete"
        else
            im_background="$background -resize ${w}x$h! -write mpr:bg +delete"
        fi
        echo "$CONVERT -delay 50 -loop 0 ( $im_background ) $(for f in $photos; do printf '( mpr:bg %s -gravity center -composite ) ' "$f[${s}x$s>]"; done) +dither -colors 256 $out" ;;
    pillow-draft) echo "$PYTHON $PEERS/pillow-make.py draft $w $h $s $background $out $photos" ;;
    pillow-full) echo "$PYTHON $PEERS/pillow-make.py full $w $h $s $background $out $photos" ;;
    floor) echo "$FLOOR $photos $([ "$job" = J2 ] && echo "$background")" ;;
    floor-scaled) echo "$FLOOR --scale-to $s $photos $([ "$job" = J2 ] && echo "$background")" ;;
    esac
}

# One timed run, appended to $WORK/JOB-COMMAND.times as "wall-seconds peak-kB cpu-seconds".
run_once() { # JOB COMMAND
    local start end
    start=$(date +%s.%N)
    # Split into words without expanding the "[SxS>]" read modifiers as patterns.
    # shellcheck disable=SC2046
    (set -f; /usr/bin/time -f '%M %U %S' -o "$WORK/mem" $(command_line "$1" "$2") >/dev/null 2>"$WORK/err") \
        || { echo "$1 $2 failed:"; cat "$WORK/err"; exit 1; }
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" '{ printf "%.4f %d %.3f\n", e - s, $1, $2 + $3 }' "$WORK/mem" \
        >>"$WORK/$1-$2.times"
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
figure() { # JOB COMMAND FIELD(1 wall, 3 cpu) -> median
    cut -d' ' -f"$3" "$WORK/$1-$2.times" | median
}
peak() { cut -d' ' -f2 "$WORK/$1-$2.times" | sort -n | tail -1; }

echo "load before: $(uptime | sed 's/.*load average: //') (1, 5, 15 minutes; $(nproc) cores)"
for ((r = 0; r < RUNS; r++)); do
    for job in J1 J2 J3; do
        for name in "${COMMANDS[@]}"; do
            run_once "$job" "$name"
        done
    done
done
echo "load after:  $(uptime | sed 's/.*load average: //')"
echo
echo "median of $RUNS rounds; /floor: to the job's full-size decode floor; /draft: to Pillow's"
echo "draft path; MB: the largest peak resident memory"
printf '%-3s %-13s %8s %7s %7s %8s %7s %7s %7s\n' job command wall-s /floor /draft cpu-s /floor /draft MB
for job in J1 J2 J3; do
    floorWall=$(figure "$job" floor 1)
    floorCpu=$(figure "$job" floor 3)
    draftWall=$(figure "$job" pillow-draft 1)
    draftCpu=$(figure "$job" pillow-draft 3)
    for name in "${COMMANDS[@]}"; do
        awk -v j="$job" -v n="$name" -v w="$(figure "$job" "$name" 1)" -v c="$(figure "$job" "$name" 3)" \
            -v fw="$floorWall" -v fc="$floorCpu" -v dw="$draftWall" -v dc="$draftCpu" -v m="$(peak "$job" "$name")" \
            'BEGIN { printf "%-3s %-13s %8.3f %7.3f %7.3f %8.3f %7.3f %7.3f %7.1f\n", j, n, w, w / fw, w / dw, c, c / fc, c / dc, m / 1024 }'
    done
done

echo
echo "J1 frames, mean PSNR against frames made exactly (whole frames, dB):"
declare -A PSNR
for name in exact fast imagemagick pillow-draft pillow-full; do
    # shellcheck disable=SC2086
    PSNR[$name]=$("$PYTHON" $PEERS/frame-psnr.py 120 120 120 '#FFFFFF' "$WORK/J1-$name.gif" ${PHOTOS[*]})
    printf '  %-13s %s\n' "$name" "${PSNR[$name]}"
done

echo
check() { # TEXT CONDITION-AWK-EXPRESSION
    if awk "BEGIN { exit !($2) }"; then echo "met:     $1"; else echo "NOT MET: $1"; fi
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
j1Wall=$(ratio "$(figure J1 exact 1)" "$(figure J1 floor 1)")
j1Cpu=$(ratio "$(figure J1 exact 3)" "$(figure J1 floor 3)")
j1Mb=$(awk -v m="$(peak J1 exact)" 'BEGIN { printf "%.1f", m / 1024 }')
j2Wall=$(ratio "$(figure J2 exact 1)" "$(figure J2 floor 1)")
j3Wall=$(ratio "$(figure J3 exact 1)" "$(figure J3 floor 1)")
fastWall=$(ratio "$(figure J1 fast 1)" "$(figure J1 pillow-draft 1)")
check "J1 exact wall $j1Wall x the floor (at most 0.60)" "$j1Wall <= 0.60"
check "J1 exact CPU $j1Cpu x the floor's (at most 1.15)" "$j1Cpu <= 1.15"
j1Memory=$(ratio "$(peak J1 exact)" "$(peak J1 floor)")
check "J1 exact peak $j1Mb MB, $j1Memory x the floor's (at most 1.0)" "$j1Memory <= 1.0"
check "J2 exact wall $j2Wall x its floor (at most 0.75)" "$j2Wall <= 0.75"
j2Optimize=$(ratio "$(figure J2 optimize 1)" "$(figure J2 exact 1)")
check "J2 --optimize wall $j2Optimize x the plain making's (at most 1.3)" "$j2Optimize <= 1.3"
check "J3 exact wall $j3Wall x its floor (at most 0.60)" "$j3Wall <= 0.60"
check "J1 --fast wall $fastWall x Pillow's draft path (at most 0.40)" "$fastWall <= 0.40"
check "J1 --fast PSNR ${PSNR[fast]} dB (at least 40)" "${PSNR[fast]} >= 40"

echo
# The exact GIFs are the same bytes whatever the number of threads.
status=0
for job in J1 J2 J3; do
    read -r w h s background <<<"$(job_setting "$job")"
    # shellcheck disable=SC2046
    "$CLI" make --quiet --threads 3 --width "$w" --height "$h" --photo-size "$s" \
        $([ "${background:0:1}" = "#" ] && echo --background || echo --background-image) "$background" \
        -o "$WORK/$job-exact-3t.gif" $(job_photos "$job")
    for gif in "$WORK/$job-exact.gif" "$WORK/$job-exact-1t.gif" "$WORK/$job-exact-3t.gif"; do
        sum=$(sha256sum "$gif" | cut -d' ' -f1)
        if [ "$sum" = "${EXPECTED_SHA256[$job]}" ]; then
            echo "$(basename "$gif"): the expected bytes"
        else
            echo "$(basename "$gif"): DIFFERENT bytes ($sum)"
            status=1
        fi
    done
done
exit $status
