#!/usr/bin/env bash
# Fails when an include in src/ runs from a lower layer to a higher one.
#   check-layers.sh SRC_DIR
# The layers, low to high (each folder may include itself and what is listed for it):
#   core, export  ->  media  ->  scale, compose, measure  ->  window  ->  app
# Within the middle layer compose may use scale, and measure both of them: the engines
# never reach the window, and the window never reaches the program's main. FFmpeg's
# headers are for src/media/service only, OpenCV's for src/measure/tracking only.
set -uo pipefail
src=${1:?usage: check-layers.sh SRC_DIR}
cd "$src" || exit 2

declare -A allowed=(
  [core]="core"
  [export]="export core"
  [media]="media core"
  [scale]="scale core"
  [compose]="compose scale media core"
  [measure]="measure compose scale media core"
  [window]="window measure compose scale media export core"
  [app]="app window measure compose scale media export core"
)

failures=0
while IFS= read -r file; do
  folder=${file%%/*}
  if [ -z "${allowed[$folder]+x}" ]; then
    echo "$file: the folder '$folder' has no place among the layers (add it to $0)"
    failures=$((failures + 1))
    continue
  fi
  while IFS=: read -r line target; do
    case "$target" in
      libav*/*|libsw*/*)
        [[ "$file" == media/service/* ]] && continue
        echo "$file:$line: includes FFmpeg's $target; only src/media/service may"
        failures=$((failures + 1)) ;;
      opencv2/*)
        [[ "$file" == measure/tracking/* ]] && continue
        echo "$file:$line: includes OpenCV's $target; only src/measure/tracking may"
        failures=$((failures + 1)) ;;
      */*)
        to=${target%%/*}
        [ -n "${allowed[$to]+x}" ] || continue  # not one of ours
        if [[ " ${allowed[$folder]} " != *" $to "* ]]; then
          echo "$file:$line: includes \"$target\": $folder may include only ${allowed[$folder]// /, }"
          failures=$((failures + 1))
        fi ;;
    esac
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" |
             sed 's/^\([0-9]*\):[^<"]*[<"]\([^>"]*\)[>"].*/\1:\2/')
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) | sed 's|^\./||' | sort)

if [ "$failures" -gt 0 ]; then
  echo "$failures include(s) against the layers"
  exit 1
fi
echo "layers: every include in $src runs downwards"
