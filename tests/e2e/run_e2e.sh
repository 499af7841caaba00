#!/usr/bin/env bash
# Runs the end-to-end driver on a fresh virtual X display without a window manager.
# Usage: run_e2e.sh DRIVER TAMBREL MAKE_CLIP ARTIFACT_DIR
# Exit 77 (skipped) when the display tools are missing and cannot be installed, or
# when no display server can be started.
set -uo pipefail

driver=$1 tambrel=$2 make_clip=$3 artifacts=$4
skip=77
tools=(xvfb-run xauth xdotool xclip ffmpeg)
packages=(xvfb xauth xdotool xclip ffmpeg)

missing() {
  local t
  for t in "${tools[@]}"; do command -v "$t" >/dev/null 2>&1 || return 0; done
  return 1
}

if missing && [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "e2e: installing ${packages[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y --no-install-recommends "${packages[@]}" >/dev/null 2>&1 ||
    { apt-get update >/dev/null 2>&1 &&
      apt-get install -y --no-install-recommends "${packages[@]}" >/dev/null 2>&1; }
fi
for t in "${tools[@]}"; do
  if ! command -v "$t" >/dev/null 2>&1; then
    echo "e2e: skipped: $t is not available"
    exit $skip
  fi
done

screen_args="-screen 0 1280x800x24"
if ! xvfb-run -a -s "$screen_args" true >/dev/null 2>&1; then
  echo "e2e: skipped: no X display server can be started"
  exit $skip
fi

mkdir -p "$artifacts"
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
chmod 700 "$runtime"

# The window's decimal point is the locale's: fix it. The driver and the program
# both talk to the virtual display, not to an offscreen one.
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY \
    LC_ALL=C.UTF-8 LANG=C.UTF-8 XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "$screen_args" \
    "$driver" --tambrel "$tambrel" --make-clip "$make_clip" --artifacts "$artifacts" 2>&1 |
  tee "$artifacts/e2e.log"
