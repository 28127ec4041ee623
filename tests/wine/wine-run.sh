#!/bin/sh
# Usage: wine-run.sh PREFIX PROGRAM [ARGUMENT...]
# Runs a Windows program in the private prefix and passes on its output and exit status. With
# QUARRION_PREFIX_KIND=win64 it runs in the 64-bit prefix beside it, PREFIX-win64, instead.
set -eu
prefix=$1
shift
if [ "${QUARRION_PREFIX_KIND:-}" = win64 ]; then
	prefix=$prefix-win64
fi
# prefix.sh makes the prefix of the kind its name says; Wine then reads the kind from it.
"$(dirname "$0")/prefix.sh" "$prefix"
unset WINEARCH
export WINEPREFIX="$prefix" WINEDEBUG=-all
# Setup, run under Wine, registers quarrion:// with the Linux desktop of the user running it:
# here, with a desktop of the prefix's own, never the real user's.
export XDG_DATA_HOME="$prefix.desktop/data" XDG_CONFIG_HOME="$prefix.desktop/config"

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
