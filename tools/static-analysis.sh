#!/bin/sh
# clang-format, clang-tidy and cppcheck over every source file; fails on any finding.
# Needs the compile databases of the native, windows-x86, fuzz and bench builds.
set -eu
cd "$(dirname "$0")/.."

portable="launcher/link.cpp launcher/install_path.cpp launcher/failure_message.cpp
	linux_desktop/desktop_files.cpp tests/unit/*.cpp"
windows="launcher/bas_main.cpp launcher/read_registry_value.cpp launcher/win_main.cpp
	linux_desktop/desktop_main.cpp linux_desktop/linux_files.cpp
	tests/support/*.cpp tests/e2e/*.cpp tests/identity/*.cpp tests/installer/*.cpp
	tests/bench/click_to_game.cpp tests/bench/minimal_launcher.cpp"

echo "clang-format"
# shellcheck disable=SC2046
clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.hpp')

echo "clang-tidy, portable code"
# shellcheck disable=SC2086
clang-tidy --quiet -p build/native $portable
clang-tidy --quiet -p build/fuzz tests/fuzz/link_fuzzer.cpp
clang-tidy --quiet -p build/bench tests/bench/link_benchmark.cpp

echo "clang-tidy, Windows code (against the mingw-w64 headers)"
cxx=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*-posix/include/c++ | head -n 1)
# shellcheck disable=SC2086
clang-tidy --quiet -p build/windows-x86 --extra-arg=--target=i686-w64-mingw32 \
	--extra-arg=-isystem"$cxx" --extra-arg=-isystem"$cxx/i686-w64-mingw32" \
	--extra-arg=-isystem"$cxx/backward" $windows

echo "cppcheck"
# Table rows are read through GetParam(), which cppcheck cannot follow: unusedStructMember there.
# shellcheck disable=SC2046
cppcheck --quiet --error-exitcode=1 --std=c++20 --language=c++ --inline-suppr \
	--enable=warning,style,performance,portability --library=googletest --library=windows \
	--suppress=missingIncludeSystem --suppress=unmatchedSuppression \
	--suppress='unusedStructMember:tests/*' -I launcher -I linux_desktop -I tests/support \
	-D_WIN32 -DUNICODE launcher linux_desktop tests/unit tests/fuzz tests/support tests/e2e tests/identity \
	tests/installer tests/bench
echo "static analysis: clean"
