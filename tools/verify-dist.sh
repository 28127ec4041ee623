#!/bin/sh
# Usage: DIST=<folder> [SIGN_CA=<CA, PEM> SIGNER_SHA256=<fingerprint> | ALLOW_ANY_SIGNER=1]
#        [SIGN_TSA_CA=<time-stamping authority's CA, PEM>] verify-dist.sh
# Checks a release folder: SHA256SUMS lists every file in it by its exact name, and every file
# matches. Given a CA, each executable must also carry a primary Authenticode signature in SHA-256,
# by a code-signing certificate that chains to the CA and is the publisher's own (its SHA-256
# fingerprint, with or without colons); given a TSA's CA, that signature must carry an RFC 3161
# time stamp that verifies against it. Any mismatch: a message and exit status 1.
set -eu
dist=${DIST:-dist}
ca=${SIGN_CA:-}
tsa_ca=${SIGN_TSA_CA:-}
signer=$(printf '%s' "${SIGNER_SHA256:-}" | tr -d ':' | tr 'a-f' 'A-F')
. "$(dirname "$0")/release-files.sh"
fail() {
	echo "verify-dist: FAILED: $*" >&2
	exit 1
}

[ -f "$dist/SHA256SUMS" ] || fail "$dist/SHA256SUMS is missing"
# Names are compared as text, never as patterns, and each file is read by its exact name.
listed=" "
while IFS= read -r line || [ -n "$line" ]; do
	printf '%s\n' "$line" | grep -Eqx '[0-9a-f]{64}  [A-Za-z0-9._-]+' ||
		fail "SHA256SUMS has a line that is not '<sha256>  <file name>': $line"
	name=${line#*  }
	case "$listed" in *" $name "*) fail "SHA256SUMS lists $name twice" ;; esac
	[ "$name" != SHA256SUMS ] && [ -f "$dist/$name" ] && [ ! -L "$dist/$name" ] ||
		fail "SHA256SUMS lists $name, which is not a file in $dist"
	sum=$(sha256sum <"$dist/$name")
	[ "${sum%% *}" = "${line%%  *}" ] || fail "$name does not match its line in SHA256SUMS"
	listed="$listed$name "
done <"$dist/SHA256SUMS"
for f in $release_summed; do
	case "$listed" in *" $f "*) ;; *) fail "SHA256SUMS does not list $f" ;; esac
done
for entry in "$dist"/* "$dist"/.[!.]* "$dist"/..?*; do
	[ -e "$entry" ] || [ -L "$entry" ] || continue
	name=${entry##*/}
	case "$listed SHA256SUMS " in *" $name "*) ;; *) fail "$dist holds $name, which SHA256SUMS does not list" ;; esac
done
echo "verify-dist: every file in $dist is listed in SHA256SUMS and matches it"

if [ -z "$ca" ]; then
	[ -z "$tsa_ca" ] || fail "SIGN_TSA_CA checks the time stamps of signatures, which only SIGN_CA checks; give SIGN_CA too"
	exit 0
fi
if [ -z "$signer" ]; then
	[ "${ALLOW_ANY_SIGNER:-}" = 1 ] ||
		fail "with SIGN_CA alone a signature by any certificate that $ca issued would pass; give the publisher's SIGNER_SHA256=<certificate's SHA-256 fingerprint>, or ALLOW_ANY_SIGNER=1 to accept any"
	echo "verify-dist: warning: no SIGNER_SHA256, so any code-signing certificate that $ca issued passes" >&2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "$tsa_ca" ]; then set -- -TSA-CAfile "$tsa_ca"; else set --; fi
for f in $release_programs; do
	if ! report=$(osslsigncode verify -CAfile "$ca" "$@" -in "$dist/$f" 2>&1); then
		echo "$report" >&2
		fail "$f: its signature does not verify against $ca"
	fi
	# Windows shows and checks the primary signature; nested ones come after it.
	primary=$(printf '%s\n' "$report" | sed '/^Signature Index: 1/,$d')
	if [ -n "$tsa_ca" ] && ! printf '%s\n' "$primary" | grep -q '^Timestamp Server Signature verification: ok$'; then
		fail "$f: its signature carries no time stamp that verifies against $tsa_ca"
	fi
	digests=$(printf '%s\n' "$primary" | grep 'Message digest algorithm')
	[ -n "$digests" ] && ! printf '%s\n' "$digests" | grep -qv ': SHA256$' ||
		fail "$f: its primary signature is not SHA-256"
	serial=$(printf '%s\n' "$primary" | sed -n "/^Signer's certificate:/,/Serial/s/^[[:space:]]*Serial : *//p" | head -n 1)
	osslsigncode extract-signature -pem -in "$dist/$f" -out "$work/$f.p7" >/dev/null 2>&1 &&
		openssl pkcs7 -in "$work/$f.p7" -print_certs -out "$work/$f.certs" ||
		fail "$f: its signature's certificates cannot be read"
	# The signing certificate is the one of the signer's serial number among those it carries.
	awk -v out="$work/$f.cert" '/BEGIN CERT/ { n++ } n { print > (out n) }' "$work/$f.certs"
	found=""
	for cert in "$work/$f.cert"*; do
		[ "$(openssl x509 -in "$cert" -noout -serial)" = "serial=$serial" ] && found=$cert
	done
	[ -n "$serial" ] && [ -n "$found" ] || fail "$f: the signing certificate is not in its signature"
	openssl x509 -in "$found" -noout -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing' ||
		fail "$f: signed by a certificate without the code-signing usage"
	fingerprint=$(openssl x509 -in "$found" -noout -fingerprint -sha256 | sed 's/.*=//' | tr -d ':')
	[ -z "$signer" ] || [ "$fingerprint" = "$signer" ] ||
		fail "$f: signed by $(openssl x509 -in "$found" -noout -subject), SHA-256 $fingerprint, not by the publisher's certificate $signer"
	echo "verify-dist: $f: SHA-256 signature by $(openssl x509 -in "$found" -noout -subject -nameopt oneline | sed 's/^subject=//') verified against $ca"
done
