#!/bin/sh
# Usage: check-silent-boxes.sh SCRIPT.nsi [PART.nsh...]
# A silent install or uninstall must never wait on a box nobody sees: every MessageBox of the
# script and its parts needs a silent default (/SD), and MultiUser's own boxes must be out of
# reach. Of those, the two "needs an administrator" boxes only exist for the Admin and Power
# execution levels, and the "all users not possible" one is answered first by the script's own
# check.
set -eu
script=$1
status=0
if grep -n 'MessageBox' "$@" | grep -v '/SD ' | grep -v '^[^:]*:[0-9]*:[[:space:]]*;'; then
	echo "the MessageBox above has no silent default (/SD)" >&2
	status=1
fi
if ! grep -q '^!define MULTIUSER_EXECUTIONLEVEL Highest' "$script"; then
	echo "$script: MultiUser's administrator boxes (no silent default) are reachable" >&2
	status=1
fi
if [ "$(cat "$@" | grep -c 'insertmacro RefuseAllUsersWithoutAdministrator')" -ne 2 ]; then
	echo "$script: MultiUser's all-users box (no silent default) is reachable" >&2
	status=1
fi
exit $status
