#!/usr/bin/env bash
# The whole --track run of the sample against tambrel-compose without tracking, side by
# side in one run.
#
#   bench/tracking/track-sample.sh [BUILD_DIR] [ROUNDS]
#
# ROUNDS (default 5) alternating runs over the sample (samples/pendulum.avi, 640 x 480
# MJPEG, 300 frames) of
#   tambrel-compose pendulum.avi -o OUT.png                              (composite only)
#   tambrel-compose pendulum.avi --track OUT.csv --fit sine              (positions only)
#   tambrel-compose pendulum.avi -o OUT.png --track OUT.csv --fit sine   (both)
# and the same with --step 3 (101 frames). Prints the median wall and processor time
# (user + system) of each. Asserts nothing: the machine may be shared.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${1:-build}
ROUNDS=${2:-5}
COMPOSE=$BUILD/tools/tambrel-compose/tambrel-compose
SAMPLE=samples/pendulum.avi
[ -x "$COMPOSE" ] || { echo "missing $COMPOSE: build first (ninja -C $BUILD tambrel-compose sample_clip)" >&2; exit 2; }
[ -f "$SAMPLE" ] || { echo "missing $SAMPLE: ninja -C $BUILD sample_clip" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Seconds of wall and processor time of one run, "WALL CPU".
timed() {
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f '%U %S' -o "$work/time" "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" '{ printf "%.3f %.3f\n", e - s, $1 + $2 }' "$work/time"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

for step in 1 3; do
  declare -A wall=() cpu=()
  for ((r = 0; r < ROUNDS; r++)); do
    for kind in composite track both; do
      case $kind in
        composite) args=(-o "$work/out.png") ;;
        track) args=(--track "$work/out.csv" --fit sine) ;;
        both) args=(-o "$work/out.png" --track "$work/out.csv" --fit sine) ;;
      esac
      read -r w c < <(timed "$COMPOSE" "$SAMPLE" --step "$step" "${args[@]}")
      wall[$kind]+="$w "
      cpu[$kind]+="$c "
    done
  done
  frames=$(( (299 / step) + 1 ))
  echo "sample, --step $step ($frames frames), median of $ROUNDS:"
  for kind in composite track both; do
    w=$(tr ' ' '\n' <<<"${wall[$kind]}" | grep . | median)
    c=$(tr ' ' '\n' <<<"${cpu[$kind]}" | grep . | median)
    printf '  %-10s wall %6.3f s  cpu %6.3f s\n' "$kind" "$w" "$c"
  done
  unset wall cpu
done
"$COMPOSE" "$SAMPLE" --track "$work/out.csv" --fit sine
