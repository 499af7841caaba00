#!/usr/bin/env bash
# Builds the Debian package of a build tree into a scratch folder and checks what it
# holds: the three programs, the desktop entry, the icon, the sample clip, and
# dependencies on Qt 6, the FFmpeg libraries and the Japanese font. Installs nothing.
#
#   packaging/check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
problems=0
problem() { echo "package: $*" >&2; problems=$((problems + 1)); }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1 || {
  cat "$scratch/cpack.log" >&2; exit 1; }
deb=$(ls "$scratch"/tambrel_*.deb)

contents=$(dpkg-deb -c "$deb" | awk '{ print $NF }')
for path in ./usr/bin/tambrel ./usr/bin/tambrel-compose ./usr/bin/tambrel-mci \
            ./usr/share/applications/tambrel.desktop \
            ./usr/share/icons/hicolor/32x32/apps/tambrel.png \
            ./usr/share/tambrel/samples/pendulum.avi; do
  grep -qx -- "$path" <<<"$contents" || problem "no $path"
done

depends=$(dpkg-deb -f "$deb" Depends)
for name in libqt6core6 libqt6gui6 libqt6widgets6 libavformat libavcodec libswscale libavutil \
            fonts-ipafont-gothic qt6-translations-l10n; do
  grep -q "\b$name" <<<"$depends" || problem "does not depend on $name: $depends"
done

dpkg-deb -x "$deb" "$scratch/root"
entry="$scratch/root/usr/share/applications/tambrel.desktop"
for line in 'Type=Application' 'Name=Tambrel' 'Exec=tambrel' 'Icon=tambrel' \
            'Categories=Education;Science;'; do
  grep -qx -- "$line" "$entry" || problem "desktop entry lacks $line"
done
grep -q '^Name\[ja\]=.' "$entry" || problem "desktop entry has no Japanese name"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate --no-hints "$entry" || problem "desktop entry does not validate"
fi
# A PNG's width and height are the big-endian words at bytes 16 and 20.
icon="$scratch/root/usr/share/icons/hicolor/32x32/apps/tambrel.png"
[ "$(od -An -tu1 -j16 -N8 "$icon" | tr -s ' ')" = " 0 0 0 32 0 0 0 32" ] ||
  problem "icon is not 32 x 32"
"$scratch/root/usr/bin/tambrel-compose" --help | grep -q -- '--as-shown' ||
  problem "the packaged tambrel-compose does not run"

[ "$problems" -eq 0 ] && echo "package: $(basename "$deb") holds what it should"
exit $((problems > 0))
