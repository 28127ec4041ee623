#!/bin/sh
# Usage: wine-run.sh PREFIX PROGRAM [ARGUMENT...]
# Runs a Windows program in the private prefix and passes on its output and exit status.
set -eu
prefix=$1
shift
"$(dirname "$0")/prefix.sh" "$prefix"
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all

# Services Wine starts on demand inherit the program's output, so it goes to files that are
# copied out afterwards; a runner reading a pipe would otherwise wait on those services forever.
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
status=0
wine "$@" </dev/null >"$out" 2>"$err" || status=$?
cat "$out"
cat "$err" >&2
exit "$status"
