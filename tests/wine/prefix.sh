#!/bin/sh
# Makes sure the private Wine prefix at $1 exists, with windows that need no display, and that its
# server is running and kept warm between programs. Safe to call concurrently. A prefix whose name
# ends in -win64 is a 64-bit one, where our 32-bit programs run under WoW64 as on players'
# Windows; any other is 32-bit only.
set -eu
prefix=$1
mkdir -p "$(dirname "$prefix")"
case $prefix in
*-win64) arch=win64 ;;
*) arch=win32 ;;
esac
export WINEPREFIX="$prefix" WINEARCH=$arch WINEDEBUG=-all
log="$prefix.log"

# Wine's services outlive this script; flock -o keeps the lock from being inherited by them.
if [ "${2:-}" != --locked ]; then
	exec flock -o "$prefix.lock" "$0" "$prefix" --locked
fi

# The server lingers a minute after the last program so each test doesn't pay a cold start. Its
# output goes to a file: a caller's pipe held open by it would never reach end of file.
keep_server_warm() { wineserver -p60 </dev/null >>"$log" 2>&1 || true; }

marker="$prefix/.quarrion-private-prefix-2"
if [ ! -f "$marker" ]; then
	rm -rf "$prefix"
	mkdir -p "$prefix"
	echo "creating the private Wine prefix $prefix" >&2
	keep_server_warm
	# No .NET or HTML engine: nothing here needs them, and their installers would ask. No menu
	# builder either: it would copy the prefix's link handlers and menus into the host's desktop
	# (~/.local/share), and it reads installed programs in the background while tests remove them.
	WINEDLLOVERRIDES='mscoree=;mshtml=;winemenubuilder.exe=d' wineboot -i </dev/null >>"$log" 2>&1
	wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d '' /f </dev/null >>"$log" 2>&1
	wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >>"$log" 2>&1
	# The tests write the registry only where they find this value naming their own prefix, in
	# the view they see as 32-bit programs.
	wine reg add 'HKLM\Software\QuarrionTests' /v PrivatePrefix /d "$prefix" /f /reg:32 </dev/null >>"$log" 2>&1
	# wineboot already started the desktop with the default driver; a new session picks up null.
	wineserver -k </dev/null >>"$log" 2>&1 || true
	wineserver -w </dev/null >>"$log" 2>&1 || true
	touch "$marker"
fi
keep_server_warm
