#!/usr/bin/env bash
# Installs every Debian package that building, testing, fuzzing and benchmarking need.
# Idempotent: when everything is present it prints one line and returns.
# With --bench it also installs the photographs that the bench scripts work on
# (large downloads, needed by no build or test).
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
    libjpeg62-turbo-dev libpng-dev zlib1g-dev libtiff-dev libopenjp2-7-dev libjbig-dev
    libwmf-dev libcairo2-dev libfontconfig-dev fonts-dejavu-core liblcms2-dev
    libwebp-dev libheif-dev libjxl-dev webp libheif-examples libavif-bin libjxl-tools
    icc-profiles-free
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libgif-dev imagemagick gifsicle libjpeg-turbo-progs xdg-utils
    xvfb openbox x11-utils libxtst-dev
    dpkg-dev desktop-file-utils lintian appstream help2man man-db bash-completion
    shared-mime-info
)
if [ "${1:-}" = "--bench" ]; then
    PACKAGES+=(time lomiri-wallpapers-16.04 plasma-workspace-wallpapers python3-pil python3-numpy)
    # bench/quality-vs-peers.sh: its peers, and npm to fetch gifski (for the benchmark only)
    PACKAGES+=(ffmpeg bc npm)
fi

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#PACKAGES[@]} packages present"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
