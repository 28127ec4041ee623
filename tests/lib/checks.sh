# What the shell checks share; sourced by each, after it sets `check` to its own name.

fail() {
	echo "$check: FAILED: $*" >&2
	exit 1
}

# Seconds since START (from date +%s).
seconds() { echo $(($(date +%s) - $1)); }

# Runs COMMAND... every quarter second until it succeeds, for at most SECONDS; fails when it never
# does. Usage: wait_until SECONDS COMMAND...
wait_until() {
	tries=$(($1 * 4))
	shift
	until "$@"; do
		[ "$tries" -gt 0 ] || return 1
		tries=$((tries - 1))
		sleep 0.25
	done
}

# A home as the player had it, and as they have it again after an install and an uninstall:
# every path below FOLDER..., with its type, mode, link target and, for a file, its checksum.
snapshot() {
	find "$@" -mindepth 1 -printf '%p|%y|%m|%l|' \
		-exec sh -c '[ -f "$1" ] && [ ! -L "$1" ] && sha256sum <"$1" | cut -c1-64 || echo' sh {} \; | sort
}

# Holds a POSIX lock on the first byte of FILE, as Wine takes a Windows program's lock, until the
# file HELD, made once the lock is taken, is removed; the holder's process id in $holder.
# Usage: hold_lock FILE HELD
hold_lock() {
	python3 -c 'import fcntl, os, sys, time
with open(sys.argv[1], "a") as lock:
    fcntl.lockf(lock, fcntl.LOCK_EX, 1, 0, 0)
    open(sys.argv[2], "w").close()
    while os.path.exists(sys.argv[2]):
        time.sleep(0.05)' "$1" "$2" &
	holder=$!
	wait_until 10 test -e "$2" || fail "the lock on $1 was not taken"
}
