#!/bin/sh
# Usage: crash-table.sh WINEPREFIX BIN [all]
# The Linux registrar killed at each step that changes the home, then run again: the home must
# end as it was before the first setup, the player's lines and files byte for byte. A step is the
# Nth call the registrar makes of one system call, where strace kills it (SIGKILL, the call not
# made): fsync, before each file it writes is renamed into place; clone, before each Linux program
# it starts (ln, rm, chmod, update-desktop-database); wait4, just after one started. Each row runs
# in a throwaway home (HOME and XDG_* under a temporary folder), in the tests' private prefix:
#   register N:   setup killed at step N, setup again (ours first on the line), then the uninstall;
#   abandon N:    setup killed at step N, then the uninstall without setup again;
#   unregister N: setup, the uninstall killed at step N, then the uninstall again.
# Without `all`, the rows below; with it, every step of each, until the registrar finishes before
# the step (at least the steps a fresh home has are required).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$1
bin=$(cd "$2" && pwd)
check=crash-table
. "$root/tests/lib/checks.sh"
"$root/tests/wine/prefix.sh" "$prefix"
[ -f "$prefix/.quarrion-private-prefix-2" ] || fail "not the tests' private prefix: $prefix"
work=$(mktemp -d)
start=$(date +%s)
export WINEPREFIX="$prefix" WINEDEBUG=-all HOME="$work/home" XDG_DATA_HOME="$work/data"
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$WINEPREFIX/drive_c/qs-crash"
cp "$bin/quarrion_shell.exe" "$WINEPREFIX/drive_c/qs-crash/"
printf '\211PNG\r\n\032\n' >"$work.png"
icon="Z:$(printf '%s' "$work.png" | tr / '\\')"
trap 'rm -rf "$work" "$work.png" "$work.said" "$work.log" "$work.after" "$work.holding"' EXIT
registrar() { # action, then strace's options to kill it, if any
	action=$1
	shift
	set -- "$bin/quarrion_desktop.exe" "$action" CurrentUser 'C:\qs-crash'
	[ "$action" = unregister ] || set -- "$@" "$icon"
	# Wine's services inherit the output of what starts them: files, never a pipe.
	wine "$@" </dev/null >"$work.said" 2>>"$work.log"
}
said() { cat "$work.said" 2>/dev/null; }
# A home with the player's defaults: another handler of ours, no last line end, mode 600.
seed() {
	rm -rf "$work" && mkdir -p "$HOME" "$XDG_CONFIG_HOME"
	printf '[Default Applications]\ntext/html=firefox-esr.desktop;\nx-scheme-handler/quarrion=native.desktop;' \
		>"$XDG_CONFIG_HOME/mimeapps.list"
	chmod 600 "$XDG_CONFIG_HOME/mimeapps.list"
}
succeeds() { # action, what the row is
	registrar "$1" && [ "$(tail -n 1 "$work.said" | tr -d '\r')" = 'quarrion_desktop: finished' ] ||
		fail "$2: $1 failed: $(said)"
}
# Runs the registrar with strace killing it at the Nth call of SYSCALL; false when it finished
# before that call. Usage: killed ACTION SYSCALL N
killed() {
	status=0
	strace -o /dev/null -e trace="$2" -e inject="$2:error=EIO:signal=KILL:when=$3" \
		wine "$bin/quarrion_desktop.exe" "$1" CurrentUser 'C:\qs-crash' \
		$([ "$1" = unregister ] || printf '%s' "$icon") </dev/null >"$work.said" 2>>"$work.log" || status=$?
	[ $status -eq 137 ] || { [ $status -eq 0 ] && return 1; } || fail "$1 at $2 $3: exit $status: $(said)"
}
# One row; false when the step was not reached. Usage: row KIND SYSCALL N
row() {
	seed
	before=$(snapshot "$work")
	[ "$1" != unregister ] || succeeds register "$*"
	killed "$([ "$1" = unregister ] && echo unregister || echo register)" "$2" "$3" || return 1
	if [ "$1" = register ]; then
		succeeds register "$*"
		grep -q "^x-scheme-handler/quarrion=quarrion-shell-[^;]*-currentuser.desktop;native.desktop;$" \
			"$XDG_CONFIG_HOME/mimeapps.list" || fail "$*: setup again did not put ours first: $(cat "$XDG_CONFIG_HOME/mimeapps.list")"
	fi
	succeeds unregister "$*"
	[ "$(snapshot "$work")" = "$before" ] ||
		fail "$*: the home is not as it was: $(snapshot "$work" >"$work.after"; printf '%s\n' "$before" | diff - "$work.after")"
}
# Once before the rows, so that Wine's own start (its server, its services) is not counted.
seed
succeeds register warm-up
succeeds unregister warm-up
rows=0
if [ "${3:-}" = all ]; then
	# The steps of a fresh home, at least: fsync and clone before each file and program of
	# setup; the uninstall writes mimeapps.list and starts chmod, rm for each link and the lock.
	for kind in register abandon unregister; do
		for call in fsync:6 clone:6 wait4:6; do
			n=1
			while row "$kind" "${call%:*}" $n; do n=$((n + 1)) rows=$((rows + 1)); done
			least=${call#*:}
			[ "$kind" != unregister ] || least=$([ "${call%:*}" = fsync ] && echo 1 || echo 5)
			[ $n -gt "$least" ] || fail "$kind: only $((n - 1)) steps at $call, not the $least a fresh home has"
		done
	done
else
	while read -r kind call n what; do
		row "$kind" "$call" "$n" || fail "$kind $call $n ($what): the step was not reached"
		rows=$((rows + 1))
	done <<'ROWS'
abandon fsync 1 the record of what setup will make, in a home without our folders
register fsync 6 mimeapps.list written, not yet renamed into place
register clone 4 a link in our folder
unregister wait4 4 the last link of our folder being removed
unregister clone 5 the lock's file being removed
ROWS
fi
# Another run, in another prefix perhaps, filling the temporary folder of ours it made (its claim
# held, as Wine holds it: a POSIX lock): setup here keeps it. Let go, as a run killed with its
# Wine server leaves it, the last uninstall takes it away with our folder, and a claim alone that
# such a run left. Links with the names of a temporary folder and of a claim are not ours: the
# folder they lead to keeps its files, and nothing is made where they lead.
seed
mkdir -p "$XDG_DATA_HOME" "$work/theirs" "$XDG_DATA_HOME/.quarrion-shell.new-8-0"
: >"$work/theirs/made"
ln -s "$work/theirs" "$XDG_DATA_HOME/.quarrion-shell.new-12-0"
ln -s "$work/nothing" "$XDG_DATA_HOME/.quarrion-shell.new-8-0.claim"
before=$(snapshot "$work")
: >"$XDG_DATA_HOME/.quarrion-shell.new-16-0.claim"
filling="$XDG_DATA_HOME/.quarrion-shell.new-4-0"
mkdir "$filling" && : >"$filling/made"
hold_lock "$filling.claim" "$work.holding"
succeeds register "another run's folder"
[ -e "$filling/made" ] || fail "a temporary folder that another run fills was taken away"
rm "$work.holding"
wait "$holder"
succeeds unregister "a temporary folder let go"
[ "$(snapshot "$work")" = "$before" ] || fail "a temporary folder let go was left: $(snapshot "$work")"
echo "$check: $rows steps killed, and run again: the home as it was; another run's temporary folder kept while its claim is held, links at temporary names left ($(seconds "$start") s)"
