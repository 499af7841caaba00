#!/usr/bin/env bash
# tambrel-compose against FFmpeg's own command-line tool, side by side in one run.
#
#   bench/compose-cli/compare-ffmpeg.sh [BUILD_DIR] [ROUNDS]
#   TAMBREL_CLIPS=DIR bench/compose-cli/compare-ffmpeg.sh ...  (default ../shared/clips)
#
# For each clip, ROUNDS (default 5) alternating runs of
#   ffmpeg -i CLIP -an -pix_fmt bgra -f null -          (decode every frame, convert to RGB)
#   ffmpeg -i CLIP -an -sws_flags bicubic+full_chroma_int+accurate_rnd -pix_fmt bgra -f null -
#                                                       (the same with accurate conversion)
#   tambrel-compose CLIP -o OUT.png                     (seed at 0, step 1, to the end)
#   tambrel-compose CLIP -o OUT.png --step 30           (every 30th frame, seeking past the
#                                                        rest where keyframes allow)
# Prints the median wall time and processor time (user + system) of each, and the ratios
# of each tambrel-compose run to both FFmpeg lines. Asserts nothing: the machine may be
# shared, so it also prints the load average before and after.
#
# Clips: generated with make-clip (the MJPEG pendulum sample, MPEG-4 with a keyframe every
# 12 frames, H.264 720p with B-frames, HEVC 1080p in MP4), and the real clips of
# ../shared/clips beside the repository (or TAMBREL_CLIPS) when present.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${1:-build}
ROUNDS=${2:-5}
CLIPS=${TAMBREL_CLIPS:-../shared/clips}
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
hevc="$work/bob-hevc-1920x1080-gop30.mp4"
if ! "$MAKE_CLIP" "$hevc" --codec hevc --size 1920x1080 --frames 240 --gop 30 >/dev/null 2>&1; then
  # A make-clip that writes AVI only: the same scene through FFmpeg's HEVC encoder.
  echo "  (make-clip writes no HEVC here: the 1080p clip is encoded by ffmpeg)"
  "$MAKE_CLIP" "$work/bob-1920x1080.avi" --codec mjpeg --size 1920x1080 --frames 240 >/dev/null
  ffmpeg -nostdin -v error -i "$work/bob-1920x1080.avi" -c:v libx265 -pix_fmt yuv420p \
    -x265-params "keyint=30:min-keyint=30:bframes=2:log-level=error" -tag:v hvc1 "$hevc"
  rm -f "$work/bob-1920x1080.avi"
fi
clips+=("$work/pendulum-mjpeg-640x480.avi" "$work/bob-mpeg4-640x480-gop12.avi"
        "$work/bob-h264-1280x720-gop30.avi" "$hevc")
for real in road-xvid-mp3.avi bbb-h264-bframes.avi ball-roll-mjpeg.avi; do
  [ -f "$CLIPS/$real" ] && clips+=("$CLIPS/$real")
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
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }

echo "Machine: $(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg); $ROUNDS rounds, medians"
echo "ff: ffmpeg -pix_fmt bgra (default conversion); acc: the same with -sws_flags bicubic+full_chroma_int+accurate_rnd"
printf '\n%-32s %6s %-7s %7s %7s %7s %6s %6s  %7s %7s %7s %6s %6s\n' clip frames run \
  "ff s" "acc s" "run s" "/ff" "/acc" "ff cpu" "acc cpu" "run cpu" "/ff" "/acc"
for clip in "${clips[@]}"; do
  name=$(basename "$clip")
  frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$clip")
  ffmpeg_cmd=(ffmpeg -nostdin -v error -i "$clip" -an -pix_fmt bgra -f null -)
  accurate_cmd=(ffmpeg -nostdin -v error -i "$clip" -an -sws_flags bicubic+full_chroma_int+accurate_rnd
                -pix_fmt bgra -f null -)
  declare -A wall=() cpu=()
  for label in ffmpeg accurate step1 step30; do wall[$label]=""; cpu[$label]=""; done
  for ((r = 0; r < ROUNDS; r++)); do
    read -r w c < <(measure "${ffmpeg_cmd[@]}"); wall[ffmpeg]+="$w"$'\n'; cpu[ffmpeg]+="$c"$'\n'
    read -r w c < <(measure "$COMPOSE" "$clip" -o "$work/out.png"); wall[step1]+="$w"$'\n'; cpu[step1]+="$c"$'\n'
    read -r w c < <(measure "${accurate_cmd[@]}"); wall[accurate]+="$w"$'\n'; cpu[accurate]+="$c"$'\n'
    read -r w c < <(measure "$COMPOSE" "$clip" -o "$work/out.png" --step 30); wall[step30]+="$w"$'\n'; cpu[step30]+="$c"$'\n'
  done
  fw=$(printf '%s' "${wall[ffmpeg]}" | median); fc=$(printf '%s' "${cpu[ffmpeg]}" | median)
  aw=$(printf '%s' "${wall[accurate]}" | median); ac=$(printf '%s' "${cpu[accurate]}" | median)
  for label in step1 step30; do
    w=$(printf '%s' "${wall[$label]}" | median); c=$(printf '%s' "${cpu[$label]}" | median)
    if [ "$label" = step1 ]; then shown=$name; count=$frames; else shown=""; count=""; fi
    printf '%-32s %6s %-7s %7.3f %7.3f %7.3f %6s %6s  %7.3f %7.3f %7.3f %6s %6s\n' "$shown" "$count" \
      "$label" "$fw" "$aw" "$w" "$(ratio "$w" "$fw")" "$(ratio "$w" "$aw")" \
      "$fc" "$ac" "$c" "$(ratio "$c" "$fc")" "$(ratio "$c" "$ac")"
  done
done
echo
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "/ff, /acc = tambrel-compose time over the FFmpeg line's (lower is faster); wall time in"
echo "seconds, cpu = user + system seconds. step30: every 30th frame, seeking where keyframes allow."
