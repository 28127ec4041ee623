#!/bin/sh
# Usage: check-flatpak.sh FOLDER BIN
# Setup in a Wine launcher installed as a Flatpak, with real Flatpak: the launcher is
# org.quarrion.TestLauncher on a runtime made of this machine's own Wine (make-runtime.sh, in
# build/flatpak), the prefix in the launcher's own data folder as launchers keep it, and HOME, the
# XDG folders and Flatpak's runtime folder throwaway ones in FOLDER (emptied first). Rows, the
# player's journey first: not granted, granted (a link opened on the host reaches the game),
# the uninstall; then what real Flatpak does that a simulation does not. One row alone:
# CHECK_FLATPAK_ONLY=<row>. Every row runs, each in a subshell; the check fails if any failed.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$1"
work=$(cd "$1" && pwd)
bin=$(cd "$2" && pwd)
check="check-flatpak"
. "$root/tests/lib/checks.sh"
start=$(date +%s)
only=${CHECK_FLATPAK_ONLY:-}

"$root/tests/flatpak/make-runtime.sh" "$root/build/flatpak"
export FLATPAK_USER_DIR="$root/build/flatpak/user" FLATPAK_SYSTEM_DIR="$root/build/flatpak/system"
app=org.quarrion.TestLauncher

# FOLDER is ours alone: emptied only when it is empty or was made by this check.
if [ -n "$(ls -A "$work")" ] && [ ! -f "$work/.quarrion-flatpak-check" ]; then
	echo "$check: $work holds files this check did not make" >&2
	exit 1
fi
find "$work" -mindepth 1 -delete 2>/dev/null || rm -rf "${work:?}"/* "$work"/.[!.]*
touch "$work/.quarrion-flatpak-check"
cd "$work"

export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
export XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime" WINEDEBUG=-all
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION GNOME_DESKTOP_SESSION_ID KDE_FULL_SESSION BROWSER \
	DBUS_SESSION_BUS_ADDRESS WINEPREFIX WINEARCH WINELOADER WINEDLLOVERRIDES
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME" \
	"$HOME/.local/share/applications" "$HOME/.config"
chmod 700 "$XDG_RUNTIME_DIR"
# The player's defaults before: another program's line, in both the XDG folders and the homes'
# own (for the row without XDG_*).
printf '[Default Applications]\ntext/html=firefox-esr.desktop;\n' | tee "$XDG_CONFIG_HOME/mimeapps.list" >"$HOME/.config/mimeapps.list"

own="$HOME/.var/app/$app"
prefix="$own/data/prefix"
game='C:\Games\Quarrion\quarrion.exe'
export QUARRION_STANDIN_RECORD='C:\flatpak-record.bin'
record="$prefix/drive_c/flatpak-record.bin"
link='quarrion://flatpak.example.net:27960/$(touch${IFS}pwned)'
expected="$game +connect flatpak.example.net:27960 +pass \$(touch\${IFS}pwned)"

xvfb=""
background=""
cleanup() {
	for pid in $background; do kill "$pid" 2>/dev/null || true; done
	for p in "$prefix" "$own/data/prefix2"; do
		[ ! -d "$p" ] || timeout 30 flatpak run --command=wineserver --env=WINEPREFIX="$p" "$app" -k >/dev/null 2>&1 || true
	done
	timeout 30 flatpak kill "$app" >/dev/null 2>&1 || true
	[ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT

# What the failing row saw, then the failure.
fail() {
	for log in wine.log said open.log; do
		[ ! -s "$work/$log" ] || { echo "--- $log (end)" >&2; tail -n 30 "$work/$log" >&2; }
	done
	find "$prefix/drive_c/users" -name quarrion_shell_linux.log -exec sh -c 'echo "--- $1"; cat "$1"' sh {} \; >&2 2>/dev/null || true
	echo "$check: FAILED: $*" >&2
	exit 1
}
ms() { echo $(($(date +%s%N) / 1000000)); }

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
wait_until 20 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
DISPLAY=":$(cat "$work/display")"
export DISPLAY

# A program in the launcher's sandbox, as the launcher runs it, bounded.
in_sandbox() { # SECONDS PROGRAM [ARG]...
	limit=$1 program=$2
	shift 2
	timeout "$limit" flatpak run --command="$program" --env=WINEPREFIX="${in_prefix:-$prefix}" "$app" "$@"
}
# Wine's services inherit the output of what starts them: files, never a pipe. The run ends once
# its Wine server has, as a launcher's window stays until its programs end: a run started while
# the server of another lingers is served by that one (Flatpak shares /tmp between the runs of an
# app), which rows d and e try on purpose.
sandboxed() {
	# shellcheck disable=SC2016
	in_sandbox 120 sh -c 'wine "$@"; s=$?; wineserver -w; exit $s' sh "$@" </dev/null >>"$work/wine.log" 2>&1
}
# Until the server that a link's run started from the host has ended.
server_ended() { in_sandbox 60 wineserver -w </dev/null >>"$work/wine.log" 2>&1 || true; }
setup() { sandboxed 'C:\setup\quarrion_shell_setup.exe' /S /CurrentUser; }
registrar() {
	# shellcheck disable=SC2016
	in_sandbox 120 sh -c 'wine "$@"; s=$?; wineserver -w; exit $s' sh 'C:\setup\quarrion_desktop.exe' "$@" \
		</dev/null >"$work/said" 2>>"$work/wine.log"
}
# In place (_?=, through cmd), so that its exit status comes back.
uninstall() { # [PREFIX]
	in_prefix=${1:-$prefix}
	folder=$(find "$in_prefix/drive_c/users" -path "*/Tabrix/Quarrion Shell" -type d | head -n 1)
	if [ -z "$folder" ] || [ ! -f "$folder/uninstall.exe" ]; then
		in_prefix=""
		return 200
	fi
	cp "$folder/uninstall.exe" "$in_prefix/drive_c/u.exe"
	status=0
	sandboxed cmd /c "C:\\u.exe /S _?=C:$(printf '%s' "${folder#"$in_prefix/drive_c"}" | tr / '\\')" || status=$?
	rm -f "$in_prefix/drive_c/u.exe"
	in_prefix=""
	return $status
}
# Quits the launcher as the docs say, and waits until no run of it is left.
quit_launcher() {
	for pid in $background; do kill "$pid" 2>/dev/null || true; done
	background=""
	timeout 30 flatpak kill "$app" >/dev/null 2>&1 || true
	wait_until 30 sh -c "! flatpak ps --columns=application | grep -qx '$app'" || fail "the launcher's runs did not end"
}
# A Wine program that keeps a run of the launcher, and so its Wine server, alive.
long_lived() {
	flatpak run --command=wine --env=WINEPREFIX="$prefix" "$app" cmd /c "ping -n 600 127.0.0.1" \
		</dev/null >>"$work/wine.log" 2>&1 &
	background="$background $!"
	wait_until 60 sh -c "flatpak ps --columns=application | grep -qx '$app'" || fail "the long-lived run did not start"
	sleep 3 # its server up
}
host_data() { echo "${XDG_DATA_HOME:-$HOME/.local/share}"; }
host_config() { echo "${XDG_CONFIG_HOME:-$HOME/.config}"; }
host_folders() { snapshot "$(host_data)" "$(host_config)"; }
default_handler() { xdg-mime query default x-scheme-handler/quarrion 2>/dev/null || true; }
ours() { find "$(host_data)/applications" -name 'quarrion-shell-*-currentuser.desktop' -printf '%f\n' 2>/dev/null | head -n 1; }
# Nothing of ours on the host's folders, nor in the sandbox's own (the prefix aside).
nothing_anywhere() {
	[ "$(host_folders)" = "$1" ] || fail "the host's folders changed: $(host_folders)"
	left=$(find "$HOME" -path "$own/data/prefix*" -prune -o \( -name 'quarrion-shell*' -o -name mimeapps.list -o -name '*.desktop' \) -print |
		grep -v "^$HOME/.config/mimeapps.list$" || true)
	[ -z "$left" ] || fail "registered in the sandbox: $left"
}
linux_log() { find "$prefix/drive_c/users" -name quarrion_shell_linux.log 2>/dev/null | head -n 1; }
game_line() { iconv -f UTF-16LE -t UTF-8 "$record" | tr '\0' '\n' | head -n 1; }
wait_for_game() {
	wait_until 60 test -s "$record" || fail "$1: the game was not started"
	sleep 0.1 # its record is written at once, then closed
}

# The grant, as the registrar words it when nothing is granted; learnt once.
learn_grant() {
	[ ! -s "$work/grant" ] || return 0
	flatpak override --user --reset "$app"
	quit_launcher
	status=0
	registrar register CurrentUser 'C:\nowhere' 'C:\nowhere.png' || status=$?
	[ $status -ne 0 ] || fail "not granted: the registrar registered"
	tr -d '\r' <"$work/said" | sed -n 's/^  \(flatpak override --user .*\)$/\1/p' | head -n 1 >"$work/grant"
	grep -q " $app\$" "$work/grant" || fail "not granted: no grant command for $app in: $(cat "$work/said")"
}
# As the player would: the command pasted into a shell on the host; then the launcher quit.
grant() {
	learn_grant
	sh -c "$(cat "$work/grant")" || fail "the grant failed: $(cat "$work/grant")"
	quit_launcher
}
not_granted() {
	flatpak override --user --reset "$app"
	quit_launcher
}
# Setup granted, checked on the host.
granted_setup() {
	status=0
	setup || status=$?
	[ $status -eq 0 ] || fail "$1: setup exited with $status"
	[ -n "$(ours)" ] || fail "$1: no entry in $(host_data)/applications"
	[ "$(default_handler)" = "$(ours)" ] || fail "$1: xdg-mime answers '$(default_handler)'"
}
# The uninstall, and the host as before.
uninstalled() { # ROW BEFORE
	status=0
	uninstall || status=$?
	[ $status -eq 0 ] || fail "$1: the uninstall exited with $status"
	[ "$(host_folders)" = "$2" ] || fail "$1: the host's folders are not as before: $(host_folders)"
}

# Nothing granted from an earlier check, and no run of the launcher left.
flatpak override --user --reset "$app"
timeout 30 flatpak kill "$app" >/dev/null 2>&1 || true

# The prefix, made in the sandbox, with no display nor menu builder; the stand-in game installed.
echo "$check: making the prefix in the launcher's sandbox"
prefix_start=$(date +%s)
make_prefix() { # PREFIX
	mkdir -p "$1"
	in_prefix=$1
	timeout 300 flatpak run --command=wineboot --env=WINEPREFIX="$1" \
		--env=WINEDLLOVERRIDES='mscoree=;mshtml=;winemenubuilder.exe=d' "$app" -i </dev/null >>"$work/wine.log" 2>&1 ||
		fail "wineboot failed in $1"
	for value in 'HKCU\Software\Wine\DllOverrides|winemenubuilder.exe|' 'HKCU\Software\Wine\Drivers|Graphics|null'; do
		in_sandbox 60 wine reg add "${value%%|*}" /v "$(echo "$value" | cut -d'|' -f2)" \
			/d "${value##*|}" /f </dev/null >>"$work/wine.log" 2>&1 || fail "reg add failed in $1"
	done
	in_sandbox 60 wine reg add 'HKLM\Software\Dunmarch\Quarrion' /v InstallPath /d "$game" /f /reg:32 \
		</dev/null >>"$work/wine.log" 2>&1 || fail "reg add failed in $1"
	# wineboot started the desktop with the default driver; a new session picks up null.
	in_sandbox 60 wineserver -k </dev/null >>"$work/wine.log" 2>&1 || true
	in_sandbox 60 wineserver -w </dev/null >>"$work/wine.log" 2>&1 || true
	mkdir -p "$1/drive_c/Games/Quarrion" "$1/drive_c/setup"
	cp "$bin/stand_in_game.exe" "$1/drive_c/Games/Quarrion/quarrion.exe"
	cp "$bin/quarrion_shell_setup.exe" "$bin/quarrion_desktop.exe" "$1/drive_c/setup/"
	in_prefix=""
}
make_prefix "$prefix"
quit_launcher
echo "    the prefix in $prefix ($(seconds "$prefix_start") s)"

# a. Not granted: 1155, nothing anywhere, and the message names the command that grants it,
# which is then run as the player would.
row_not_granted() {
	not_granted
	before=$(host_folders)
	status=0
	setup || status=$?
	[ $status -eq $((1155 % 256)) ] || fail "setup exited with $status, not 1155 % 256"
	nothing_anywhere "$before"
	setup_status=$status
	rm -f "$work/grant"
	learn_grant
	nothing_anywhere "$before"
	echo "    setup: 1155 (status $setup_status), nothing registered; the registrar says: $(cat "$work/grant")"
	grant
}

# b. Granted as the message said, the launcher quit: the host's own folders hold the entry and the
# default, and xdg-open and gio open on the host reach the game with exactly the link's fields.
row_granted() {
	grant
	snapshot_before=$(host_folders)
	printf '%s\n' "$snapshot_before" >"$work/journey-before"
	granted_setup granted
	entry="$(host_data)/applications/$(ours)"
	desktop-file-validate "$entry" || fail "desktop-file-validate refused $entry"
	gio mime x-scheme-handler/quarrion 2>/dev/null | grep -q "Default application.*$(ours)" ||
		fail "gio mime says: $(gio mime x-scheme-handler/quarrion 2>&1)"
	echo "    setup: 0; $(ours): $(grep ^Exec= "$entry")"
	for opener in xdg-open "gio open"; do
		rm -f "$record"
		opened=$(ms)
		# shellcheck disable=SC2086
		timeout 60 $opener "$link" >>"$work/open.log" 2>&1 || fail "$opener failed"
		wait_for_game "$opener"
		took=$(($(ms) - opened))
		[ "$(game_line)" = "$expected" ] || fail "$opener: the game got $(game_line)"
		server_ended
		echo "    $opener on the host -> flatpak run -> the game, $took ms: $(game_line)"
	done
	[ -z "$(find "$work" "$root" -maxdepth 3 -name pwned)" ] || fail "a hostile link ran a command on the Linux side"
}

# c. The uninstall, in the sandbox: 0, and the host's folders byte for byte as before setup.
row_uninstall() {
	if [ -s "$work/journey-before" ] && [ -n "$(ours)" ]; then
		before=$(cat "$work/journey-before")
	else
		grant
		before=$(host_folders)
		granted_setup uninstall
	fi
	uninstalled uninstall "$before"
	echo "    the uninstall: 0; the host's folders as before setup"
}

# The player's session sets no XDG_*: Flatpak then sets no HOST_XDG_*, and the host's folders are
# ~/.local/share and ~/.config.
row_no_xdg() {
	unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME
	grant
	before=$(host_folders)
	granted_setup "no XDG_*"
	rm -f "$record"
	timeout 60 xdg-open "$link" >>"$work/open.log" 2>&1 || fail "xdg-open failed"
	wait_for_game "no XDG_*"
	[ "$(game_line)" = "$expected" ] || fail "the game got $(game_line)"
	server_ended
	uninstalled "no XDG_*" "$before"
	echo "    without XDG_*: setup registers in ~/.local/share and ~/.config, xdg-open reaches the game, the uninstall leaves them as they were"
}

# f. A silent setup that failed leaves its reason where a player can find it.
row_log() {
	not_granted
	find "$prefix/drive_c/users" -name quarrion_shell_linux.log -delete 2>/dev/null || true
	status=0
	setup || status=$?
	[ $status -eq $((1155 % 256)) ] || fail "setup exited with $status"
	log=$(linux_log)
	[ -n "$log" ] || fail "no quarrion_shell_linux.log in the prefix's Windows temp folder"
	grep -q "flatpak override --user .* $app" "$log" || fail "$log does not name the grant: $(cat "$log")"
	echo "    ${log#"$prefix/"} holds the reason and the grant"
}

# d. A Wine server started before the grant (a game, or the launcher's own) outlives it: setup in
# a new run must not call the launcher ungranted, and must register or say to quit it, within 90 s.
row_earlier_server() {
	learn_grant
	not_granted
	long_lived
	sh -c "$(cat "$work/grant")"
	before=$(host_folders)
	find "$prefix/drive_c/users" -name quarrion_shell_linux.log -delete 2>/dev/null || true
	began=$(date +%s)
	status=0
	timeout 90 flatpak run --command=wine --env=WINEPREFIX="$prefix" "$app" 'C:\setup\quarrion_shell_setup.exe' /S /CurrentUser \
		</dev/null >>"$work/wine.log" 2>&1 || status=$?
	took=$(seconds "$began")
	log=$(linux_log)
	said=$(cat "$log" 2>/dev/null || true)
	echo "    with the earlier run's server: setup exited with $status after $took s; it said: $(echo "$said" | tr '\r\n' '  ')"
	[ $status -ne 124 ] || fail "setup did not end within 90 s"
	! echo "$said" | grep -q "flatpak override" || fail "setup said it was not granted"
	case $status in
	0) [ -n "$(ours)" ] || fail "setup exited with 0, but no entry on the host"
		[ "$(default_handler)" = "$(ours)" ] || fail "setup exited with 0, but the host's xdg-mime answers '$(default_handler)'" ;;
	131) echo "$said" | grep -q "flatpak kill $app" || fail "1155 without naming flatpak kill $app" ;;
	*) fail "setup exited with $status" ;;
	esac
	quit_launcher
	granted_setup "after flatpak kill"
	uninstalled "after flatpak kill" "$before"
	echo "    once the earlier run was killed: setup 0, the uninstall leaves the host as before"
}

# e. A single granted file replaced on the host by rename (as xdg-mime and GLib write it) while the
# launcher's run goes on: the run still sees the old file. Setup in that run must not say 0
# unless the host's own file names our entry.
row_stale_file() {
	grant
	original="$(host_config)/mimeapps.list"
	cp "$original" "$work/mimeapps.list.kept"
	long_lived
	{
		cat "$original"
		printf 'text/plain=other.desktop;\n'
	} >"$original.new"
	mv "$original.new" "$original"
	instance=$(flatpak ps --columns=instance,application | awk -v app="$app" '$2 == app { print $1; exit }')
	[ -n "$instance" ] || fail "no running instance of $app"
	# flatpak enter gives neither the run's environment nor the command's exit status: both by hand,
	# as flatpak run sets them, and the status through a file in the app's folder.
	rm -f "$own/data/status"
	# shellcheck disable=SC2016
	timeout 120 flatpak enter "$instance" env PATH=/app/bin:/usr/bin FLATPAK_ID="$app" WINEPREFIX="$prefix" WINEDEBUG=-all \
		HOME="$HOME" XDG_DATA_HOME="$own/data" XDG_CONFIG_HOME="$own/config" XDG_CACHE_HOME="$own/cache" \
		HOST_XDG_DATA_HOME="$XDG_DATA_HOME" HOST_XDG_CONFIG_HOME="$XDG_CONFIG_HOME" HOST_XDG_CACHE_HOME="$XDG_CACHE_HOME" \
		sh -c 'wine "$@"; echo $? >"$XDG_DATA_HOME/status"' sh 'C:\setup\quarrion_shell_setup.exe' /S /CurrentUser \
		</dev/null >>"$work/wine.log" 2>&1 || true
	status=$(cat "$own/data/status" 2>/dev/null || echo "none (timed out)")
	echo "    setup in the running instance $instance exited with $status; the host's xdg-mime answers '$(default_handler)'"
	quit_launcher
	# The player's list, which the sandbox only reads, is the file it found at its start: said.
	grep -qF "$original was replaced on the host after $app started" "$(linux_log)" ||
		fail "the stale view of $original was not said: $(cat "$(linux_log)")"
	if [ "$status" = 0 ]; then
		[ -n "$(ours)" ] || fail "setup said 0, but no entry on the host"
		[ "$(default_handler)" = "$(ours)" ] || fail "setup said 0, but the host's mimeapps.list does not name our entry: $(cat "$original")"
	fi
	uninstall || true
	# The player's file as it was before this row.
	cp "$work/mimeapps.list.kept" "$original.new"
	mv "$original.new" "$original"
}

# g. The Wine server killed right after setup, before it saved the registry: the uninstall, or
# setup again and the uninstall, must leave the host as before.
row_registry_lost() {
	grant
	before=$(host_folders)
	granted_setup "registry lost"
	timeout 30 flatpak kill "$app" >/dev/null 2>&1 || true
	quit_launcher
	status=0
	uninstall || status=$?
	if [ $status -eq 200 ]; then
		echo "    the uninstaller was lost with the registry; setup again, then the uninstall"
		granted_setup "registry lost, setup again"
		uninstalled "registry lost, uninstall" "$before"
	else
		[ $status -eq 0 ] || fail "the uninstall exited with $status"
		[ "$(host_folders)" = "$before" ] || fail "the host's folders are not as before: $(host_folders)"
	fi
	handler=$(default_handler)
	case $handler in quarrion-shell-*) fail "our entry $handler is still first on the handler line" ;; esac
	echo "    killed after setup; the uninstall leaves the host as before"
}

# h. The launcher's runner replaced (a runner update): the entry's wine link leads nowhere. A setup
# in another prefix prunes the dead entry (the runners' folder still holds the new one, unlike a
# disk that is not mounted). The runner is a copy of the runtime's Wine in the
# launcher's own data folder, as launchers keep their runners.
row_runner_removed() {
	grant
	before=$(host_folders)
	runner="$own/data/runners/wine-a"
	files="$FLATPAK_USER_DIR/runtime/org.quarrion.TestPlatform/x86_64/test/active/files"
	mkdir -p "$runner/lib" "$runner/share"
	cp -al "$files/lib/wine" "$files/lib/x86_64-linux-gnu" "$files/lib/i386-linux-gnu" "$runner/lib/" 2>/dev/null ||
		cp -a "$files/lib/wine" "$runner/lib/"
	cp -al "$files/share/wine" "$runner/share/" 2>/dev/null || cp -a "$files/share/wine" "$runner/share/"
	status=0
	in_sandbox 120 "$runner/lib/wine/wine" 'C:\setup\quarrion_shell_setup.exe' /S /CurrentUser </dev/null >>"$work/wine.log" 2>&1 || status=$?
	[ $status -eq 0 ] || fail "setup with the runner exited with $status"
	dead=$(ours)
	[ -n "$dead" ] || fail "setup with the runner registered nothing"
	wine_link=$(find "$own/data/quarrion-shell" -name wine -type l | head -n 1)
	echo "    setup with the runner: 0; $dead; its wine link: $(readlink "$wine_link" 2>/dev/null || echo none)"
	quit_launcher
	# The update: the new runner in, the old one out.
	mkdir -p "$own/data/runners/wine-b"
	rm -rf "$runner"
	second="$own/data/prefix2"
	[ -d "$second/drive_c" ] || make_prefix "$second"
	quit_launcher
	status=0
	in_prefix=$second
	sandboxed 'C:\setup\quarrion_shell_setup.exe' /S /CurrentUser || status=$?
	in_prefix=""
	[ $status -eq 0 ] || fail "setup in another prefix exited with $status"
	[ ! -e "$(host_data)/applications/$dead" ] || fail "the dead entry $dead is still there"
	! grep -q "$dead" "$(host_config)/mimeapps.list" "$(host_data)/applications/mimeapps.list" 2>/dev/null ||
		fail "the dead entry $dead is still named in mimeapps.list"
	echo "    setup in another prefix pruned $dead"
	uninstall "$second" || true
	quit_launcher
}

# A link opened on the host, and at once the uninstall from the launcher: the link's run has
# started the server the uninstall joins. It ends within its bound, either done (0, the host as
# before) or refused with 1155 naming flatpak kill, and then done once the launcher is quit.
row_link_then_uninstall() {
	grant
	before=$(host_folders)
	granted_setup link-then-uninstall
	rm -f "$record"
	timeout 60 xdg-open "$link" >>"$work/open.log" 2>&1 || fail "xdg-open failed"
	wait_for_game "xdg-open"
	began=$(ms)
	status=0
	uninstall || status=$?
	echo "    the uninstall at once after a link: $status, $(($(ms) - began)) ms"
	case $status in
	0) ;;
	131) grep -q "flatpak kill $app" "$(linux_log)" || fail "1155 without naming flatpak kill: $(cat "$(linux_log)")"
		quit_launcher
		uninstalled "link-then-uninstall, again" "$before" ;;
	*) fail "the uninstall at once after a link exited with $status" ;;
	esac
	[ "$(host_folders)" = "$before" ] || fail "the host's folders are not as before: $(host_folders)"
}

# A link clicked right after setup, while setup's Wine server lingers: the link's run joins it.
row_link_after_setup() {
	grant
	before=$(host_folders)
	status=0
	in_sandbox 120 wine 'C:\setup\quarrion_shell_setup.exe' /S /CurrentUser </dev/null >>"$work/wine.log" 2>&1 || status=$?
	[ $status -eq 0 ] || fail "setup exited with $status"
	rm -f "$record"
	opened=$(ms)
	timeout 60 xdg-open "$link" >>"$work/open.log" 2>&1 || fail "xdg-open failed"
	wait_for_game "a link right after setup"
	[ "$(game_line)" = "$expected" ] || fail "the game got $(game_line)"
	echo "    a link right after setup, its server still there: the game in $(($(ms) - opened)) ms"
	server_ended
	quit_launcher
	uninstalled link-after-setup "$before"
}

# The player's own default in ~/.config/mimeapps.list, which desktops read before the list in
# the folder of entries: setup registers, and says in the log which program links open.
row_shadowed() {
	grant
	original="$(host_config)/mimeapps.list"
	cp "$original" "$work/mimeapps.list.kept"
	printf '[Default Applications]\nx-scheme-handler/quarrion=other.desktop;\n' >"$original"
	printf '[Desktop Entry]\nType=Application\nName=Other\nExec=true %%u\n' >"$(host_data)/applications/other.desktop"
	before=$(host_folders)
	status=0
	setup || status=$?
	[ $status -eq 0 ] || fail "setup exited with $status"
	grep -qF "quarrion:// links open other.desktop, not this program: $original" "$(linux_log)" ||
		fail "the log does not say so: $(cat "$(linux_log)")"
	[ "$(default_handler)" = other.desktop ] || fail "xdg-mime answers '$(default_handler)'"
	uninstalled shadowed "$before"
	cp "$work/mimeapps.list.kept" "$original"
	rm "$(host_data)/applications/other.desktop"
	echo "    the player's default first: registered, said in the log; the uninstall leaves it"
}

# One prefix, setup in the sandbox and under the host's Wine: one registration, which either
# uninstall takes away whole.
row_host_and_sandbox() {
	grant
	before=$(host_folders)
	granted_setup host-and-sandbox
	quit_launcher
	WINEPREFIX="$prefix" WINEDEBUG=-all timeout 120 wine "$prefix/drive_c/setup/quarrion_shell_setup.exe" /S /CurrentUser \
		</dev/null >>"$work/wine.log" 2>&1 || fail "setup on the host failed: $(cat "$(linux_log)")"
	WINEPREFIX="$prefix" wineserver -w
	[ "$(find "$(host_data)/applications" -name 'quarrion-shell-*.desktop' | wc -l)" = 1 ] ||
		fail "two entries: $(ls "$(host_data)/applications")"
	[ "$(default_handler)" = "$(ours)" ] || fail "xdg-mime answers '$(default_handler)'"
	[ ! -e "$(host_data)/quarrion-shell" ] || fail "the host keeps a record of its own: $(ls -R "$(host_data)/quarrion-shell")"
	uninstalled host-and-sandbox "$before"
	echo "    setup in the sandbox, then on the host: one registration; the uninstall takes it away"
}

# The uninstall under the host's Wine, in place, for its exit status.
host_uninstall() {
	folder=$(find "$prefix/drive_c/users" -path "*/Tabrix/Quarrion Shell" -type d | head -n 1)
	cp "$folder/uninstall.exe" "$prefix/drive_c/u.exe"
	status=0
	WINEPREFIX="$prefix" WINEDEBUG=-all timeout 120 wine cmd /c \
		"C:\\u.exe /S _?=C:$(printf '%s' "${folder#"$prefix/drive_c"}" | tr / '\\')" </dev/null >>"$work/wine.log" 2>&1 || status=$?
	WINEPREFIX="$prefix" wineserver -w
	rm -f "$prefix/drive_c/u.exe"
	[ $status -eq 0 ] || fail "the uninstall on the host exited with $status: $(cat "$(linux_log)")"
}
# Setup under the host's Wine, as for any prefix.
host_setup() {
	WINEPREFIX="$prefix" WINEDEBUG=-all timeout 120 wine "$prefix/drive_c/setup/quarrion_shell_setup.exe" /S /CurrentUser \
		</dev/null >>"$work/wine.log" 2>&1 || fail "setup on the host failed: $(cat "$(linux_log)")"
	WINEPREFIX="$prefix" wineserver -w
}

# A launcher's prefix that an earlier version registered from the host, in the host's own folders
# (made here by a home that does not hold the prefix): setup again on the host keeps it there,
# and the uninstall takes it all away.
row_earlier_host_layout() {
	grant
	quit_launcher
	before=$(host_folders)
	mkdir -p "$work/elsewhere"
	HOME="$work/elsewhere" host_setup
	[ -d "$(host_data)/quarrion-shell" ] || fail "no registration in the host's folders to start from"
	host_setup
	[ "$(find "$(host_data)/applications" -name 'quarrion-shell-*.desktop' | wc -l)" = 1 ] ||
		fail "two entries: $(ls "$(host_data)/applications")"
	[ "$(default_handler)" = "$(ours)" ] || fail "xdg-mime answers '$(default_handler)'"
	# The launcher's uninstall cannot reach those files: it keeps everything and says how.
	status=0
	uninstall || status=$?
	[ $status -eq 131 ] && grep -qF "uninstall with the host's Wine" "$(linux_log)" ||
		fail "the uninstall in the sandbox: $status, $(cat "$(linux_log)")"
	host_uninstall
	[ "$(host_folders)" = "$before" ] || fail "the host's folders are not as before: $(host_folders)"
	echo "    registered by an earlier version from the host: kept there by setup again; the launcher's uninstall says to use the host's Wine, which takes it away"
}

# ~/.var moved to another disk and linked back (a Steam Deck's card): setup in the sandbox and on
# the host make one registration of the prefix.
row_moved_var() {
	grant
	quit_launcher
	before=$(host_folders)
	mkdir -p "$work/card"
	mv "$HOME/.var" "$work/card/.var"
	ln -s "$work/card/.var" "$HOME/.var"
	trap 'rm -f "$HOME/.var"; mv "$work/card/.var" "$HOME/.var"' EXIT
	granted_setup moved-var
	quit_launcher
	host_setup
	[ "$(find "$(host_data)/applications" -name 'quarrion-shell-*.desktop' | wc -l)" = 1 ] ||
		fail "two entries: $(ls "$(host_data)/applications")"
	[ ! -e "$(host_data)/quarrion-shell" ] || fail "the host keeps a record of its own"
	uninstalled moved-var "$before"
	echo "    ~/.var on another disk: one registration from the sandbox and the host; the uninstall takes it away"
}

rows="not-granted granted uninstall no-xdg log earlier-server stale-file registry-lost runner-removed
	link-after-setup link-then-uninstall shadowed host-and-sandbox earlier-host-layout moved-var"
failed=""
for row in $rows; do
	[ -z "$only" ] || [ "$only" = "$row" ] || continue
	began=$(date +%s)
	echo "$check: $row"
	status=0
	(row_"$(echo "$row" | tr - _)") || status=$?
	if [ "$status" = 0 ]; then
		echo "$check: $row: passed ($(seconds "$began") s)"
	else
		echo "$check: $row: FAILED ($(seconds "$began") s)"
		failed="$failed $row"
	fi
	( quit_launcher ) || true
done
if [ -n "$failed" ]; then
	echo "$check: FAILED:$failed ($(seconds "$start") s)" >&2
	exit 1
fi
echo "$check: real Flatpak: every row passed ($(seconds "$start") s)"
