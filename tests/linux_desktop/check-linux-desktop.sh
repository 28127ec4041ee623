#!/bin/sh
# Usage: check-linux-desktop.sh WINEPREFIX BIN
# A player who runs the game under Wine opens quarrion:// links in Linux programs. In a throwaway
# HOME and XDG folders (never the real ones), with the private prefix reached through a path that
# holds a blank, setup runs silently and registers with the Linux desktop; then xdg-open without
# a desktop environment, GIO, KDE's opener, Firefox and Chromium under Xvfb each open a link, and
# the stand-in game must get exactly the link's fields, while hostile links run nothing on the
# Linux side; every printable character goes through every road, and docs/links.md must show what
# arrived; the uninstall,
# under the prefix's real path, takes it all back and leaves mimeapps.list, a dotfile manager's
# link to the player's own copy, as it was. Then what is in the player's way (links, read-only
# and full files, unusual folder names) must be refused, or work, without touching their files.
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
	! mountpoint -q "$work/full" || umount "$work/full"
	rm -rf "$work"
}
trap cleanup EXIT
check=check-linux-desktop
. "$root/tests/lib/checks.sh"
start=$(date +%s)

export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
export XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$work/My Games"
chmod 700 "$XDG_RUNTIME_DIR"
# No desktop environment: xdg-open then reads the entry itself, as on a bare window manager.
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION GNOME_DESKTOP_SESSION_ID KDE_FULL_SESSION BROWSER MOZ_HEADLESS
# Nor the session bus of whoever runs the check: each opener finds none, or one of our own.
unset DBUS_SESSION_BUS_ADDRESS
ln -s "$real_prefix" "$work/My Games/quarrion"
export WINEPREFIX="$work/My Games/quarrion" WINEDEBUG=-all
unset WINEARCH
# Wine's services inherit the output of what starts them: files, never a pipe.
wine_run() { wine "$@" </dev/null >>"$work/wine.log" 2>&1; }
# A throwaway home of its own for each row: HOME, the data and the configuration folder.
new_home() {
	export HOME="$work/$1/home" XDG_DATA_HOME="$work/$1/data" XDG_CONFIG_HOME="$work/$1/config"
	mkdir -p "$HOME"
}
registered() { # the ids on the handler line, one a line; of another list than the usual when given
	sed -n 's/^x-scheme-handler\/quarrion=//p' "${1:-$XDG_CONFIG_HOME/mimeapps.list}" 2>/dev/null | tr ';' '\n' | grep . || true
}
# As from Apps: an uninstaller hands over to a copy of itself and returns; the copy removes the
# folder.
uninstall() {
	uninstaller=$(find "$WINEPREFIX/drive_c/" -path "*/drive_c/$1/*Tabrix/Quarrion Shell/uninstall.exe" | head -n 1)
	[ -n "$uninstaller" ] || fail "no uninstaller under $1"
	wine_run "$uninstaller" /S
	wait_until 30 test ! -e "$uninstaller" || fail "the uninstall of $1 did not end"
	[ -z "$2" ] || [ ! -e "$XDG_DATA_HOME/applications/$2" ] || fail "the uninstall left $2"
}

game='C:\Games\Quarrion\quarrion.exe'
mkdir -p "$WINEPREFIX/drive_c/Games/Quarrion"
cp "$bin/stand_in_game.exe" "$WINEPREFIX/drive_c/Games/Quarrion/quarrion.exe"
wine_run reg add 'HKLM\Software\Dunmarch\Quarrion' /v InstallPath /d "$game" /f /reg:32
export QUARRION_STANDIN_RECORD='C:\linux-desktop-record.bin'
record="$WINEPREFIX/drive_c/linux-desktop-record.bin"
# The first line of what the stand-in game recorded: its command line.
game_line() { iconv -f UTF-16LE -t UTF-8 "$record" | tr '\0' '\n' | head -n 1; }
wait_for_game() {
	wait_until 15 test -s "$record" || fail "$1: the game was not started"
	sleep 0.1 # its record is written at once, then closed
}

# Wine launchers installed as Flatpaks (Bottles, Lutris, Heroic; the Steam Deck): setup runs in the
# launcher's sandbox, whose XDG homes are its own (~/.var/app/<app>/), with the prefix there. A
# stand-in flatpak, first on PATH, makes that sandbox with bwrap for setup and for the host's
# link alike. Not granted: 1155, the command that grants it, nothing registered anywhere, and an
# uninstall with nothing to take away. Granted as the message says: a link opened on the host
# reaches the game through flatpak run; the uninstall leaves the host's folders as they were.
flatpak_rows() (
	app=org.example.WineLauncher
	new_home flatpak
	export FLATPAK_STAND_IN="$work/flatpak-apps" PATH="$root/tests/linux_desktop/stand-in:$PATH"
	inside="$HOME/.var/app/$app/data/prefix"
	record="$real_prefix/drive_c/linux-desktop-record.bin"
	mkdir -p "$FLATPAK_STAND_IN/$app" "$inside" "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME"
	printf '%s|%s\n' "$real_prefix" "$inside" "$bin" "$bin" >"$FLATPAK_STAND_IN/$app/binds"
	printf '[Default Applications]\ntext/html=firefox-esr.desktop;\n' >"$XDG_CONFIG_HOME/mimeapps.list"
	in_sandbox() {
		program=$1
		shift
		flatpak run --command="$program" --env=WINEPREFIX="$inside" "$app" "$@"
	}
	sandboxed() { in_sandbox wine "$@" </dev/null >>"$work/wine.log" 2>&1; }
	sandboxed_registrar() { in_sandbox wine "$bin/quarrion_desktop.exe" "$@" </dev/null >"$work/said" 2>>"$work/wine.log"; }
	# In place (_?=, through cmd), so that its exit status comes back.
	sandboxed_uninstall() {
		folder=$(find "$real_prefix/drive_c/users" -path "*/Tabrix/Quarrion Shell" -type d | head -n 1)
		[ -n "$folder" ] || fail "flatpak, $1: not installed"
		cp "$folder/uninstall.exe" "$real_prefix/drive_c/u.exe"
		status=0
		sandboxed cmd /c "C:\\u.exe /S _?=C:$(printf '%s' "${folder#"$real_prefix/drive_c"}" | tr / '\\')" || status=$?
		rm -f "$real_prefix/drive_c/u.exe"
		[ $status -eq 0 ] || fail "flatpak, $1: the uninstall exited with $status"
	}
	host_folders() { snapshot "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"; }
	nothing_anywhere() {
		[ "$(host_folders)" = "$before" ] || fail "flatpak, $1: the host's folders changed: $(host_folders)"
		[ -z "$(find "$HOME" -name '*quarrion*' -o -name mimeapps.list -o -name '*.desktop')" ] ||
			fail "flatpak, $1: registered in the sandbox: $(find "$HOME" -name '*quarrion*')"
	}
	# One Wine server for a prefix, or their registries overwrite each other: the sandbox has its
	# own, once the host's has saved the game's install path and ended.
	WINEPREFIX="$real_prefix" wineserver -k 2>/dev/null || true
	WINEPREFIX="$real_prefix" wineserver -w 2>/dev/null || true
	sandboxed reg add 'HKLM\Software\Dunmarch\Quarrion' /v InstallPath /d "$game" /f /reg:32
	before=$(host_folders)
	rows=$(date +%s)
	status=0
	sandboxed "$bin/quarrion_shell_setup.exe" /S /CurrentUser || status=$?
	[ $status -eq $((1155 % 256)) ] || fail "flatpak, not granted: setup exited with $status"
	nothing_anywhere "not granted"
	sandboxed_registrar register CurrentUser 'C:\nowhere' 'C:\nowhere.png' && fail "flatpak, not granted: the registrar registered"
	grant=$(tr -d '\r' <"$work/said" | sed -n 's/^  \(flatpak override --user .*\)$/\1/p')
	[ "$grant" = "flatpak override --user --filesystem=xdg-data/applications --filesystem=xdg-config/mimeapps.list:ro $app" ] &&
		grep -qi 'run setup again' "$work/said" || fail "flatpak, not granted: it said $(cat "$work/said")"
	# A silent setup shows nothing: the reason is in the log the docs name.
	log=$(find "$real_prefix/drive_c/users" -name quarrion_shell_linux.log | head -n 1)
	[ -n "$log" ] && grep -qF "  $grant" "$log" || fail "flatpak, not granted: the log ${log:-(none)} lacks the command"
	sandboxed_registrar unregister CurrentUser 'C:\nowhere' '' && grep -q 'nothing to take away' "$work/said" ||
		fail "flatpak, not granted: the uninstall said $(cat "$work/said")"
	sandboxed_uninstall "not granted"
	nothing_anywhere "not granted, uninstalled"
	echo "    flatpak, not granted: 1155, nothing registered anywhere; the uninstall has nothing to take away ($(seconds "$rows") s)"
	rows=$(date +%s)
	# Granted read-only, or granted with no folder of entries on the host to share: refused as well.
	printf 'xdg-data/applications:ro;xdg-config/mimeapps.list:ro;' >"$FLATPAK_STAND_IN/$app/filesystems"
	sandboxed_registrar register CurrentUser 'C:\nowhere' 'C:\nowhere.png' && fail "flatpak, read-only: registered"
	grep -qF "  $grant" "$work/said" || fail "flatpak, read-only: it said $(cat "$work/said")"
	: >"$FLATPAK_STAND_IN/$app/filesystems"
	# As the message says.
	# shellcheck disable=SC2086
	$grant || fail "flatpak, granting: $grant failed"
	mv "$XDG_DATA_HOME/applications" "$work/flatpak-applications"
	sandboxed_registrar register CurrentUser 'C:\nowhere' 'C:\nowhere.png' && fail "flatpak, no applications folder: registered"
	grep -qF "mkdir -p $XDG_DATA_HOME/applications" "$work/said" || fail "flatpak, no applications folder: it said $(cat "$work/said")"
	mv "$work/flatpak-applications" "$XDG_DATA_HOME/applications"
	nothing_anywhere "read-only, or no applications folder"
	echo "    flatpak, granted read-only or with no applications folder to share: refused, naming the command or the folder ($(seconds "$rows") s)"
	rows=$(date +%s)
	sandboxed "$bin/quarrion_shell_setup.exe" /S /CurrentUser || fail "flatpak, granted: setup failed"
	ours=$(registered "$XDG_DATA_HOME/applications/mimeapps.list" | head -n 1)
	case $ours in quarrion-shell-*-currentuser.desktop) ;; *) fail "flatpak, granted: the default is '$ours'" ;; esac
	desktop-file-validate "$XDG_DATA_HOME/applications/$ours" || fail "flatpak, granted: desktop-file-validate refused it"
	grep -q "^Exec=flatpak run --command=[^ ]*/wine --env=WINEPREFIX=[^ ]*/prefix $app [^ ]*/quarrion_shell.exe %u$" \
		"$XDG_DATA_HOME/applications/$ours" || fail "flatpak, granted: $(grep ^Exec= "$XDG_DATA_HOME/applications/$ours")"
	# The player's own defaults, which the sandbox may only read, come first and name nothing.
	[ "$(cat "$XDG_CONFIG_HOME/mimeapps.list")" = "$(printf '[Default Applications]\ntext/html=firefox-esr.desktop;')" ] ||
		fail "flatpak, granted: the host's mimeapps.list changed: $(cat "$XDG_CONFIG_HOME/mimeapps.list")"
	[ "$(xdg-mime query default x-scheme-handler/quarrion)" = "$ours" ] || fail "flatpak, granted: xdg-mime answers $(xdg-mime query default x-scheme-handler/quarrion)"
	rm -f "$record" "$FLATPAK_STAND_IN/runs"
	# xdg-open reads desktop entries only for a display, which running these rows alone lacks.
	DISPLAY=${DISPLAY:-:0} xdg-open 'quarrion://flatpak.example.net:27960/$(touch${IFS}pwned)' >>"$work/open.log" 2>&1 ||
		fail "flatpak, granted: xdg-open"
	wait_for_game "flatpak, granted"
	[ "$(game_line)" = "$game +connect flatpak.example.net:27960 +pass \$(touch\${IFS}pwned)" ] || fail "flatpak, granted: the game got $(game_line)"
	grep -q "^$app|.*/wine$" "$FLATPAK_STAND_IN/runs" || fail "flatpak, granted: the link did not go through flatpak run $app"
	echo "    flatpak, granted: xdg-open on the host -> flatpak run ... $app -> $(game_line) ($(seconds "$rows") s)"
	# The player's own default in ~/.config/mimeapps.list, which desktops read first: setup says
	# which program links open instead, and changes nothing of it.
	rows=$(date +%s)
	cp "$XDG_CONFIG_HOME/mimeapps.list" "$work/flatpak-mimeapps.before"
	printf '\nx-scheme-handler/quarrion=other.desktop;\n' >>"$XDG_CONFIG_HOME/mimeapps.list"
	cp "$XDG_CONFIG_HOME/mimeapps.list" "$work/flatpak-mimeapps.shadowing"
	printf '[Desktop Entry]\nType=Application\nName=Other\nExec=true %%u\n' >"$XDG_DATA_HOME/applications/other.desktop"
	# A link at the log's name is replaced, never written through.
	echo "theirs" >"$real_prefix/drive_c/victim.txt"
	ln -sfn "$inside/drive_c/victim.txt" "$log"
	sandboxed "$bin/quarrion_shell_setup.exe" /S /CurrentUser || fail "flatpak, shadowed: setup failed"
	[ ! -L "$log" ] && [ "$(cat "$real_prefix/drive_c/victim.txt")" = theirs ] || fail "flatpak: the log was written through a link"
	rm "$real_prefix/drive_c/victim.txt"
	grep -qF "quarrion:// links open other.desktop, not this program: $XDG_CONFIG_HOME/mimeapps.list" "$log" ||
		fail "flatpak, shadowed: the log says $(cat "$log")"
	cmp -s "$XDG_CONFIG_HOME/mimeapps.list" "$work/flatpak-mimeapps.shadowing" || fail "flatpak, shadowed: the player's default changed"
	cp "$work/flatpak-mimeapps.before" "$XDG_CONFIG_HOME/mimeapps.list"
	rm "$XDG_DATA_HOME/applications/other.desktop"
	echo "    flatpak, a default of the player's first: said in the log, kept ($(seconds "$rows") s)"
	# Registered, then the grant withdrawn and the Apps entry lost: the uninstall, without the id,
	# still sees our folder in the sandbox, and refuses rather than say nothing was registered.
	rows=$(date +%s)
	cp "$FLATPAK_STAND_IN/$app/filesystems" "$work/flatpak-grants"
	: >"$FLATPAK_STAND_IN/$app/filesystems"
	sandboxed_registrar unregister CurrentUser 'C:\nowhere' '' && fail "flatpak, withdrawn: the uninstall said $(cat "$work/said")"
	grep -qF "  $grant" "$work/said" || fail "flatpak, withdrawn: it said $(cat "$work/said")"
	cp "$work/flatpak-grants" "$FLATPAK_STAND_IN/$app/filesystems"
	echo "    flatpak, the grant withdrawn: the uninstall without the id refuses, naming the grant ($(seconds "$rows") s)"
	# A second launcher in the same home, on the same list in the folder of entries: whichever is
	# uninstalled first, the last leaves the host's folders as they were.
	rows=$(date +%s)
	other=org.example.OtherLauncher
	mkdir -p "$FLATPAK_STAND_IN/$other" "$HOME/.var/app/$other/data/prefix"
	printf '%s|%s\n' "$real_prefix" "$HOME/.var/app/$other/data/prefix" "$bin" "$bin" >"$FLATPAK_STAND_IN/$other/binds"
	cp "$FLATPAK_STAND_IN/$app/filesystems" "$FLATPAK_STAND_IN/$other/filesystems"
	in_other() {
		flatpak run --command=wine --env=WINEPREFIX="$HOME/.var/app/$other/data/prefix" "$other" \
			"$bin/quarrion_desktop.exe" "$@" </dev/null >"$work/said" 2>>"$work/wine.log"
	}
	installed=$(find "$real_prefix/drive_c/users" -path "*/Tabrix/Quarrion Shell" -type d | head -n 1)
	installed="C:$(printf '%s' "${installed#"$real_prefix/drive_c"}" | tr / '\\')"
	printf '\211PNG\r\n\032\n' >"$real_prefix/drive_c/icon.png"
	in_other register CurrentUser "$installed" 'C:\icon.png' || fail "flatpak, a second launcher: $(cat "$work/said")"
	sandboxed_registrar unregister CurrentUser "$installed" || fail "flatpak, the first launcher's uninstall: $(cat "$work/said")"
	in_other unregister CurrentUser "$installed" || fail "flatpak, a second launcher's uninstall: $(cat "$work/said")"
	rm "$real_prefix/drive_c/icon.png"
	sandboxed_uninstall "two launchers"
	nothing_anywhere "two launchers, uninstalled"
	echo "    flatpak, two launchers, the first one's uninstalled first: the host's folders as they were ($(seconds "$rows") s)"
	rows=$(date +%s)
	sandboxed "$bin/quarrion_shell_setup.exe" /S /CurrentUser || fail "flatpak, again: setup failed"
	# Our line where an earlier version wrote it, in the player's own list, which the sandbox only
	# reads: the uninstall says to take it out, and changes nothing of that file.
	ours=$(registered "$XDG_DATA_HOME/applications/mimeapps.list" | head -n 1)
	cp "$XDG_CONFIG_HOME/mimeapps.list" "$work/flatpak-mimeapps.before"
	printf '\nx-scheme-handler/quarrion=%s;\n' "$ours" >>"$XDG_CONFIG_HOME/mimeapps.list"
	cp "$XDG_CONFIG_HOME/mimeapps.list" "$work/flatpak-mimeapps.earlier"
	sandboxed_uninstall "granted"
	grep -qF "$XDG_CONFIG_HOME/mimeapps.list still names $ours, put there by an earlier version" "$log" ||
		fail "flatpak, an earlier version's line: the log says $(cat "$log")"
	cmp -s "$XDG_CONFIG_HOME/mimeapps.list" "$work/flatpak-mimeapps.earlier" || fail "flatpak, an earlier version's line: the player's list changed"
	cp "$work/flatpak-mimeapps.before" "$XDG_CONFIG_HOME/mimeapps.list"
	nothing_anywhere "granted, uninstalled"
	[ -z "$(find "$work" -name pwned)" ] || fail "flatpak: a hostile link ran a command on the Linux side"
	echo "    flatpak, granted then uninstalled: the host's folders as they were ($(seconds "$rows") s)"
	# The host's server warm again, as the rows after expect: one started while a row has moved
	# system.reg away would later save an empty registry over it.
	"$root/tests/wine/prefix.sh" "$real_prefix"
	echo "check-linux-desktop: a Flatpak launcher's setup registers on the host when granted, and says what to grant when not ($(seconds "$start") s)"
)
if [ "${CHECK_LINUX_DESKTOP_ONLY:-}" = flatpak ]; then
	flatpak_rows
	exit 0
fi

# The player's defaults, kept by a dotfile manager: the file is a link into their dotfiles, and
# another program was the default before ours.
seed='[Default Applications]
text/html=firefox-esr.desktop;
x-scheme-handler/quarrion=native-quarrion.desktop;aaa-other.desktop;

[Added Associations]
x-scheme-handler/quarrion=another-handler.desktop;
'
printf '%s' "$seed" >"$work/mimeapps.seed"
mkdir "$work/dotfiles"
defaults="$work/dotfiles/mimeapps.list"
cp "$work/mimeapps.seed" "$defaults"
ln -s "$defaults" "$XDG_CONFIG_HOME/mimeapps.list"
same_defaults() {
	[ -L "$XDG_CONFIG_HOME/mimeapps.list" ] || fail "$1: mimeapps.list is no longer a link"
	cmp -s "$defaults" "${2:-$work/mimeapps.seed}" || fail "$1: mimeapps.list is now: $(cat "$defaults")"
}
# A program that a link must never become: where a link read as a path would find it.
mkdir -p "$work/quarrion:/h:1"
printf '#!/bin/sh\ntouch "%s/planted-ran"\n' "$work" >"$work/quarrion:/h:1/p"
chmod +x "$work/quarrion:/h:1/p"

# Both modes: each copy has an entry of its own; the last one installed is the default.
for mode in AllUsers CurrentUser; do
	wine_run "$bin/quarrion_shell_setup.exe" /S /$mode || fail "setup /S /$mode failed"
done
entry=$(xdg-mime query default x-scheme-handler/quarrion)
case $entry in
quarrion-shell-*-currentuser.desktop) ;;
*) fail "the default handler of quarrion:// is '$entry'" ;;
esac
everyone=$(cd "$XDG_DATA_HOME/applications" && echo quarrion-shell-*-allusers.desktop)
[ -L "$XDG_CONFIG_HOME/mimeapps.list" ] || fail "setup replaced the link mimeapps.list"
grep -qx "x-scheme-handler/quarrion=$entry;$everyone;native-quarrion.desktop;aaa-other.desktop;" "$defaults" ||
	fail "the earlier defaults are not kept after ours: $(cat "$defaults")"
for file in "$entry" "$everyone"; do
	desktop-file-validate "$XDG_DATA_HOME/applications/$file" || fail "desktop-file-validate refused $file"
done
echo "check-linux-desktop: setup registered $everyone and $entry, the default ($(seconds "$start") s)"

mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
DISPLAY=:$(head -n 1 <"$work/display")
export DISPLAY

# Sandboxed browsers (Flatpak, Snap) never run xdg-open: they ask the desktop portal, which finds
# the handler through the mimeinfo.cache that update-desktop-database writes. A session bus of
# its own, with the portal and its GTK backend, for one link.
portal_open() {
	# D-Bus starts the portal and its backend when the call asks for them.
	dbus-run-session -- sh -c '
		gdbus call --session --dest org.freedesktop.portal.Desktop \
			--object-path /org/freedesktop/portal/desktop \
			--method org.freedesktop.portal.OpenURI.OpenURI "" "$1" "{}" >/dev/null
		for i in $(seq 60); do [ -s "$2" ] && break; sleep 0.25; done' sh "$1" "$record" \
		>>"$work/portal.log" 2>&1
}

# Every printable character, in the server and in the password, through every road a link takes
# to the game. What a Linux road hands the handler is recorded by a copy of our entry that runs a
# recorder instead of Wine, in a home of its own; what the program makes of each text handed over,
# and what Windows' link dispatch does, is measured under Wine. docs/links.md must show the same.
every_character() (
	table="$root/tests/linux_desktop/link_table.py"
	chars="$work/chars"
	ours="$XDG_DATA_HOME/applications/$entry"
	export HOME="$chars/home" XDG_DATA_HOME="$chars/data" XDG_CONFIG_HOME="$chars/config"
	mkdir -p "$HOME" "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME"
	cd "$work"
	# Our command hands Wine the program and the link: anything else is written down as a split.
	printf '#!/bin/sh\nshift\n[ $# -eq 1 ] && line=$1 || line="split $*"\nprintf "%%s\\n" "$line" >>"%s"\n' \
		"$chars.handed" >"$chars.recorder"
	chmod +x "$chars.recorder"
	sed "s|^Exec=env \([^ ]*\) [^ ]* |Exec=env \1 $chars.recorder |" "$ours" \
		>"$XDG_DATA_HOME/applications/recorder.desktop"
	grep -q "^Exec=env [^ ]* $chars.recorder [^ ]* %u$" "$XDG_DATA_HOME/applications/recorder.desktop" ||
		fail "characters: our entry's command is no longer env WINEPREFIX=… wine program %u"
	xdg-mime default recorder.desktop x-scheme-handler/quarrion
	# A road that does not take a link for ours may start the web browser with it instead: that
	# is written down too, whichever way the browser is found.
	printf '#!/bin/sh\nprintf "browser %%s\\n" "$*" >>"%s"\n' "$chars.handed" >"$chars.browser"
	chmod +x "$chars.browser"
	printf '[Desktop Entry]\nType=Application\nName=Browser\nExec=%s %%u\nMimeType=%s\n' "$chars.browser" \
		"x-scheme-handler/http;x-scheme-handler/https;text/html;" >"$XDG_DATA_HOME/applications/browser.desktop"
	xdg-mime default browser.desktop x-scheme-handler/http x-scheme-handler/https text/html
	export BROWSER="$chars.browser"
	update-desktop-database "$XDG_DATA_HOME/applications"
	kbuildsycoca5 >>"$work/open.log" 2>&1 # KDE's cache of entries, before its openers run at once
	# Road NAME opens its links with COMMAND...; then until every link has arrived, or none has for
	# a while since the first did: QUIET tenths of a second once as many as docs/links.md shows
	# have, 30 s before (a loaded machine's pause, or a real change, which the check then shows).
	# A road that delivers nothing in 120 s is tried again, after `stopping`; nothing twice fails.
	# Usage: road NAME QUIET LOG COMMAND...
	arrived() { cat "$chars.handed" 2>/dev/null | wc -l; }
	stopping=:
	road() {
		name=$1 enough=$2 log=$3
		shift 3
		python3 "$table" links "$name" >"$chars.links"
		count=$(wc -l <"$chars.links")
		shown=$(python3 "$table" arriving "$root/docs/links.md" "$name")
		for try in 1 2; do
			rm -f "$chars.handed"
			"$@" || fail "characters: $name could not open the links: $(tail -n 5 "$log")"
			waited=0 quiet=0
			while [ "$(arrived)" -lt "$count" ]; do
				seen=$(arrived)
				sleep 0.1
				waited=$((waited + 1))
				[ "$(arrived)" = "$seen" ] && quiet=$((quiet + 1)) || quiet=0
				if [ "$seen" -eq 0 ]; then
					[ $waited -lt 1200 ] || break
				elif [ "$seen" -lt "$shown" ]; then
					[ $quiet -lt 300 ] || break
				else
					[ $quiet -lt "$enough" ] || break
				fi
			done
			[ "$(arrived)" -eq 0 ] || break
			$stopping
			[ $try -eq 1 ] || fail "characters: $name delivered no link at all in 120 s, twice; its log ($log): $(tail -n 20 "$log")"
			echo "    $name delivered no link in 120 s: once more"
		done
		mv "$chars.handed" "$chars.handed-$name"
		cp "$chars.links" "$chars.links-$name"
	}
	each() { xargs -d '\n' -n 1 -P 4 "$@" <"$chars.links" >>"$work/open.log" 2>&1; }
	road xdg-open 10 "$work/open.log" each xdg-open
	road GIO 10 "$work/open.log" each gio open
	# In a Plasma 5 session xdg-open hands links to KDE's own opener. It needs no screen to hand
	# a link on; four at once, on a busy machine, once could not connect to the X server.
	road KDE 10 "$work/open.log" each env XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 \
		QT_QPA_PLATFORM=offscreen xdg-open
	portal() {
		python3 "$table" links portal --gvariant >"$chars.gvariant"
		dbus-run-session -- sh -c 'while read -r link; do
			gdbus call --session --dest org.freedesktop.portal.Desktop \
				--object-path /org/freedesktop/portal/desktop \
				--method org.freedesktop.portal.OpenURI.OpenURI "" "$link" "{}" >/dev/null || exit 1
		done
		# The portal ends with the session: until the last link is handed on, or a second passes
		# without one once as many as docs/links.md shows have been (2 minutes at most).
		last=-1 still=0
		for i in $(seq 480); do
			now=$(cat "$1" 2>/dev/null | wc -l)
			[ "$now" -lt "$2" ] || break
			[ "$now" = "$last" ] && still=$((still + 1)) || still=0
			[ "$now" -lt "$3" ] || [ $still -lt 4 ] || break
			last=$now
			sleep 0.25
		done' sh "$chars.handed" "$count" "$shown" <"$chars.gvariant" >>"$work/portal.log" 2>&1
	}
	road portal 10 "$work/portal.log" portal
	# Firefox opens each link in a frame of one page, as it would a click on it.
	mkdir "$chars.firefox"
	sed 's/^user_pref("browser.shell/user_pref("dom.block_external_protocol_in_iframes", false);\n&/' \
		"$profile/user.js" >"$chars.firefox/user.js"
	grep -q block_external_protocol_in_iframes "$chars.firefox/user.js" || fail "characters: no Firefox profile"
	firefox() {
		python3 -c 'import html, sys; print("<!DOCTYPE html>" + "".join(
			f"<iframe src=\"{html.escape(l.strip())}\"></iframe>" for l in sys.stdin))' \
			<"$chars.links" >"$chars.html" &&
			{ firefox-esr --no-remote --new-instance --profile "$chars.firefox" "file://$chars.html" \
				>>"$work/firefox.log" 2>&1 & } &&
			echo $! >"$chars.firefox.pid"
	}
	firefox_stop() {
		kill "$(cat "$chars.firefox.pid")" 2>/dev/null || true
		while kill -0 "$(cat "$chars.firefox.pid")" 2>/dev/null; do sleep 0.1; done
	}
	stopping=firefox_stop
	# Firefox can pause for seconds between two links.
	road Firefox 50 "$work/firefox.log" firefox
	firefox_stop
	stopping="rm -rf $chars.chromium"
	chromium() { python3 "$root/tests/linux_desktop/chromium_clicks.py" "$chars.chromium" "$chars.handed" "$shown" <"$chars.links"; }
	road Chromium 10 "$chars.chromium.log" chromium
	# Under Wine: Windows' link dispatch, then the program on every text a Linux road handed on.
	python3 "$table" links Windows >"$chars.links-Windows"
	cat "$chars".handed-* | grep -v '^browser ' | python3 "$table" neutral | sort -u >"$chars.texts"
	for step in "open links-Windows windows" "run texts ran"; do
		set -- $step
		QUARRION_GAME="$game" wine "$bin/link_outcomes.exe" "$1" <"$chars.$2" >"$chars.$3" 2>>"$work/wine.log" ||
			fail "characters: link_outcomes $1 failed: $(tail -n 5 "$work/wine.log")"
		[ "$(wc -l <"$chars.$3")" -eq "$(wc -l <"$chars.$2")" ] || fail "characters: link_outcomes $1 stopped early"
	done
	paste "$chars.texts" "$chars.ran" >"$chars.program"
	measured="$bin/../links-measured.md"
	python3 "$table" table "$chars.program" Windows=outcomes:"$chars.windows" \
		Firefox="$chars.handed-Firefox" Chromium="$chars.handed-Chromium" \
		xdg-open="$chars.handed-xdg-open" GIO="$chars.handed-GIO" portal="$chars.handed-portal" \
		KDE="$chars.handed-KDE" >"$measured" || fail "characters: the measurement went wrong"
	python3 "$table" check "$root/docs/links.md" "$measured" ||
		fail "docs/links.md no longer shows what arrives; if the change is right: tests/linux_desktop/link_table.py write docs/links.md $measured"
	echo "    every printable character through 7 roads: as docs/links.md shows ($(seconds "$start") s)"
)

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
gio open|quarrion://h:1/p| +connect h:1 +pass p
env XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 xdg-open|quarrion://kde.example.net:27960/pass-w0rd_9.x~| +connect kde.example.net:27960 +pass pass-w0rd_9.x~
ROWS
cd "$root"
never_ran() {
	if find "$work" -name pwned | grep -q .; then fail "a hostile link ran a command on the Linux side"; fi
	[ ! -e "$work/planted-ran" ] || fail "a link ran the program planted at ./quarrion:/h:1/p"
}
never_ran
echo "check-linux-desktop: xdg-open, GIO and KDE's opener start the game with the link's fields, and hostile links run nothing ($(seconds "$start") s)"

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
# Chromium, the same click; its engine is also Chrome's, Edge's and that of Electron programs.
rm -f "$record"
echo "quarrion://192.0.2.8:27960/hunter3" | python3 "$root/tests/linux_desktop/chromium_clicks.py" "$work/chromium" "$record" ||
	fail "Chromium did not show the page"
wait_for_game "Chromium"
[ "$(game_line)" = "$game +connect 192.0.2.8:27960 +pass hunter3" ] || fail "Chromium: the game got $(game_line)"
echo "    Chromium, a click on quarrion://192.0.2.8:27960/hunter3 -> $(game_line)"
echo "check-linux-desktop: a click in Firefox or Chromium starts the game with the link's fields ($(seconds "$start") s)"
every_character
never_ran

# From here on the prefix is reached by its real path: one prefix, one registration.
export WINEPREFIX="$real_prefix"
apps="$XDG_DATA_HOME/applications"
# A dotfile manager adopts the entry for everyone (moves it into the dotfiles, links it back);
# setup run again keeps both as they are.
mv "$apps/$everyone" "$work/dotfiles/"
ln -s "$work/dotfiles/$everyone" "$apps/$everyone"
cp "$work/dotfiles/$everyone" "$work/adopted.seed"
wine_run "$bin/quarrion_shell_setup.exe" /S /AllUsers || fail "setup /S /AllUsers again failed"
[ -L "$apps/$everyone" ] && cmp -s "$work/dotfiles/$everyone" "$work/adopted.seed" ||
	fail "setup run again changed the adopted entry"
# Setup run again while the defaults, which must change, cannot be written: refused, and the
# registration it found is kept whole.
cp "$defaults" "$work/defaults.before"
chmod 444 "$defaults"
status=0
wine_run "$bin/quarrion_shell_setup.exe" /S /CurrentUser || status=$?
chmod 644 "$defaults"
[ $status -eq $((1155 % 256)) ] || fail "setup again with a read-only mimeapps.list exited with $status"
[ -f "$apps/$entry" ] && [ -e "$XDG_DATA_HOME/quarrion-shell/${entry%.desktop}/quarrion_shell.exe" ] ||
	fail "a refused setup run again took the working registration away"
same_defaults "setup again with a read-only mimeapps.list" "$work/defaults.before"
# The one for one user goes first: its entry goes, and the default falls back to the other.
uninstall users "$entry"
[ "$(xdg-mime query default x-scheme-handler/quarrion)" = "$everyone" ] ||
	fail "after the uninstall for one user, the default is $(xdg-mime query default x-scheme-handler/quarrion)"
echo "check-linux-desktop: uninstalled under another spelling of the prefix; an adopted entry kept ($(seconds "$start") s)"

# What may stand in the way of this user's registration. The registrar, run as setup runs it,
# must refuse (1, naming the path) and leave the player's files as they were and nothing of ours.
id=${entry%.desktop}
own="$XDG_DATA_HOME/quarrion-shell/$id"
mkdir -p "$WINEPREFIX/drive_c/qs-direct"
cp "$bin/quarrion_shell.exe" "$WINEPREFIX/drive_c/qs-direct/"
printf '\211PNG\r\n\032\n' >"$work/icon.png"
icon="Z:$(printf '%s' "$work/icon.png" | tr / '\\')"
cp "$defaults" "$work/defaults.before"
echo "notes" >"$work/notes.txt"
echo "photo" >"$work/photo.png"
mkdir "$work/foreign"
echo "foreign" >"$work/foreign/kept"
registrar() { wine "$bin/quarrion_desktop.exe" "$@" </dev/null >"$work/said" 2>>"$work/wine.log"; }
refused() { # row, the path that must be named
	status=0
	registrar register CurrentUser 'C:\qs-direct' "$icon" || status=$?
	[ $status -eq 1 ] || fail "$1: the registrar exited with $status: $(cat "$work/said")"
	grep -qF "$2" "$work/said" || fail "$1: the refusal does not name $2: $(cat "$work/said")"
	[ ! -e "$apps/$entry" ] || [ -L "$apps/$entry" ] || fail "$1: an entry was left behind"
	same_defaults "$1" "$work/defaults.before"
	printf '    %s: refused (%s)\n' "$1" "$(cat "$work/said")"
}
ln -s "$work/nowhere.desktop" "$apps/$entry"
refused "a link to nothing at the entry's path" "$apps/$entry"
[ -L "$apps/$entry" ] && [ ! -e "$work/nowhere.desktop" ] || fail "the link to nothing was replaced"
rm "$apps/$entry"
ln -s "$work/notes.txt" "$apps/$entry"
refused "a link at the entry's path" "$apps/$entry"
# The same links put in place of a registration's own: its uninstall leaves them and what they
# lead to.
registered_with() { # the path to put a link at, what it leads to
	rm "$1"
	registrar register CurrentUser 'C:\qs-direct' "$icon" || fail "register: $(cat "$work/said")"
	rm "$1"
	ln -s "$2" "$1"
	registrar unregister CurrentUser 'C:\qs-direct' || fail "unregister with a link at $1: $(cat "$work/said")"
	[ -L "$1" ] || fail "the uninstall removed the link at $1"
}
registered_with "$apps/$entry" "$work/notes.txt"
[ "$(cat "$work/notes.txt")" = notes ] || fail "the file behind the entry's path changed"
rm "$apps/$entry"
mkdir -p "$own"
ln -s "$work/photo.png" "$own/quarrion-shell.png"
refused "a link at the icon's path" "$own/quarrion-shell.png"
rm -r "$own"
mkdir -p "$own"
touch "$own/quarrion-shell.png"
registered_with "$own/quarrion-shell.png" "$work/photo.png"
[ "$(cat "$work/photo.png")" = photo ] || fail "the photo behind the icon's path changed"
rm -r "$own"
ln -s "$work/foreign" "$own"
refused "our folder a link to another" "$own"
[ "$(ls "$work/foreign")" = kept ] || fail "the folder behind our folder's path changed"
rm "$own"
mkdir -p "$own/prefix"
refused "a real folder where a link goes" "$own/prefix"
[ -z "$(ls -A "$own/prefix")" ] || fail "a link was made inside $own/prefix"
rm -r "$own"
chmod 444 "$defaults"
refused "a read-only mimeapps.list" "$defaults"
chmod 644 "$defaults"
[ ! -e "$own" ] || fail "a refused registration left $own"
# A full disk: mimeapps.list of exactly one page on a small file system with no room left.
mkdir "$work/full"
if mount -t tmpfs -o size=64k tmpfs "$work/full" 2>/dev/null; then
	printf '[Default Applications]\ntext/html=firefox-esr.desktop;\n' >"$work/full/mimeapps.list"
	yes '# kept by hand' | head -c $((4096 - $(wc -c <"$work/full/mimeapps.list"))) >>"$work/full/mimeapps.list"
	cp "$work/full/mimeapps.list" "$work/full.seed"
	dd if=/dev/zero of="$work/full/filler" bs=4096 2>/dev/null || true
	status=0
	(
		export XDG_CONFIG_HOME="$work/full"
		registrar register CurrentUser 'C:\qs-direct' "$icon"
	) || status=$?
	[ $status -eq 1 ] || fail "a full disk: the registrar exited with $status"
	cmp -s "$work/full/mimeapps.list" "$work/full.seed" || fail "a full disk changed mimeapps.list"
	[ ! -e "$own" ] && [ ! -e "$apps/$entry" ] || fail "a full disk left our files behind"
	[ "$(ls -A "$work/full")" = "$(printf 'filler\nmimeapps.list')" ] || fail "a full disk left $(ls -A "$work/full")"
	umount "$work/full"
	echo "    a full disk: refused ($(cat "$work/said")), mimeapps.list whole"
else
	echo "    a full disk: not shown, a tmpfs cannot be mounted here (needs root)"
fi
# '=' in the data folder: env would read the paths after it as settings and run the link.
(
	export XDG_DATA_HOME="$work/a=b/data"
	refused "'=' in XDG_DATA_HOME" "$XDG_DATA_HOME"
)
[ ! -e "$work/a=b/data/quarrion-shell" ] || fail "the refused data folder holds our files"
# A backslash in a path: Windows programs cannot name it, so it is refused at once.
mkdir "$work/da\\ta"
(
	export XDG_DATA_HOME="$work/da\\ta"
	refused "a backslash in XDG_DATA_HOME" "$XDG_DATA_HOME"
)
ln -s "$real_prefix" "$work/Pa\\b"
(
	export WINEPREFIX="$work/Pa\\b"
	refused "a backslash in WINEPREFIX" "$WINEPREFIX"
)
[ -z "$(ls -A "$work/da\\ta")" ] || fail "the refused data folder holds our files"
# A name outside ASCII where the locale is not UTF-8: Wine would hand ln and rm another name.
mkdir "$work/dätä"
(
	export XDG_DATA_HOME="$work/dätä" LC_ALL=C
	refused "a name outside ASCII in the C locale" "$XDG_DATA_HOME"
)
# A byte outside UTF-8 in a folder's name: Wine gives it as U+FFFD, which names another file for
# ln; refused at once, nothing made.
mkdir "$work/d$(printf '\377')x"
(
	export XDG_DATA_HOME="$work/d$(printf '\377')x"
	refused "a byte outside UTF-8 in XDG_DATA_HOME" "holds a byte that is not UTF-8"
)
[ -z "$(ls -A "$work/d$(printf '\377')x")" ] || fail "the data folder that is not UTF-8 holds our files"
# A home reached through a link, with no data folder yet: registered and removed again whole.
mkdir "$work/realhome"
ln -s "$work/realhome" "$work/homelink"
(
	export HOME="$work/homelink"
	unset XDG_DATA_HOME
	for again in once twice; do
		registrar register CurrentUser 'C:\qs-direct' "$icon" || fail "register $again with a linked home: $(cat "$work/said")"
	done
	registrar unregister CurrentUser 'C:\qs-direct' || fail "unregister with a linked home: $(cat "$work/said")"
)
[ -z "$(find "$work/realhome" -name 'quarrion-shell*')" ] || fail "a linked home kept $(find "$work/realhome" -name 'quarrion-shell*')"
same_defaults "a linked home" "$work/defaults.before"
# A desktop's own list, which GNOME reads before mimeapps.list, naming another handler: setup
# registers, says which program links open instead, and leaves that list as it was.
(
	export HOME="$work/gnomehome" XDG_CURRENT_DESKTOP=ubuntu:GNOME
	unset XDG_DATA_HOME XDG_CONFIG_HOME
	mkdir -p "$HOME/.config"
	printf '[Default Applications]\nx-scheme-handler/quarrion=gone.desktop;other.desktop;\n' >"$HOME/.config/gnome-mimeapps.list"
	mkdir -p "$HOME/.local/share/applications"
	printf '[Desktop Entry]\nType=Application\nName=Other\nExec=true %%u\n' >"$HOME/.local/share/applications/other.desktop"
	registrar register CurrentUser 'C:\qs-direct' "$icon" || fail "register under GNOME: $(cat "$work/said")"
	grep -qF "quarrion:// links open other.desktop, not this program: $HOME/.config/gnome-mimeapps.list" "$work/said" ||
		fail "a desktop's own list first: it said $(cat "$work/said")"
	registrar unregister CurrentUser 'C:\qs-direct' || fail "unregister under GNOME: $(cat "$work/said")"
	[ "$(find "$HOME" -type f | sort)" = "$(printf '%s\n' "$HOME/.config/gnome-mimeapps.list" "$HOME/.local/share/applications/other.desktop")" ] ||
		fail "a desktop's own list first: left $(find "$HOME")"
)
# A launcher's runner update takes away the Wine an entry runs: the next registration in that home
# removes that one, and says so; a Wine on a disk that is not mounted (an empty folder) stays.
(
	export HOME="$work/runnerhome"
	unset XDG_DATA_HOME XDG_CONFIG_HOME
	mkdir -p "$HOME" "$work/runners/new-runner" "$work/mnt/disk"
	registrar register AllUsers 'C:\qs-direct' "$icon" || fail "register for a runner: $(cat "$work/said")"
	shared="$HOME/.local/share/quarrion-shell"
	old=$(cd "$shared" && echo quarrion-shell-*-allusers)
	for wine in "$work/mnt/disk/runner/bin/wine" "$work/runners/old-runner/bin/wine"; do
		ln -sfn "$wine" "$shared/$old/wine"
		registrar register CurrentUser 'C:\qs-direct' "$icon" || fail "register beside a runner gone: $(cat "$work/said")"
		case $wine in "$work/mnt/"*) [ -e "$HOME/.local/share/applications/$old.desktop" ] ||
			fail "a Wine on a disk not mounted: its registration was removed" ;;
		esac
	done
	grep -qF "the Wine it ran, $work/runners/old-runner/bin/wine, is gone" "$work/said" &&
		[ ! -e "$HOME/.local/share/applications/$old.desktop" ] && [ ! -e "$shared/$old" ] &&
		! grep -q "$old" "$HOME/.config/mimeapps.list" || fail "a runner gone: kept, saying $(cat "$work/said")"
	registrar unregister CurrentUser 'C:\qs-direct' || fail "unregister beside a runner gone: $(cat "$work/said")"
	[ -z "$(find "$HOME" -mindepth 1)" ] || fail "a runner gone: left $(find "$HOME" -mindepth 1)"
	echo "    a runner gone: its registration removed by the next; one on a disk not mounted kept until then"
)
echo "check-linux-desktop: links, read-only and full files, '=' and backslashes refused; the player's files kept ($(seconds "$start") s)"

# The last copy goes: the link to the adopted entry goes, the entry in the dotfiles stays, and
# the player's defaults are byte for byte as before, still a link.
uninstall "Program Files*" "$everyone"
cmp -s "$work/dotfiles/$everyone" "$work/adopted.seed" || fail "the uninstall changed the adopted entry"
[ ! -e "$XDG_DATA_HOME/quarrion-shell" ] || fail "the uninstall left $XDG_DATA_HOME/quarrion-shell: $(ls -AR "$XDG_DATA_HOME/quarrion-shell")"
same_defaults "the last uninstall"

# A Linux desktop that cannot be written: the Windows side installs, and setup says the links
# of Linux programs will not work (1155, which a Linux shell sees modulo 256) instead of 0.
touch "$work/not-a-folder"
status=0
XDG_DATA_HOME="$work/not-a-folder/data" wine_run "$bin/quarrion_shell_setup.exe" /S /CurrentUser || status=$?
[ $status -eq $((1155 % 256)) ] || fail "setup exited with $status when the Linux desktop could not be written"
uninstall users "$entry"
never_ran


while IFS='|' read -r row; do
	new_home "$row"
	case $row in
	"mode 600, CR LF, no final line end")
		mkdir -p "$XDG_CONFIG_HOME"
		printf '[Added Associations]\r\ntext/html=firefox-esr.desktop;' >"$XDG_CONFIG_HOME/mimeapps.list"
		chmod 600 "$XDG_CONFIG_HOME/mimeapps.list"
		;;
	"folders and the cache linked into dotfiles")
		mkdir -p "$work/$row/dotfiles/applications" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
		printf '[MIME Cache]\ntext/plain=editor.desktop;\n' >"$work/$row/dotfiles/mimeinfo.cache"
		ln -s "$work/$row/dotfiles/mimeinfo.cache" "$work/$row/dotfiles/applications/mimeinfo.cache"
		ln -s "$work/$row/dotfiles/applications" "$XDG_DATA_HOME/applications"
		;;
	esac
	before=$(snapshot "$work/$row")
	wine_run "$bin/quarrion_shell_setup.exe" /S /CurrentUser || fail "$row: setup failed"
	[ "$(registered | head -n 1)" = "$entry" ] || fail "$row: not registered: $(registered)"
	uninstall users "$entry"
	[ "$(snapshot "$work/$row")" = "$before" ] ||
		fail "$row: not as found: $(printf '%s\n' "$before" | diff - "$(snapshot "$work/$row" >"$work/after"; echo "$work/after")")"
	echo "    $row: as found after install and uninstall"
done <<'ROWS'
a home without data or configuration folders
mode 600, CR LF, no final line end
folders and the cache linked into dotfiles
ROWS
# Another program (xdg-mime here; GLib and desktop settings alike) does not take our lock. Setup
# and the uninstall are paused as they start chmod for the new mimeapps.list, between reading the
# file and renaming the new one over it, and setup also as it starts ln: the registrar waits for
# both. A wrapper mounted over the program, in a mount namespace of the row's own, waits. A
# change made meanwhile is kept; a signal there instead ends setup and the uninstall with 1155,
# the uninstall keeping everything, and run again the home is as it was.
# Usage: paused PROGRAM FOLDER MATCH COMMAND...   (paused when its arguments hold MATCH;
# FOLDER/reached once paused; FOLDER/go lets it on)
paused() {
	held=$1 pause=$2 match=$3
	shift 3
	mkdir -p "$pause"
	cp "$held" "$pause/real"
	printf '#!/bin/sh\ncase "$*" in *%s*) touch "%s/reached"; while [ ! -e "%s/go" ]; do sleep 0.05; done ;; esac\nexec "%s/real" "$@"\n' \
		"$match" "$pause" "$pause" "$pause" >"$pause/wrapper"
	chmod +x "$pause/wrapper"
	unshare -m sh -c 'mount --bind "$1" "$2" && shift 2 && exec "$@"' sh "$pause/wrapper" "$held" "$@" \
		</dev/null >>"$work/wine.log" 2>&1
}
registrar_in() { # whether a registrar runs in the prefix
	for pid in $(pgrep -f 'quarrion_desktop\.exe'); do
		tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$1" && return 0
	done
	return 1
}
registrar_pid() { # the registrar at work in this row's home
	for pid in $(pgrep -f 'quarrion_desktop\.exe'); do
		if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "XDG_DATA_HOME=$XDG_DATA_HOME"; then
			echo "$pid"
		fi
	done
}
# At the pause: another program's change, or a signal for the registrar. Usage: meanwhile ROW TYPE
meanwhile() {
	if [ "$1" = edited ]; then
		xdg-mime default viewer.desktop "$2"
	elif [ "$1" = elsewhere ]; then
		# Setup in the original prefix, until its registrar waits for the lock the copy's
		# uninstall holds.
		(WINEPREFIX="$real_prefix" wine_run "$bin/quarrion_shell_setup.exe" /S /CurrentUser) &
		elsewhere=$!
		wait_until 30 registrar_in "$real_prefix" || fail "elsewhere: setup started no registrar"
		sleep 1
	else
		kill -"$([ "$2" = image/jpeg ] && echo TERM || echo KILL)" "$(registrar_pid)" ||
			fail "$1: no registrar to end"
	fi
}
# Runs COMMAND... with PROGRAM paused at MATCH, and at the pause what `meanwhile` does for the
# row and TYPE; its exit status in $status. Usage: through_pause ROW PROGRAM MATCH TYPE COMMAND...
through_pause() {
	held=$2 type=$4 at="$work/$1.${2##*/}"
	match=$3
	shift 4
	status=0
	paused "$held" "$at" "$match" "$@" &
	pausing=$!
	wait_until 30 test -e "$at/reached" || fail "$row: ${held##*/} was never started"
	meanwhile "$row" "$type"
	touch "$at/go"
	wait $pausing || status=$?
}
for row in edited signalled; do
	new_home "$row"
	mkdir -p "$XDG_CONFIG_HOME"
	printf '[Default Applications]\ntext/html=firefox-esr.desktop;\n' >"$XDG_CONFIG_HOME/mimeapps.list"
	before=$(snapshot "$work/$row")
	if [ $row = edited ]; then
		through_pause $row /usr/bin/chmod mimeapps image/jpeg wine "$bin/quarrion_shell_setup.exe" /S /CurrentUser
	else
		through_pause $row /usr/bin/ln "" image/jpeg wine "$bin/quarrion_shell_setup.exe" /S /CurrentUser
	fi
	if [ $row = edited ]; then
		[ $status -eq 0 ] || fail "edited: setup exited with $status"
		grep -qx 'image/jpeg=viewer.desktop;\?' "$XDG_CONFIG_HOME/mimeapps.list" ||
			fail "setup lost a change made meanwhile: $(cat "$XDG_CONFIG_HOME/mimeapps.list")"
	else
		[ $status -eq $((1155 % 256)) ] || fail "setup whose registrar a signal ended exited with $status"
		wine_run "$bin/quarrion_shell_setup.exe" /S /CurrentUser || fail "signalled: setup again failed"
	fi
	[ "$(registered | head -n 1)" = "$entry" ] || fail "$row: not registered: $(registered)"
	# In place (_?=, unquoted, as the last word: through cmd), so that its exit status comes back.
	folder=$(find "$WINEPREFIX/drive_c/users" -path "*/Tabrix/Quarrion Shell" -type d | head -n 1)
	cp "$folder/uninstall.exe" "$work/u.exe"
	through_pause $row /usr/bin/chmod mimeapps image/png wine cmd /c "$(printf 'Z:%s' "$work/u.exe" | tr / '\\') /S _?=C:$(
		printf '%s' "${folder#"$WINEPREFIX/drive_c"}" | tr / '\\')"
	if [ $row = edited ]; then
		[ $status -eq 0 ] && [ -z "$(registered)" ] || fail "edited: the uninstall exited with $status"
		grep -qx 'image/png=viewer.desktop;\?' "$XDG_CONFIG_HOME/mimeapps.list" ||
			fail "the uninstall lost a change made meanwhile: $(cat "$XDG_CONFIG_HOME/mimeapps.list")"
		echo "    another program's change while setup and the uninstall were paused: kept"
		continue
	fi
	[ $status -eq $((1155 % 256)) ] || fail "an uninstall whose registrar a signal ended exited with $status"
	[ -e "$folder/quarrion_shell.exe" ] && [ -e "$XDG_DATA_HOME/applications/$entry" ] ||
		fail "an uninstall whose registrar a signal ended did not keep everything"
	uninstall users "$entry"
	[ "$(snapshot "$work/$row")" = "$before" ] ||
		fail "signalled: not as found: $(printf '%s\n' "$before" | diff - "$(snapshot "$work/$row" >"$work/after"; echo "$work/after")")"
	echo "    setup and the uninstall ended by a signal: 1155, everything kept; run again: as found"
done
# The desktop portal, in a home with one registration: with two handlers of quarrion:// it asks
# which, as any desktop would.
new_home portal
wine_run "$bin/quarrion_shell_setup.exe" /S /CurrentUser || fail "portal: setup failed"
rm -f "$record"
portal_open "quarrion://h{x}/a{b}c"
wait_for_game "the desktop portal"
[ "$(game_line)" = "$game +connect h{x} +pass a{b}c" ] || fail "the desktop portal: the game got $(game_line)"
uninstall users "$entry"
echo "    the desktop portal (OpenURI, as sandboxed browsers ask it) -> $(game_line)"

# An entry the player adopted into dotfiles and edited: setup run again keeps it, mode and all,
# and so does the uninstall.
new_home adopted
wine_run "$bin/quarrion_shell_setup.exe" /S /CurrentUser || fail "adopted: setup failed"
mkdir "$work/adopted/dotfiles"
mv "$XDG_DATA_HOME/applications/$entry" "$work/adopted/dotfiles/"
ln -s "$work/adopted/dotfiles/$entry" "$XDG_DATA_HOME/applications/$entry"
sed -i 's/^Name=.*/Name=Quarrion (mine)/; s/^NoDisplay=true/NoDisplay=false/' "$work/adopted/dotfiles/$entry"
chmod 640 "$work/adopted/dotfiles/$entry"
before=$(snapshot "$work/adopted")
wine_run "$bin/quarrion_shell_setup.exe" /S /CurrentUser || fail "adopted: setup again failed"
[ "$(snapshot "$work/adopted")" = "$before" ] || fail "adopted: setup run again changed the home"
cp -p "$work/adopted/dotfiles/$entry" "$work/adopted.edited"
uninstall users ""
cmp -s "$work/adopted/dotfiles/$entry" "$work/adopted.edited" || fail "adopted: the uninstall changed the edited entry"
echo "    an adopted and edited entry: kept by setup run again and by the uninstall"

# A prefix copied with its registration (Bottles' duplicate, a backup): uninstalling the copy
# leaves the original's, which still starts the original's game; then two setups at once, in
# the original and the copy, several times: both always end up on the handler line.
new_home copied
export WINEPREFIX="$real_prefix"
wine_run "$bin/quarrion_shell_setup.exe" /S /CurrentUser || fail "copied: setup failed"
wineserver -k 2>/dev/null || true
copy="$work/copied/prefix"
cp -a "$real_prefix" "$copy"
(export WINEPREFIX="$copy" && uninstall users "") || exit 1
[ "$(registered)" = "$entry" ] || fail "copied: the copy's uninstall changed the line: $(registered)"
rm -f "$record"
xdg-open "quarrion://copy.example.net/kept" >>"$work/open.log" 2>&1 || fail "copied: xdg-open"
wait_for_game "copied"
[ "$(game_line)" = "$game +connect copy.example.net +pass kept" ] || fail "copied: the game got $(game_line)"
uninstall users "$entry"
copy_entry=""
# The first round starts both while the lock is held (a POSIX lock, as Wine takes it): neither
# may change the defaults until it is let go.
mkdir -p "$XDG_DATA_HOME/quarrion-shell"
hold_lock "$XDG_DATA_HOME/quarrion-shell/lock" "$work/holding"
for round in 1 2 3; do
	status=0
	(export WINEPREFIX="$copy" && wine_run "$bin/quarrion_shell_setup.exe" /S /CurrentUser) &
	copying=$!
	(wine_run "$bin/quarrion_shell_setup.exe" /S /CurrentUser) &
	original=$!
	if [ $round -eq 1 ]; then
		sleep 4
		[ ! -e "$XDG_CONFIG_HOME/mimeapps.list" ] || fail "a setup changed the defaults while the lock was held"
		rm "$work/holding"
		wait "$holder"
	fi
	wait "$original" || status=$?
	wait "$copying" || status=$?
	[ $status -eq 0 ] || fail "two setups at once, round $round: exit $status"
	copy_entry=$(registered | grep -vx "$entry" | head -n 1)
	[ "$(registered | sort | tr '\n' ' ')" = "$(printf '%s\n' "$entry" "$copy_entry" | sort | tr '\n' ' ')" ] &&
		[ -n "$copy_entry" ] || fail "two setups at once, round $round: the line names $(registered | tr '\n' ' ')"
	[ $round -lt 3 ] || break
	uninstall users "$entry"
	(export WINEPREFIX="$copy" && uninstall users "$copy_entry") || exit 1
done
# Setup in one prefix while the uninstall in the other, the last registration, holds the lock and
# is about to take away the folders it made, the lock's among them (paused as it removes its
# link): what setup then makes is its own to take away.
uninstall users "$entry"
copied_uninstaller=$(find "$copy/drive_c/users" -path "*/Tabrix/Quarrion Shell/uninstall.exe" | head -n 1)
row=elsewhere
through_pause $row /usr/bin/rm quarrion_shell.exe setup env WINEPREFIX="$copy" wine "$copied_uninstaller" /S
wait "$elsewhere" || fail "elsewhere: setup exited with $?"
wait_until 30 test ! -e "$copied_uninstaller" || fail "elsewhere: the copy's uninstall did not end"
[ "$(registered)" = "$entry" ] || fail "elsewhere: the line names $(registered | tr '\n' ' ')"
# After the last round the copy is deleted with rm -rf, as many remove a Wine game: the uninstall
# of the original also removes the copy's registration, whose link leads nowhere.
WINEPREFIX="$copy" wineserver -k 2>/dev/null || true
rm -rf "$copy"
uninstall users "$entry"
[ -z "$(registered)" ] || fail "a deleted prefix's registration stayed: $(registered)"
# The data folder was the test's own, for its lock: it must be empty now.
rmdir "$XDG_DATA_HOME" 2>/dev/null || true
[ -z "$(ls -A "$work/copied/home")" ] && [ ! -e "$XDG_DATA_HOME" ] && [ ! -e "$XDG_CONFIG_HOME" ] ||
	fail "two setups at once left $(find "$work/copied" -path "$copy" -prune -o -print | head)"
echo "check-linux-desktop: a copied prefix's uninstall keeps the original's registration; two setups at once both register, 3 times; setup in one while the last uninstall in the other holds the lock leaves the home as it was; a deleted one's registration removed ($(seconds "$start") s)"
flatpak_rows

# A prefix that the setup command itself created, as launchers do: Wine writes system.reg to disk
# only later. The prefix the registrar runs in is accepted all the same (its server is warm).
mv "$WINEPREFIX/system.reg" "$work/system.reg"
status=0
registrar register CurrentUser 'C:\qs-direct' "$icon" || status=$?
mv "$work/system.reg" "$WINEPREFIX/system.reg"
[ $status -eq 0 ] || fail "a prefix without system.reg on disk yet: $status, $(cat "$work/said")"
registrar unregister CurrentUser 'C:\qs-direct' || fail "a prefix without system.reg on disk yet: $(cat "$work/said")"
echo "    a prefix whose system.reg Wine has not written yet: registered"
# Prefix folders that Windows programs reach as a device: refused, saying why.
for name in aux nul; do
	ln -s "$real_prefix" "$work/$name"
	status=0
	WINEPREFIX="$work/$name" registrar register CurrentUser 'C:\qs-direct' "$icon" || status=$?
	[ $status -eq 1 ] && grep -q "device" "$work/said" || fail "a prefix named $name: $status, $(cat "$work/said")"
	echo "    a prefix named $name: refused ($(cat "$work/said"))"
done

"$root/tests/linux_desktop/crash-table.sh" "$real_prefix" "$bin" || exit 1

# A player whose ~/.config belongs to root (what a graphical program run with sudo leaves): the
# uninstall fails, naming it, and keeps everything, the Windows side too, to be run again.
player=4242
chmod 711 "$work"
mkdir -p "$work/player/home"
# The checkout may be in a folder only root can read: the player gets copies of what it runs.
cp "$root/tests/wine/prefix.sh" "$bin/quarrion_shell_setup.exe" "$work/player/"
chown -R "$player:$player" "$work/player"
as_player() {
	setpriv --reuid=$player --regid=$player --clear-groups env USER=player HOME="$work/player/home" \
		XDG_DATA_HOME="$work/player/home/.local/share" XDG_CONFIG_HOME="$work/player/home/.config" \
		WINEPREFIX="$work/player/prefix" WINEDEBUG=-all "$@" </dev/null >>"$work/player/wine.log" 2>&1
}
as_player "$work/player/prefix.sh" "$work/player/prefix" || fail "as a player: no prefix"
# The registry as it was before setup, for the row after: saved by the server as it ends.
as_player wineserver -k || true
mkdir "$work/player/registry"
cp -p "$work/player/prefix/"*.reg "$work/player/registry/"
as_player wine "$work/player/quarrion_shell_setup.exe" /S /CurrentUser || fail "as a player: setup failed"
theirs=$(find "$work/player/prefix/drive_c/users" -path "*/Tabrix/Quarrion Shell" -type d | head -n 1)
mine=$(cd "$work/player/home/.local/share/applications" && echo quarrion-shell-*.desktop)
[ -n "$theirs" ] && [ -f "$work/player/home/.local/share/applications/$mine" ] || fail "as a player: not installed"
cp "$theirs/uninstall.exe" "$work/player/u.exe"
chown "$player:$player" "$work/player/u.exe"
chown root:root "$work/player/home/.config"
chmod 755 "$work/player/home/.config"
status=0
# In place (_?=, unquoted, as the last word: through cmd), so that its exit status comes back.
as_player wine cmd /c "$(printf 'Z:%s' "$work/player/u.exe" | tr / '\\') /S _?=C:$(printf '%s' \
	"${theirs#"$work/player/prefix/drive_c"}" | tr / '\\')" || status=$?
[ $status -eq $((1155 % 256)) ] || fail "as a player with a ~/.config of root's: the uninstall exited with $status"
own_folder="$work/player/home/.local/share/quarrion-shell/${mine%.desktop}"
for kept in "$work/player/home/.local/share/applications/$mine" "$own_folder/quarrion-shell.png" \
	"$own_folder/prefix" "$theirs/quarrion_shell.exe" "$theirs/uninstall.exe"; do
	[ -e "$kept" ] || fail "as a player with a ~/.config of root's: the failed uninstall removed $kept"
done
as_player wine reg query 'HKCU\Software\Classes\quarrion\shell\open\command' ||
	fail "as a player with a ~/.config of root's: the failed uninstall removed the registration"
as_player wineserver -k || true
echo "check-linux-desktop: a ~/.config that cannot be written fails the uninstall, which keeps everything ($(seconds "$start") s)"
# A Wine server killed right after setup (the OOM killer, a logout) before it saved the registry:
# the registry as before setup, the files and the Linux side as setup left them. The uninstall,
# with no Apps entry to name the registration, finds it by the prefix and the mode.
chown "$player:$player" "$work/player/home/.config"
cp -p "$work/player/registry/"*.reg "$work/player/prefix/"
status=0
as_player wine cmd /c "$(printf 'Z:%s' "$work/player/u.exe" | tr / '\\') /S _?=C:$(printf '%s' \
	"${theirs#"$work/player/prefix/drive_c"}" | tr / '\\')" || status=$?
as_player wineserver -k || true
[ $status -eq 0 ] || fail "the registry lost: the uninstall exited with $status"
[ -z "$(find "$work/player/home" -name 'quarrion-shell*')" ] && ! grep -q quarrion "$work/player/home/.config/mimeapps.list" 2>/dev/null ||
	fail "the registry lost: the uninstall left $(find "$work/player/home" -name 'quarrion-shell*') $(cat "$work/player/home/.config/mimeapps.list" 2>/dev/null)"
echo "check-linux-desktop: the registry lost after setup: the uninstall still takes the Linux side away ($(seconds "$start") s)"
rm -f "$record"
wine_run reg delete 'HKLM\Software\Dunmarch\Quarrion' /f /reg:32 || true
echo "check-linux-desktop: each uninstall removed its entry and only its default, and kept the rest ($(seconds "$start") s)"
