#!/bin/sh
# Usage: build-earlier.sh COMMIT OUTPUT_FOLDER
# Builds the quarrion_shell_setup.exe of an earlier commit once, for rows that install an earlier
# build beside or over this one, and leaves it at OUTPUT_FOLDER/quarrion_shell_setup.exe. The
# commit's tree is exported with git archive, from the repository this script lives in, into
# OUTPUT_FOLDER/src, and only what its setup needs is built there: its release preset (the
# programs and the installer, no tests), or for commits without one its Windows preset with the
# tests left out, and only the installer's target. Run again for the same commit, it does nothing:
# OUTPUT_FOLDER/commit names the commit the setup beside it was built from, and is written last.
# Builds take /tmp/quarrion-build.lock, as every build of any tree here does.
set -eu

if [ $# -ne 2 ] || [ -z "$1" ] || [ -z "$2" ]; then
	echo "usage: $0 COMMIT OUTPUT_FOLDER" >&2
	exit 2
fi
given=$1
here=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd)
repo=$(git -C "$here" rev-parse --show-toplevel)
if ! commit=$(git -C "$repo" rev-parse --verify --quiet "$given^{commit}"); then
	echo "build-earlier.sh: $given is not a commit of $repo" >&2
	exit 2
fi
mkdir -p -- "$2"
out=$(CDPATH='' cd -- "$2" && pwd)
setup=$out/quarrion_shell_setup.exe
stamp=$out/commit

built() { [ -f "$setup" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$commit" ]; }
built && exit 0

# One build at a time on this machine; the stamp is looked at again once the lock is held, as
# another run may have built this commit meanwhile.
lock=/tmp/quarrion-build.lock
if [ "${QUARRION_EARLIER_LOCKED:-}" != "$lock" ]; then
	"$repo/tools/install-deps.sh"
	QUARRION_EARLIER_LOCKED=$lock exec flock "$lock" "$0" "$commit" "$out"
fi
built && exit 0

rm -f -- "$stamp" "$setup"
src=$out/src
rm -rf -- "$src"
mkdir -- "$src"
git -C "$repo" archive --format=tar "$commit" | tar -x -C "$src" -f -

# An exported tree is no git checkout: its time stamps come from the commit's time, as they
# would have in a checkout of it.
SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH

cd "$src"
presets=$(cat CMakePresets.json 2>/dev/null || true)
if printf '%s\n' "$presets" | grep -q '"name": *"release"'; then
	preset=release
elif printf '%s\n' "$presets" | grep -q '"name": *"windows-x86"'; then
	preset=windows-x86
else
	echo "build-earlier.sh: $commit has neither a release nor a windows-x86 preset" >&2
	exit 1
fi
build=$src/build/$preset
cmake --preset "$preset" -DQUARRION_BUILD_TESTS=OFF >"$out/configure.log" 2>&1 || {
	tail -n 40 "$out/configure.log" >&2
	echo "build-earlier.sh: configuring $commit failed (log: $out/configure.log)" >&2
	exit 1
}
set --
if grep -q 'add_custom_target(installer ' installer/CMakeLists.txt 2>/dev/null; then
	set -- --target installer
fi
cmake --build "$build" --parallel 2 "$@" >"$out/build.log" 2>&1 || {
	tail -n 40 "$out/build.log" >&2
	echo "build-earlier.sh: building $commit failed (log: $out/build.log)" >&2
	exit 1
}

made=$build/bin/quarrion_shell_setup.exe
if [ ! -f "$made" ]; then
	made=$(find "$build" -name quarrion_shell_setup.exe -type f | head -n 1)
fi
if [ -z "$made" ] || [ ! -f "$made" ]; then
	echo "build-earlier.sh: the build of $commit made no quarrion_shell_setup.exe" >&2
	exit 1
fi
cp -- "$made" "$setup.new"
mv -- "$setup.new" "$setup"
echo "$commit" >"$stamp.new"
mv -- "$stamp.new" "$stamp"
echo "$setup: quarrion_shell_setup.exe of $commit"
