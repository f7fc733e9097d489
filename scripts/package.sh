#!/usr/bin/env bash
# Builds the Debian package from the default build (as `cd build && cpack -G DEB` does)
# and checks it: exactly the expected files, the run-time dependencies declared, a desktop
# entry and AppStream metainfo that their validators pass without a remark, manual pages
# that man renders without a warning, no lintian error or warning, and dependencies that
# apt can satisfy.
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
./usr/share/applications/org.brimvale.Brimvale.desktop
./usr/share/bash-completion/completions/brimvale-cli
./usr/share/doc/brimvale/changelog.gz
./usr/share/doc/brimvale/copyright
./usr/share/icons/hicolor/256x256/apps/brimvale.png
./usr/share/icons/hicolor/48x48/apps/brimvale.png
./usr/share/man/man1/brimvale-cli.1.gz
./usr/share/man/man1/brimvale.1.gz
./usr/share/metainfo/org.brimvale.Brimvale.metainfo.xml
./usr/share/mime/packages/org.brimvale.Brimvale.xml"
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
# Each checker must pass and say nothing else: a hint or an info counts as a finding.
# Usage: remarks NAME STATUS OUTPUT (the lines to ignore already taken out).
remarks() {
    if [ "$2" -ne 0 ] || [ -n "$3" ]; then
        echo "package: $1 finds:" >&2
        echo "$3" >&2
        exit 1
    fi
}
entry="$unpacked/usr/share/applications/org.brimvale.Brimvale.desktop"
status=0
output=$(desktop-file-validate "$entry" 2>&1) || status=$?
remarks desktop-file-validate "$status" "$output"
program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[ -x "$unpacked/usr/bin/$program" ] || { echo "package: Exec=$program is not in /usr/bin" >&2; exit 1; }

# The metainfo on its own, then with the desktop entry it names (validate-tree).
for validate in "validate $unpacked/usr/share/metainfo/org.brimvale.Brimvale.metainfo.xml" \
    "validate-tree $unpacked"; do
    status=0
    output=$(appstreamcli $validate --no-net --no-color 2>&1) || status=$?
    remarks "appstreamcli ${validate%% *}" "$status" \
        "$(grep -v '^$\|Validation was successful\|^org.brimvale.Brimvale.metainfo.xml$' <<<"$output" || true)"
done

# The package's MIME definitions are read as the database's: each gives its glob.
mime="$unpacked/mime-check"
mkdir -p "$mime/packages"
cp "$unpacked/usr/share/mime/packages/org.brimvale.Brimvale.xml" "$mime/packages/"
update-mime-database "$mime" >/dev/null 2>&1
for glob in image/x-jbig:\*.jbg image/x-pgx:\*.pgx; do
    grep -qxF "50:$glob" "$mime/globs2" || { echo "package: the MIME definitions lack $glob" >&2; exit 1; }
done

for page in "$unpacked"/usr/share/man/man1/*.1.gz; do
    status=0
    output=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || status=$?
    remarks "man -l $(basename "$page")" "$status" "$output"
done
bash -n "$unpacked/usr/share/bash-completion/completions/brimvale-cli"

# lintian prints errors and warnings (not infos) and fails on either.
status=0
output=$(lintian --fail-on error,warning "$deb" 2>&1) || status=$?
remarks lintian "$status" "$(grep -v 'running with root privileges' <<<"$output" || true)"
apt-get install --simulate --no-install-recommends "./$deb" >/dev/null
echo "package: $deb holds the programs, their manuals, the menu entry, the metainfo and the icons;"
echo "package: lintian, desktop-file-validate, appstreamcli validate and man found nothing"
