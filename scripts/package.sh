#!/usr/bin/env bash
# Builds the Debian package from the default build (as `cd build && cpack -G DEB` does)
# and checks it: exactly the expected files, the run-time dependencies declared, a valid
# desktop entry whose program is in the package, and dependencies that apt can satisfy.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
rm -f build/brimvale_*.deb
(cd build && cpack -G DEB >/dev/null)
debs=(build/brimvale_*.deb)
deb="${debs[0]}"
[ -f "$deb" ] || { echo "package: cpack made no .deb" >&2; exit 1; }

expected="./usr/bin/brimvale
./usr/bin/brimvale-cli
./usr/share/applications/brimvale.desktop
./usr/share/doc/brimvale/copyright
./usr/share/icons/hicolor/256x256/apps/brimvale.png
./usr/share/icons/hicolor/48x48/apps/brimvale.png"
actual=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
if [ "$actual" != "$expected" ]; then
    echo "package: unexpected file list" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    exit 1
fi

depends=$(dpkg-deb --field "$deb" Depends)
for library in libqt6widgets6 libpng16-16 libjpeg62-turbo libtiff6 libwmf-0.2-7 libjbig0 \
    libwebp7 libheif1 libjxl0.7; do
    if [[ "$depends" != *"$library"* ]]; then
        echo "package: Depends lacks $library: $depends" >&2
        exit 1
    fi
done

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/brimvale.desktop"
program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$unpacked/usr/share/applications/brimvale.desktop")
[ -x "$unpacked/usr/bin/$program" ] || { echo "package: Exec=$program is not in /usr/bin" >&2; exit 1; }
apt-get install --simulate --no-install-recommends "./$deb" >/dev/null
echo "package: $deb holds the programs, the menu entry and the icons"
