#!/bin/sh
# Usage: without-scripting-shell.sh PREFIX PROGRAM [ARGUMENT...]
# Runs a Windows program in a throwaway copy of the private prefix from which the
# "WScript.Shell" class has been removed, then deletes the copy.
set -eu
prefix=$1
shift
here=$(dirname "$0")
"$here/prefix.sh" "$prefix"
copy="$prefix-without-scripting-shell"

export WINEARCH=win32 WINEDEBUG=-all
# Stopping the server saves the registry, so the copy is consistent; the next program restarts it.
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
rm -rf "$copy"
cp -a "$prefix" "$copy"
trap 'WINEPREFIX="$copy" wineserver -k 2>/dev/null || true; rm -rf "$copy" "$copy.lock" "$copy.log"' EXIT

log="$copy.log"
reg() { WINEPREFIX="$copy" wine reg "$@" </dev/null >>"$log" 2>&1; }
# The copy is as private as the original: its marker names it instead.
reg add 'HKLM\Software\QuarrionTests' /v PrivatePrefix /d "$copy" /f
reg delete 'HKLM\Software\Classes\WScript.Shell' /f
reg delete 'HKLM\Software\Classes\CLSID\{72C24DD5-D70A-438B-8A42-98424B88AFB8}' /f

"$here/wine-run.sh" "$copy" "$@"
