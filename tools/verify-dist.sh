#!/bin/sh
# Usage: verify-dist.sh DIST [CA_PEM]
# Checks a release folder against its SHA256SUMS and, given a CA certificate, the Authenticode
# signature of each executable against that CA. Any mismatch: a message and exit status 1.
set -eu
dist=$1
ca=${2:-}
files="quarrion_shell.exe quarrion_shell_setup.exe"
fail() {
	echo "verify-dist: FAILED: $*" >&2
	exit 1
}

[ -f "$dist/SHA256SUMS" ] || fail "$dist/SHA256SUMS is missing"
for f in $files; do
	grep -q "^[0-9a-f]\{64\}  $f\$" "$dist/SHA256SUMS" || fail "SHA256SUMS does not list $f"
done
if ! report=$(cd "$dist" && sha256sum --check --strict SHA256SUMS 2>&1); then
	echo "$report" >&2
	fail "the files in $dist do not match SHA256SUMS"
fi
echo "verify-dist: every file in $dist matches SHA256SUMS"

[ -n "$ca" ] || exit 0
for f in $files; do
	if ! report=$(osslsigncode verify -CAfile "$ca" -in "$dist/$f" 2>&1); then
		echo "$report" >&2
		fail "$f: its signature does not verify against $ca"
	fi
	echo "$report" | grep -q "Message digest algorithm *: SHA256" ||
		fail "$f: not signed with SHA-256"
	echo "verify-dist: $f: signature verified against $ca"
done
