#!/bin/sh
# Usage: check-release.sh WINEPREFIX
# Checks the release as someone outside the project would, with no network:
# 1. two clean clones of the commit, in different folders, each run `make dist` one after the
#    other; every file of the two releases must be the same bytes, and hold no build path;
# 2. a throwaway CA and code-signing certificate are made; a signed `make dist` never shows the
#    password; `make verify-dist` accepts its signatures, and the uninstaller that the signed
#    installer writes (installed silently in the private Wine prefix) is signed too;
# 3. `make verify-dist` refuses the release with one byte changed, with or without new checksums.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$1
[ -f "$prefix/.quarrion-private-prefix-2" ] || { echo "not the tests' private prefix: $prefix" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset SOURCE_DATE_EPOCH # each build takes its commit's time, as a user's would
files="quarrion_shell.exe quarrion_shell_setup.exe SHA256SUMS"

fail() {
	echo "check-release: FAILED: $*" >&2
	exit 1
}
# Runs make in a clone, its output to a log that is shown when it fails.
run_make() {
	clone=$1
	log=$2
	shift 2
	(cd "$clone" && make "$@") >"$log" 2>&1 || { tail -n 40 "$log" >&2; fail "make $* in $clone"; }
}
seconds() { echo $(($(date +%s) - $1)); }
flip_middle_byte() {
	/usr/bin/python3 -c 'import sys
p = sys.argv[1]
b = bytearray(open(p, "rb").read())
b[len(b) // 2] ^= 0xFF
open(p, "wb").write(b)' "$1"
}

start=$(date +%s)
first="$work/a"
second="$work/elsewhere/second-clone"
git clone -q "$root" "$first"
git clone -q "$root" "$second"
run_make "$first" "$work/first.log" dist
run_make "$second" "$work/second.log" dist
for f in $files; do
	cmp "$first/dist/$f" "$second/dist/$f" || fail "$f differs between two builds of one commit"
	for clone in "$first" "$second"; do
		if grep -q "$work" "$clone/dist/$f" || strings -el "$clone/dist/$f" | grep -q "$work"; then
			fail "$f holds its build path"
		fi
	done
done
# From a clean checkout, the program the tests ran is the one that ships.
tested="$root/build/windows-x86/release/quarrion_shell.exe"
if [ -z "$(git -C "$root" status --porcelain)" ] && [ -f "$tested" ]; then
	cmp "$tested" "$first/dist/quarrion_shell.exe" || fail "the release's program is not the one tested"
fi
echo "check-release: two clean builds are the same bytes ($(seconds "$start") s):"
sed 's/^/    /' "$first/dist/SHA256SUMS"

start=$(date +%s)
keys="$work/keys"
mkdir "$keys"
cat >"$keys/ca.cnf" <<'CONF'
[req]
distinguished_name = dn
prompt = no
[dn]
CN = Quarrion Release Tests Throwaway CA
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CONF
(
	cd "$keys"
	openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
		-config ca.cnf -extensions ca
	openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
		-subj "/CN=Quarrion Release Tests Signer"
	openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out signer.pem \
		-days 2 -extfile ca.cnf -extensions signer
	openssl rand -hex 16 >password
	openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.p12 \
		-passout file:password
) >"$work/keys.log" 2>&1 || { cat "$work/keys.log" >&2; fail "making the throwaway certificates"; }

signed="$work/signed"
run_make "$first" "$work/signed.log" dist DIST="$signed" SIGN_PFX="$keys/signer.p12" \
	SIGN_PASSWORD_FILE="$keys/password"
if grep -q "$(cat "$keys/password")" "$work/signed.log"; then
	fail "the signing password appeared in the build's output"
fi
run_make "$first" "$work/verify.log" verify-dist DIST="$signed" SIGN_CA="$keys/ca.pem"

# The uninstaller is written by the installer; install for one user, check it, remove it again.
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
"$root/tests/wine/wine-run.sh" "$prefix" "$signed/quarrion_shell_setup.exe" /S /CurrentUser
uninstaller=$(find "$prefix/drive_c/users" -path "*/Programs/Tabrix/Quarrion Shell/uninstall.exe")
[ -n "$uninstaller" ] || fail "the signed installer wrote no uninstaller"
osslsigncode verify -CAfile "$keys/ca.pem" -in "$uninstaller" >"$work/uninstaller.log" 2>&1 ||
	{ cat "$work/uninstaller.log" >&2; fail "the uninstaller's signature does not verify"; }
# As from Apps: it hands over to a copy of itself and returns; the copy removes the folder.
"$root/tests/wine/wine-run.sh" "$prefix" "$uninstaller" /S
waited=0
while [ -e "$uninstaller" ] && [ $waited -lt 60 ]; do
	sleep 0.5
	waited=$((waited + 1))
done
[ ! -e "$uninstaller" ] || fail "the signed uninstaller did not uninstall"
echo "check-release: signed program, installer and uninstaller verify against a throwaway CA ($(seconds "$start") s)"

start=$(date +%s)
tampered="$work/tampered"
cp -r "$signed" "$tampered"
flip_middle_byte "$tampered/quarrion_shell_setup.exe"
if (cd "$first" && make verify-dist DIST="$tampered") >"$work/tampered.log" 2>&1; then
	fail "verify-dist accepted a changed byte"
fi
(cd "$tampered" && sha256sum quarrion_shell.exe quarrion_shell_setup.exe >SHA256SUMS)
if (cd "$first" && make verify-dist DIST="$tampered" SIGN_CA="$keys/ca.pem") >>"$work/tampered.log" 2>&1; then
	fail "verify-dist accepted a changed byte under new checksums"
fi
echo "check-release: verify-dist refuses a changed byte, by checksum and by signature ($(seconds "$start") s)"
