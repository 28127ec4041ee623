#!/bin/sh
# clang-format, clang-tidy and cppcheck over every source file; fails on any finding.
# The files to check are the project's own in each build's compile database: native, windows-x86,
# fuzz and bench, which must all have been configured.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd -P)

# The project's own sources in a compile database, one per line (GoogleTest's are not ours).
sources() {
	python3 - "$root" "build/$1/compile_commands.json" <<'PY'
import json, os, sys
root, database = sys.argv[1], sys.argv[2]
seen = set()
for entry in json.load(open(database)):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    relative = os.path.relpath(path, root)
    if relative.startswith(("..", "build" + os.sep)) or relative in seen:
        continue
    seen.add(relative)
    print(relative)
PY
}

echo "clang-format"
# shellcheck disable=SC2046
clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.hpp')

# Each file once: the portable ones with the native build, the rest with their own.
native=$(sources native)
others() { sources "$1" | grep -vxF "$native" || true; }
# clang-tidy on the files read from standard input, a few to a run, as many runs at once as there
# are processors: it is the longest of the checks.
tidy() { xargs -r -n 3 -P "$(nproc)" clang-tidy --quiet "$@"; }

echo "clang-tidy, portable code"
echo "$native" | tidy -p build/native
for build in fuzz bench; do
	others "$build" | tidy -p "build/$build"
done

echo "clang-tidy, Windows code (against the mingw-w64 headers)"
cxx=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*-posix/include/c++ | head -n 1)
others windows-x86 | tidy -p build/windows-x86 --extra-arg=--target=i686-w64-mingw32 \
	--extra-arg=-isystem"$cxx" --extra-arg=-isystem"$cxx/i686-w64-mingw32" \
	--extra-arg=-isystem"$cxx/backward"

echo "cppcheck"
# Table rows are read through GetParam(), which cppcheck cannot follow: unusedStructMember there.
# shellcheck disable=SC2046
cppcheck --quiet --error-exitcode=1 --std=c++20 --language=c++ --inline-suppr \
	--enable=warning,style,performance,portability --library=googletest --library=windows \
	--suppress=missingIncludeSystem --suppress=unmatchedSuppression \
	--suppress='unusedStructMember:tests/*' -I launcher -I linux_desktop -I install_record -I windows -I tests/support \
	-D_WIN32 -DUNICODE $(git ls-files '*.cpp')
echo "static analysis: clean"
