#!/bin/sh
# Usage: check-linux-desktop.sh WINEPREFIX BIN
# A player who runs the game under Wine opens quarrion:// links in Linux programs. In a throwaway
# HOME and XDG folders (never the real ones), with the private prefix reached through a path that
# holds a blank, setup runs silently and registers with the Linux desktop; then xdg-open without
# a desktop environment, GIO and Firefox under Xvfb each open a link, and the stand-in game must
# get exactly the link's fields, while hostile links run nothing on the Linux side; the uninstall
# takes it all back and leaves every other line of mimeapps.list as it was.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
real_prefix=$1
bin=$(cd "$2" && pwd)
"$root/tests/wine/prefix.sh" "$real_prefix"
[ -f "$real_prefix/.quarrion-private-prefix-2" ] || { echo "not the tests' private prefix: $real_prefix" >&2; exit 1; }
work=$(mktemp -d)
xvfb=""
cleanup() {
	[ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
	rm -rf "$work"
}
trap cleanup EXIT
fail() {
	echo "check-linux-desktop: FAILED: $*" >&2
	exit 1
}
seconds() { echo $(($(date +%s) - $1)); }
start=$(date +%s)

export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
export XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$work/My Games"
chmod 700 "$XDG_RUNTIME_DIR"
# No desktop environment: xdg-open then reads the entry itself, as on a bare window manager.
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION GNOME_DESKTOP_SESSION_ID KDE_FULL_SESSION BROWSER MOZ_HEADLESS
ln -s "$real_prefix" "$work/My Games/quarrion"
export WINEPREFIX="$work/My Games/quarrion" WINEDEBUG=-all
unset WINEARCH
# Wine's services inherit the output of what starts them: files, never a pipe.
wine_run() { wine "$@" </dev/null >>"$work/wine.log" 2>&1; }

game='C:\Games\Quarrion\quarrion.exe'
mkdir -p "$WINEPREFIX/drive_c/Games/Quarrion"
cp "$bin/stand_in_game.exe" "$WINEPREFIX/drive_c/Games/Quarrion/quarrion.exe"
wine_run reg add 'HKLM\Software\Dunmarch\Quarrion' /v InstallPath /d "$game" /f /reg:32
export QUARRION_STANDIN_RECORD='C:\linux-desktop-record.bin'
record="$WINEPREFIX/drive_c/linux-desktop-record.bin"

seed='[Default Applications]
text/html=firefox-esr.desktop;

[Added Associations]
x-scheme-handler/quarrion=another-handler.desktop;
'
printf '%s' "$seed" >"$work/mimeapps.seed"
cp "$work/mimeapps.seed" "$XDG_CONFIG_HOME/mimeapps.list"

# Both modes: each copy has an entry of its own; the last one installed is the default.
for mode in AllUsers CurrentUser; do
	wine_run "$bin/quarrion_shell_setup.exe" /S /$mode || fail "setup /S /$mode failed"
done
entry=$(xdg-mime query default x-scheme-handler/quarrion)
case $entry in
quarrion-shell-quarrion-*-currentuser.desktop) ;;
*) fail "the default handler of quarrion:// is '$entry'" ;;
esac
everyone=$(cd "$XDG_DATA_HOME/applications" && echo quarrion-shell-quarrion-*-allusers.desktop)
for file in "$entry" "$everyone"; do
	desktop-file-validate "$XDG_DATA_HOME/applications/$file" || fail "desktop-file-validate refused $file"
done
echo "check-linux-desktop: setup registered $everyone and $entry, the default ($(seconds "$start") s)"

# The first line of what the stand-in game recorded: its command line.
game_line() { iconv -f UTF-16LE -t UTF-8 "$record" | tr '\0' '\n' | head -n 1; }
wait_for_game() {
	waited=0
	while [ ! -s "$record" ] && [ $waited -lt 60 ]; do
		sleep 0.25
		waited=$((waited + 1))
	done
	[ -s "$record" ] || fail "$1: the game was not started"
	sleep 0.1 # its record is written at once, then closed
}
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
DISPLAY=:$(head -n 1 <"$work/display")
export DISPLAY

# Each row: how the link is opened, the link, and the options the game must receive. The hostile
# ones would create a file in some folder if any shell read them.
cd "$work"
while IFS='|' read -r how link options; do
	rm -f "$record"
	$how "$link" >>"$work/open.log" 2>&1 || fail "$how $link"
	wait_for_game "$how $link"
	[ "$(game_line)" = "$game$options" ] || fail "$how $link: the game got $(game_line)"
	echo "    $how $link -> $(game_line)"
done <<'ROWS'
xdg-open|quarrion://127.0.0.1:27960/secret| +connect 127.0.0.1:27960 +pass secret
gio open|quarrion://play.example.net:27960| +connect play.example.net:27960
xdg-open|quarrion://h/$(cd&&touch${IFS}pwned)| +connect h +pass $(cd&&touch${IFS}pwned)
gio open|quarrion://h/'`cd&&touch${IFS}pwned`'| +connect h +pass '`cd&&touch${IFS}pwned`'
ROWS
cd "$root"
if find "$work" -name pwned | grep -q .; then fail "a hostile link ran a command on the Linux side"; fi
echo "check-linux-desktop: xdg-open and GIO start the game with the link's fields, and hostile links run nothing ($(seconds "$start") s)"

# Firefox, as a player clicks a link on a server list: a throwaway profile lets the scheme open
# without asking, and the link covers the whole page.
profile="$work/firefox"
mkdir "$profile"
cat >"$profile/user.js" <<'PREFS'
user_pref("network.protocol-handler.external.quarrion", true);
user_pref("network.protocol-handler.warn-external.quarrion", false);
user_pref("network.protocol-handler.expose.quarrion", false);
user_pref("security.external_protocol_requires_permission", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
PREFS
cat >"$work/servers.html" <<'PAGE'
<!DOCTYPE html>
<title>Quarrion servers</title>
<a href="quarrion://192.0.2.7:27960/hunter2" style="position:fixed;inset:0;background:#ccc">Join</a>
PAGE
rm -f "$record"
firefox-esr --no-remote --new-instance --profile "$profile" "file://$work/servers.html" \
	>"$work/firefox.log" 2>&1 &
firefox=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --name 'Quarrion servers' | head -n 1) ||
	{ kill "$firefox"; fail "Firefox did not show the page"; }
clicks=0
while [ ! -s "$record" ] && [ $clicks -lt 20 ]; do
	xdotool mousemove --window "$window" 200 200 click 1
	clicks=$((clicks + 1))
	sleep 0.5
done
kill "$firefox" 2>/dev/null || true
wait "$firefox" 2>/dev/null || true
wait_for_game "Firefox"
[ "$(game_line)" = "$game +connect 192.0.2.7:27960 +pass hunter2" ] || fail "Firefox: the game got $(game_line)"
echo "    Firefox, a click on quarrion://192.0.2.7:27960/hunter2 -> $(game_line)"
echo "check-linux-desktop: a click in Firefox starts the game with the link's fields ($(seconds "$start") s)"

# As from Apps: an uninstaller hands over to a copy of itself and returns; the copy removes the
# folder. The one for one user goes first: its entry and the default go, the other entry stays.
uninstall() {
	uninstaller=$(find "$WINEPREFIX/drive_c/" -path "*/drive_c/$1/*Tabrix/Quarrion Shell/uninstall.exe" | head -n 1)
	[ -n "$uninstaller" ] || fail "no uninstaller under $1"
	wine_run "$uninstaller" /S
	waited=0
	while [ -e "$uninstaller" ] && [ $waited -lt 120 ]; do
		sleep 0.25
		waited=$((waited + 1))
	done
	[ ! -e "$XDG_DATA_HOME/applications/$2" ] || fail "the uninstall left $2"
}
uninstall users "$entry"
[ -e "$XDG_DATA_HOME/applications/$everyone" ] || fail "removing one user's copy removed $everyone"
cmp -s "$XDG_CONFIG_HOME/mimeapps.list" "$work/mimeapps.seed" ||
	fail "the uninstall left mimeapps.list as: $(cat "$XDG_CONFIG_HOME/mimeapps.list")"
uninstall "Program Files*" "$everyone"
[ ! -e "$XDG_DATA_HOME/quarrion-shell" ] || fail "the uninstall left $XDG_DATA_HOME/quarrion-shell"
# A Linux desktop that cannot be written: the Windows side installs, and setup says the links
# of Linux programs will not work (1155, which a Linux shell sees modulo 256) instead of 0.
touch "$work/not-a-folder"
status=0
XDG_DATA_HOME="$work/not-a-folder/data" wine_run "$bin/quarrion_shell_setup.exe" /S /CurrentUser || status=$?
[ $status -eq $((1155 % 256)) ] || fail "setup exited with $status when the Linux desktop could not be written"
uninstall users "$entry"

rm -f "$record"
wine_run reg delete 'HKLM\Software\Dunmarch\Quarrion' /f /reg:32 || true
echo "check-linux-desktop: each uninstall removed its entry, and the default while it named it, and kept the rest ($(seconds "$start") s)"
