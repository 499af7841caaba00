#!/usr/bin/env bash
# Makes the README's pictures from a build tree:
#   docs/window.png              the window after a composite of the sample clip
#   docs/pendulum-composite.png  the sample's composite made by tambrel-compose
#   docs/difference-composite.png  white, black and difference priority side by side on
#                                a generated clip of a ball over brighter and darker stripes
#
#   docs/make-screenshots.sh [BUILD_DIR]
#
# The window runs on a virtual X display (xvfb-run) and is driven with xdotool: open
# the sample, play, pause, 3 frames per step, a composition run of a few cycles, stop;
# then the window alone is captured (ImageMagick's import).
#
# The window shows the clip's path, so the sample is opened where the Debian package
# installs it, /usr/share/tambrel/samples/pendulum.avi, the path a user sees. Unless the
# package is installed, it is put there only for this script: in a private mount
# namespace (unshare, as root), on an overlay of /usr/share that vanishes with it.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
APP=$BUILD/src/app/tambrel
COMPOSE=$BUILD/tools/tambrel-compose/tambrel-compose
SCENE_CLIP=$BUILD/tests/cli/ball-scene-clip
SAMPLE=$PWD/samples/pendulum.avi
for f in "$APP" "$COMPOSE" "$SCENE_CLIP" "$SAMPLE"; do
  [ -e "$f" ] || { echo "missing $f: build first (ninja -C $BUILD tambrel tambrel-compose ball-scene-clip sample_clip)" >&2; exit 2; }
done

INSTALLED=/usr/share/tambrel/samples/pendulum.avi

stage=${TAMBREL_SHOT_STAGE:-start}
if [ "$stage" = start ]; then
  "$COMPOSE" "$SAMPLE" -o docs/pendulum-composite.png --step 3 --count 8
  # The ball scene of the tests (a red ball rolling over a grey floor with a dark mat, a
  # white line and a brown board), composed under each priority, with white gaps between.
  scene=$(mktemp -d)
  "$SCENE_CLIP" "$scene/ball.avi" 400 120
  for priority in white black difference; do
    "$COMPOSE" "$scene/ball.avi" -o "$scene/$priority.png" --priority "$priority"
  done
  convert "$scene/white.png" \( -size 10x120 xc:white \) "$scene/black.png" \
    \( -size 10x120 xc:white \) "$scene/difference.png" +append docs/difference-composite.png
  rm -rf "$scene"
  if cmp -s "$INSTALLED" "$SAMPLE"; then
    TAMBREL_SHOT_STAGE=on-display exec xvfb-run -a -s '-screen 0 1280x800x24' "$0" "$BUILD"
  fi
  TAMBREL_SHOT_STAGE=namespace exec unshare --mount --propagation private "$0" "$BUILD"
fi
if [ "$stage" = namespace ]; then
  layer=$(mktemp -d)
  mkdir "$layer/upper" "$layer/work"
  mount -t overlay overlay -o "lowerdir=/usr/share,upperdir=$layer/upper,workdir=$layer/work" \
    /usr/share
  mkdir -p "$(dirname "$INSTALLED")"
  cp "$SAMPLE" "$INSTALLED"
  status=0
  TAMBREL_SHOT_STAGE=on-display xvfb-run -a -s '-screen 0 1280x800x24' "$0" "$BUILD" || status=$?
  umount --lazy /usr/share
  rm -rf "$layer"
  exit $status
fi

TMPDIR_SHOT=$(mktemp -d)
"$APP" &
app=$!
trap 'kill $app 2>/dev/null || true; rm -rf "$TMPDIR_SHOT"' EXIT
win=$(xdotool search --sync --onlyvisible --name '^Tambrel' | head -1)
sleep 1
# Control positions in client pixels (the window's layout, twips / 15). The client area
# starts below the menu bar (a status bar follows it): found from the scale's black
# frame, whose top edge lies 42 pixels into the client area (Picture3's inner top).
import -window "$win" "$TMPDIR_SHOT/start.png"
frame_top=$(convert "$TMPDIR_SHOT/start.png" -crop 1x200+700+0 +repage txt:- |
  awk -F'[,:]' '/#000000/ { print $2; exit }')
menu=$(( frame_top - 42 ))
echo "client area starts ${menu} pixels below the window's top" >&2
click() { xdotool mousemove --window "$win" "$1" $(( $2 + menu )) click 1; }

xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
xdotool key --window "$win" alt+f
sleep 0.5
xdotool key o
sleep 1.5                                   # the file dialog
xdotool type --delay 20 "$INSTALLED"
xdotool key Return
sleep 2
click 176 64                                # 再生 (play)
sleep 1.2
click 112 64                                # 一時停止 (pause)
sleep 0.5
xdotool mousemove --window "$win" 140 $(( 228 + menu )) click --repeat 3 1   # 送りコマ数
xdotool key ctrl+a
xdotool type 3
click 112 272                               # 合成開始 (start)
sleep 7
click 112 304                               # 合成中止 (stop)
sleep 1
import -window "$win" docs/window.png
echo "wrote docs/window.png ($(stat -c %s docs/window.png) bytes) and docs/pendulum-composite.png ($(stat -c %s docs/pendulum-composite.png) bytes)"
