# Sourced by the bench scripts: fills PHOTOS with the 24 large JPEG photographs they work
# on (from Debian's lomiri-wallpapers-16.04 and plasma-workspace-wallpapers packages,
# installed by `bash scripts/install-deps.sh --bench`) and BACKGROUND with the last of
# them; CONVERT is ImageMagick's convert. Exits when they are missing.
mapfile -t PHOTOS < <(
    for f in /usr/share/backgrounds/*.jpg /usr/share/wallpapers/*/contents/images*/*.jpg; do
        [ -f "$f" ] && readlink -f "$f"
    done | sort -u | while read -r f; do
        w=$("$CONVERT" -ping "$f" -format '%w' info: 2>/dev/null || echo 0)
        [ "$w" -ge 2000 ] && [ "$w" -le 5300 ] && echo "$f"
    done | head -24)
if [ ${#PHOTOS[@]} -lt 24 ]; then
    echo "found ${#PHOTOS[@]} photos; install lomiri-wallpapers-16.04 and plasma-workspace-wallpapers"
    exit 1
fi
# shellcheck disable=SC2034 # used by the scripts that source this one
BACKGROUND=${PHOTOS[23]}
