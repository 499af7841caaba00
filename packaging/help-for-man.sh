#!/bin/sh
# Runs PROGRAM with the given arguments (help2man's --help) and prints what it says with
# a usage that wraps onto indented lines joined into one line: help2man takes only the
# first line of a usage into the manual page's synopsis.
#   packaging/help-for-man.sh PROGRAM [ARGUMENT...]
set -e
program=$1
shift
"$program" "$@" | awk '
  joining && /^[ \t]+[^ \t]/ { sub(/^[ \t]+/, " "); usage = usage $0; next }
  joining { print usage; joining = 0 }
  NR == 1 && /^Usage:/ { usage = $0; joining = 1; next }
  { print }
  END { if (joining) print usage }'
