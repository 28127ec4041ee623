#!/bin/sh
# Usage (make dist passes these through the environment, so no path is ever parsed by a shell):
#   DIST=<folder> [ALLOW_DIRTY=1]
#   [SIGN_PFX=<PKCS#12> SIGN_PASSWORD_FILE=<file> [SIGN_TIMESTAMP_URL=<url>] [SIGN_CA=<CA, PEM>]]
# Builds the release apart from the tests and puts it in DIST: the program, its installer,
# BUILDINFO (the commit, and whether the tree was clean), the third-party notices, the bill of
# materials (SPDX) and SHA256SUMS over all of them. DIST is
# replaced only once everything is built and, when signed, verified; a DIST holding anything but
# a previous release is refused, and nothing in it but a release's own files is ever deleted.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd -P)
dist=${DIST:-dist}
. "$root/tools/release-files.sh"
fail() {
	echo "make dist: $*" >&2
	exit 1
}
absolute() { realpath -m -- "$1"; }

if [ -e "$dist" ] || [ -L "$dist" ]; then
	[ -d "$dist" ] && [ ! -L "$dist" ] || fail "DIST=$dist exists and is not a folder"
	for entry in "$dist"/* "$dist"/.[!.]* "$dist"/..?*; do
		[ -e "$entry" ] || [ -L "$entry" ] || continue
		name=${entry##*/}
		case " $release_files " in *" $name "*) [ -f "$entry" ] && [ ! -L "$entry" ] && continue ;; esac
		fail "DIST=$dist holds $name, which is not part of a release; give a new or empty folder, or one holding a previous release only"
	done
fi

case "$root" in *[\;\"]*) fail "CMake cannot build in a folder whose path holds ; or \": $root" ;; esac

# Only this project's own repository says which commit this is, never one it is unpacked in.
cd "$root"
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$root" ]; then
	commit=$(git rev-parse HEAD)
	tree=clean
	if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
		[ "${ALLOW_DIRTY:-}" = 1 ] ||
			fail "tracked files have uncommitted changes (see git status), so this build would pass for commit $commit while it is not; commit them, or set ALLOW_DIRTY=1 to build anyway (BUILDINFO then says so)"
		tree="modified (ALLOW_DIRTY=1)"
	fi
else
	commit="none (not a git checkout)"
	tree=unknown
fi

preset=release
if [ -n "${SIGN_PFX:-}" ]; then
	[ -n "${SIGN_PASSWORD_FILE:-}" ] || fail "SIGN_PFX needs SIGN_PASSWORD_FILE"
	preset=release-signed
	rm -rf "$root/build/release-signed"
fi
cmake --preset "$preset" \
	-DQUARRION_SIGN_PFX="${SIGN_PFX:+$(absolute "$SIGN_PFX")}" \
	-DQUARRION_SIGN_PASSWORD_FILE="${SIGN_PASSWORD_FILE:+$(absolute "$SIGN_PASSWORD_FILE")}" \
	-DQUARRION_SIGN_TIMESTAMP_URL="${SIGN_TIMESTAMP_URL:-}"
cmake --build --preset "$preset"

build="$root/build/$preset"
staged="$build/dist"
rm -rf "$staged"
mkdir "$staged"
cp "$build/release/quarrion_shell.exe" "$build/bin/quarrion_shell_setup.exe" "$staged/"
printf 'commit: %s\ntree: %s\n' "$commit" "$tree" >"$staged/BUILDINFO"
cp "$build/installer/THIRD-PARTY-NOTICES.txt" "$staged/"
# shellcheck disable=SC2086
/usr/bin/python3 "$root/tools/third_party.py" sbom --info "$build/release-info.json" \
	--commit "$commit" --dist "$staged" --desktop "$build/release/quarrion_desktop.exe" \
	--record "$build/release/quarrion_record.exe" \
	"$staged/quarrion_shell.spdx.json" \
	$release_programs BUILDINFO THIRD-PARTY-NOTICES.txt
# shellcheck disable=SC2086
(cd "$staged" && sha256sum $release_summed >SHA256SUMS)

# What was signed is checked before it is called a release: chain, code-signing usage, validity,
# SHA-256 as the primary signature, and the signer being the certificate in SIGN_PFX.
if [ -n "${SIGN_PFX:-}" ]; then
	# A PKCS#12 file exported by older Windows may need OpenSSL's legacy ciphers.
	signer=$({ openssl pkcs12 -in "$SIGN_PFX" -passin "file:$SIGN_PASSWORD_FILE" -nokeys -clcerts 2>/dev/null ||
		openssl pkcs12 -legacy -in "$SIGN_PFX" -passin "file:$SIGN_PASSWORD_FILE" -nokeys -clcerts; } |
		openssl x509 -noout -fingerprint -sha256) || fail "cannot read the certificate in $SIGN_PFX"
	DIST="$staged" SIGN_CA="${SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}" \
		SIGNER_SHA256="${signer#*=}" "$root/tools/verify-dist.sh" ||
		fail "the signed release does not verify; give the CA it chains to as SIGN_CA if it is not a system one"
fi

mkdir -p "$dist"
for f in $release_files; do
	rm -f "$dist/$f"
	cp "$staged/$f" "$dist/"
done
cat "$dist/SHA256SUMS"
[ "$tree" = clean ] || echo "make dist: warning: this release is not a clean commit's build (BUILDINFO: tree: $tree)" >&2
