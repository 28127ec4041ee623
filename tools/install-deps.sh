#!/bin/sh
# Installs the Debian packages the build and the tests need; does nothing when all are present.
set -eu

packages="cmake make strace g++ googletest libbenchmark-dev clang libclang-rt-14-dev clang-tidy clang-format cppcheck g++-mingw-w64-i686 wine wine32:i386 wine64 python3-pefile python3-jsonschema faketime nsis osslsigncode openssl git fonts-wqy-microhei firefox-esr xdg-utils desktop-file-utils libglib2.0-bin xvfb xdotool xdg-desktop-portal xdg-desktop-portal-gtk dbus chromium kde-cli-tools bubblewrap flatpak ostree"

missing=""
for p in $packages; do
	dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
	echo "missing packages:$missing (run as root, or install them yourself)" >&2
	exit 1
fi
echo "installing:$missing"
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null
