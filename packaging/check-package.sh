#!/usr/bin/env bash
# Builds the Debian package of a build tree into a scratch folder and checks what it
# holds: the three programs (and no other), the desktop entry, the icon at every size
# and as SVG, the manual pages, copyright and changelog, the sample clip, and the
# dependencies; then runs lintian and desktop-file-validate on it. Installs nothing.
# Exit status 77 (a skip for CTest) when everything else passed but lintian or
# desktop-file-validate is not installed (scripts/test installs both).
#
#   packaging/check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
problems=0
problem() { echo "package: $*" >&2; problems=$((problems + 1)); }
missing_tools=()

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1 || {
  cat "$scratch/cpack.log" >&2; exit 1; }
deb=$(ls "$scratch"/tambrel_*.deb)
version=$(dpkg-deb -f "$deb" Version)
dpkg-deb -x "$deb" "$scratch/root"
root=$scratch/root

# Programs: these three and nothing else (the clip generator is a test tool).
programs=$(cd "$root/usr/bin" && ls | tr '\n' ' ')
[ "$programs" = "tambrel tambrel-compose tambrel-mci " ] ||
  problem "/usr/bin holds $programs instead of tambrel tambrel-compose tambrel-mci"
for path in usr/share/applications/tambrel.desktop usr/share/tambrel/samples/pendulum.avi \
            usr/share/doc/tambrel/copyright usr/share/doc/tambrel/changelog.Debian.gz \
            usr/share/icons/hicolor/scalable/apps/tambrel.svg; do
  [ -s "$root/$path" ] || problem "no /$path"
done

depends=$(dpkg-deb -f "$deb" Depends)
for name in libqt6core6 libqt6gui6 libqt6widgets6 libavformat libavcodec libswscale libavutil \
            fonts-ipafont-gothic qt6-translations-l10n libopencv-imgproc; do
  grep -q "\b$name" <<<"$depends" || problem "does not depend on $name: $depends"
done

# Licence and history: the machine-readable copyright with the terms of LICENSE, and a
# changelog whose newest entry is this version.
copyright=$root/usr/share/doc/tambrel/copyright
head -1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  problem "copyright is not in the machine-readable format"
grep -qx 'License: GPL-3+' "$copyright" || problem "copyright does not state GPL-3+"
grep -q 'GNU GENERAL PUBLIC LICENSE' "$(dirname "$0")/../LICENSE" &&
  grep -q '^ *Version 3, 29 June 2007' "$(dirname "$0")/../LICENSE" ||
  problem "LICENSE is not the GNU GPL version 3"
newest=$(zcat "$root/usr/share/doc/tambrel/changelog.Debian.gz" | head -1)
[[ "$newest" == "tambrel ($version) "* ]] ||
  problem "the changelog's newest entry is '$newest', the package is $version"

# Desktop entry: one main category, the video types the service opens, a file argument.
entry=$root/usr/share/applications/tambrel.desktop
for line in 'Type=Application' 'Name=Tambrel' 'Exec=tambrel %f' 'Icon=tambrel' \
            'Categories=Education;Physics;'; do
  grep -qx -- "$line" "$entry" || problem "desktop entry lacks $line"
done
grep -q '^Name\[ja\]=.' "$entry" || problem "desktop entry has no Japanese name"
mime_types=$(sed -n 's/^MimeType=//p' "$entry")
for type in video/mp4 video/quicktime video/3gpp video/x-matroska video/webm video/mp2t \
            video/mpeg video/x-ms-wmv video/x-msvideo; do
  [[ ";$mime_types" == *";$type;"* ]] || problem "desktop entry does not offer Tambrel for $type"
done
if command -v desktop-file-validate >/dev/null; then
  # Hints included: two main categories would show as one.
  validation=$(desktop-file-validate "$entry" 2>&1) || true
  [ -z "$validation" ] || problem "desktop-file-validate: $validation"
else
  missing_tools+=(desktop-file-validate)
fi

# Icons: each PNG of the size its folder names (width and height are the big-endian
# words at bytes 16 and 20), the SVG an SVG document.
for side in 16 22 24 32 48 64 128 256; do
  icon=$root/usr/share/icons/hicolor/${side}x${side}/apps/tambrel.png
  if [ ! -s "$icon" ]; then
    problem "no icon of $side x $side"
    continue
  fi
  size=$(od -An -tu4 --endian=big -j16 -N8 "$icon" | tr -s ' ')
  [ "$size" = " $side $side" ] || problem "the $side x $side icon is$size"
done
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/tambrel.svg" ||
  problem "the scalable icon is not an SVG"

# Manual pages: one for each program, readable by man without a warning, each naming its
# program; the window's page lists its options.
for program in tambrel tambrel-compose tambrel-mci; do
  page=$root/usr/share/man/man1/$program.1.gz
  if [ ! -s "$page" ]; then
    problem "no manual page for $program"
    continue
  fi
  zcat "$page" | grep -q "^$program \\\\- " || problem "the manual page of $program lacks its NAME"
  if command -v man >/dev/null; then
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || true
    [ -z "$warnings" ] || problem "man warns on $program.1: $warnings"
  fi
done
for option in '\-\-help' '\-\-version' 'FILE'; do
  zcat "$root/usr/share/man/man1/tambrel.1.gz" | grep -qF -- "$option" ||
    problem "the manual page of tambrel does not mention $option"
done

# The packaged programs run; help and version need no display. (Their output is read
# whole first: grep -q would stop reading early, and the writer would die of SIGPIPE.)
compose_help=$("$root/usr/bin/tambrel-compose" --help) || compose_help=
grep -q -- '--as-shown' <<<"$compose_help" ||
  problem "the packaged tambrel-compose does not run"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/tambrel" --version | head -1)" = \
  "tambrel ${version%-*}" ] || problem "the packaged tambrel --version does not say ${version%-*}"
mci_help=$("$root/usr/bin/tambrel-mci" --help) || mci_help=
grep -q '^Usage: tambrel-mci' <<<"$mci_help" ||
  problem "the packaged tambrel-mci --help does not answer"

# lintian: no error and no warning (tags answered with a reason are in the package's own
# overrides, packaging/lintian-overrides).
if command -v lintian >/dev/null; then
  lintian_status=0
  lintian "$deb" >"$scratch/lintian.out" 2>"$scratch/lintian.err" || lintian_status=$?
  findings=$(grep -E '^[EW]: ' "$scratch/lintian.out" || true)
  [ -z "$findings" ] || problem "lintian: $findings"
  [ "$lintian_status" -eq 0 ] || [ -n "$findings" ] ||
    problem "lintian failed ($lintian_status): $(cat "$scratch/lintian.err")"
else
  missing_tools+=(lintian)
fi

if [ "$problems" -gt 0 ]; then
  echo "package: $problems problems in $(basename "$deb")" >&2
  exit 1
fi
if [ ${#missing_tools[@]} -gt 0 ]; then
  echo "package: $(basename "$deb") holds what it should, but ${missing_tools[*]} is not installed (scripts/test installs it)"
  exit 77
fi
echo "package: $(basename "$deb") holds what it should; lintian and desktop-file-validate are content"
