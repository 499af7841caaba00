#!/usr/bin/env bash
# tambrel-compose against FFmpeg's own command-line tool, side by side in one run.
#
#   bench/compose-cli/compare-ffmpeg.sh [BUILD_DIR] [ROUNDS]
#   SHARED_CLIPS=DIR bench/compose-cli/compare-ffmpeg.sh ...   (default ../shared/clips)
#
# For each clip, ROUNDS (default 5) alternating runs of
#   ffmpeg -i CLIP -an -pix_fmt bgra -f null -       (decode every frame, convert to RGB)
#   tambrel-compose CLIP -o OUT.png                  (seed at 0, step 1, to the end)
# and then, for clips with keyframes, tambrel-compose --step 30 (which seeks) against
# the same full decode. Prints the median wall time and processor time (user + system)
# of each, and their ratios. Asserts nothing: the machine may be shared.
#
# Clips: generated with make-clip (MJPEG as the sample, MPEG-4 with a keyframe every 12
# frames, H.264 with B-frames), and the real clips of the shared clip folder when present
# (../shared/clips from the repository's root, or $SHARED_CLIPS).
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${1:-build}
ROUNDS=${2:-5}
COMPOSE=$BUILD/tools/tambrel-compose/tambrel-compose
MAKE_CLIP=$BUILD/tools/make-clip/make-clip
for tool in "$COMPOSE" "$MAKE_CLIP"; do
  [ -x "$tool" ] || { echo "missing $tool: build first (ninja -C $BUILD tambrel-compose make-clip)" >&2; exit 2; }
done
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

clips=()
echo "Generating clips..."
"$MAKE_CLIP" "$work/pendulum-mjpeg-640x480.avi" --pendulum --codec mjpeg --size 640x480 --fps 30 --frames 300 >/dev/null
"$MAKE_CLIP" "$work/bob-mpeg4-640x480-gop12.avi" --codec mpeg4 --size 640x480 --frames 600 --gop 12 >/dev/null
"$MAKE_CLIP" "$work/bob-h264-1280x720-gop30.avi" --codec h264 --size 1280x720 --frames 300 --gop 30 >/dev/null
clips+=("$work/pendulum-mjpeg-640x480.avi" "$work/bob-mpeg4-640x480-gop12.avi" "$work/bob-h264-1280x720-gop30.avi")
shared_clips=${SHARED_CLIPS:-../shared/clips}
for real in road-xvid-mp3.avi bbb-h264-bframes.avi ball-roll-mjpeg.avi; do
  [ -f "$shared_clips/$real" ] && clips+=("$shared_clips/$real")
done

# Runs a command once; prints "wall_seconds cpu_seconds".
measure() {
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -f "%U %S" -o "$work/cpu" "$@" >/dev/null 2>"$work/err" || {
    echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'NR==1 { printf "%.4f %.4f\n", b - a, $1 + $2 }' "$work/cpu"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "Machine: $(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg); $ROUNDS rounds, medians"
printf '\n%-34s %6s  %-9s %9s %9s %7s   %9s %9s %7s\n' clip frames run "ff wall" "run wall" ratio "ff cpu" "run cpu" ratio
for clip in "${clips[@]}"; do
  name=$(basename "$clip")
  frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$clip")
  ffmpeg_cmd=(ffmpeg -nostdin -v error -i "$clip" -an -pix_fmt bgra -f null -)
  declare -A wall=() cpu=()
  for label in ffmpeg step1 step30; do wall[$label]=""; cpu[$label]=""; done
  for ((r = 0; r < ROUNDS; r++)); do
    read -r w c < <(measure "${ffmpeg_cmd[@]}"); wall[ffmpeg]+="$w"$'\n'; cpu[ffmpeg]+="$c"$'\n'
    read -r w c < <(measure "$COMPOSE" "$clip" -o "$work/out.png"); wall[step1]+="$w"$'\n'; cpu[step1]+="$c"$'\n'
    read -r w c < <(measure "$COMPOSE" "$clip" -o "$work/out.png" --step 30); wall[step30]+="$w"$'\n'; cpu[step30]+="$c"$'\n'
  done
  fw=$(printf '%s' "${wall[ffmpeg]}" | median); fc=$(printf '%s' "${cpu[ffmpeg]}" | median)
  for label in step1 step30; do
    w=$(printf '%s' "${wall[$label]}" | median); c=$(printf '%s' "${cpu[$label]}" | median)
    shown=$([ "$label" = step1 ] && echo "$name" || echo "")
    printf '%-34s %6s  %-9s %9.3f %9.3f %7.2f   %9.3f %9.3f %7.2f\n' "$shown" \
      "$([ "$label" = step1 ] && echo "$frames" || echo "")" "$label" \
      "$fw" "$w" "$(awk -v a="$w" -v b="$fw" 'BEGIN { print a / b }')" \
      "$fc" "$c" "$(awk -v a="$c" -v b="$fc" 'BEGIN { print (b > 0) ? a / b : 0 }')"
  done
done
echo
echo "ratio = tambrel-compose / ffmpeg full decode with RGB conversion (lower is faster)."
echo "--step30: every 30th frame, seeking past the frames in between where keyframes allow."
