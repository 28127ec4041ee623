#!/bin/sh
# Usage: check-release.sh WINEPREFIX
# Checks the release as someone outside the project would, with no network:
# 1. two clean clones of the commit, in different folders (one with blanks, ', ` and $ in its
#    path), each run `make dist` one after the other; every file of the two releases must be the
#    same bytes, and hold no build path;
# 2. a throwaway CA and code-signing certificate are made; a signed `make dist` never shows the
#    password; `make verify-dist` accepts its signatures, and the uninstaller that the signed
#    installer writes (installed silently in the private Wine prefix) is signed too;
# 3. `make dist` refuses a DIST holding anything but a release, a tree with uncommitted changes,
#    sources unpacked inside another repository, and a certificate without the code-signing usage;
# 4. `make verify-dist` refuses every release that is not the signed one as it was made;
# 5. the release carries the third-party notices and an SPDX 2.3 bill of materials that validates,
#    and its signatures, time-stamped by a throwaway authority on 127.0.0.1, still verify once the
#    signing certificate has expired (faketime), where unstamped ones do not.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$1
"$root/tests/wine/prefix.sh" "$prefix"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset SOURCE_DATE_EPOCH # each build takes its commit's time, as a user's would
files="quarrion_shell.exe quarrion_shell_setup.exe BUILDINFO THIRD-PARTY-NOTICES.txt quarrion_shell.spdx.json SHA256SUMS"

check=check-release
. "$root/tests/lib/checks.sh"
# Runs make in a clone, its output to a log that is shown when it fails.
run_make() {
	clone=$1
	log=$2
	shift 2
	(cd "$clone" && make "$@") >"$log" 2>&1 || { tail -n 40 "$log" >&2; fail "make $* in $clone"; }
}
flip_middle_byte() {
	/usr/bin/python3 -c 'import sys
p = sys.argv[1]
b = bytearray(open(p, "rb").read())
b[len(b) // 2] ^= 0xFF
open(p, "wb").write(b)' "$1"
}

start=$(date +%s)
first="$work/a"
# Were any part of the build to hand this path to a shell unquoted, the shell would change it and
# the build would fail.
second="$work/else where/it's \`true\` \$HOME"
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
# The notices carry winpthreads' licence; the bill of materials is valid SPDX 2.3 and names the files.
grep -q "^winpthreads" "$first/dist/THIRD-PARTY-NOTICES.txt" &&
	grep -q "Permission is hereby granted, free of charge" "$first/dist/THIRD-PARTY-NOTICES.txt" ||
	fail "THIRD-PARTY-NOTICES.txt lacks winpthreads' notice"
/usr/bin/python3 -c 'import json, jsonschema, sys
document = json.load(open(sys.argv[2]))
jsonschema.validate(document, json.load(open(sys.argv[1])))
names = {f["fileName"] for f in document["files"]}
assert names == {"./quarrion_shell.exe", "./quarrion_shell_setup.exe", "./BUILDINFO", "./THIRD-PARTY-NOTICES.txt"}, names
assert any(p["name"] == "mingw-w64-i686-dev" for p in document["packages"])' \
	"$root/tests/release/spdx-2.3-schema.json" "$first/dist/quarrion_shell.spdx.json" ||
	fail "quarrion_shell.spdx.json is not the SPDX 2.3 bill of materials of the release"
# An edited translation is part of setup: the build makes setup again.
touch "$first/installer/languages/German.nsh"
(cd "$first" && cmake --build --preset release) >"$work/rebuild.log" 2>&1 ||
	{ tail -n 40 "$work/rebuild.log" >&2; fail "the release build did not build again"; }
grep -q "Building quarrion_shell_setup.exe" "$work/rebuild.log" ||
	fail "an edited translation did not rebuild setup"

start=$(date +%s)
refused_make() {
	what=$1
	clone=$2
	shift 2
	if (cd "$clone" && make "$@") >"$work/refused.log" 2>&1; then fail "make $* accepted $what"; fi
}
shared="$work/releases"
mkdir "$shared"
echo "older release notes" >"$shared/notes.txt"
refused_make "a DIST holding another file" "$first" dist DIST="$shared"
[ -f "$shared/notes.txt" ] || fail "make dist deleted a file in DIST that was not its own"
echo "# changed" >>"$first/README.md"
refused_make "a tree with uncommitted changes" "$first" dist DIST="$work/dirty"
git -C "$first" checkout -q README.md
outer="$work/outer"
git init -q "$outer"
git -C "$outer" -c user.name=t -c user.email=t@example.com commit -q --allow-empty -m outer
git -C "$root" archive --prefix=unpacked/ HEAD | tar -x -C "$outer"
refused_make "sources inside another repository, without SOURCE_DATE_EPOCH" "$outer/unpacked" dist
grep -q "not a git checkout" "$work/refused.log" || fail "the enclosing repository was not the reason"
echo "check-release: make dist refuses a foreign file in DIST, a dirty tree and an enclosing repository ($(seconds "$start") s)"

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
[tsa]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[nousage]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CONF
# A certificate of the throwaway CA: NAME, its extensions.
make_cert() {
	openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=Quarrion $1"
	openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -out "$1.pem" \
		-days 30 -extfile ca.cnf -extensions "$2"
	openssl pkcs12 -export -inkey "$1.key" -in "$1.pem" -certfile ca.pem -out "$1.p12" \
		-passout file:password
}
(
	cd "$keys"
	openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 3650 \
		-config ca.cnf -extensions ca
	# A time-stamping authority of its own, as public ones are.
	openssl req -x509 -newkey rsa:2048 -nodes -keyout tsa-ca.key -out tsa-ca.pem -days 3650 \
		-config ca.cnf -extensions ca -subj "/CN=Quarrion Release Tests Throwaway TSA CA"
	openssl req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr -subj "/CN=Quarrion TSA"
	openssl x509 -req -in tsa.csr -CA tsa-ca.pem -CAkey tsa-ca.key -CAcreateserial -out tsa.pem \
		-days 3650 -extfile ca.cnf -extensions tsa
	openssl rand -hex 16 >password
	make_cert signer signer
	make_cert mallory signer
	make_cert nousage nousage
) >"$work/keys.log" 2>&1 || { cat "$work/keys.log" >&2; fail "making the throwaway certificates"; }
fingerprint() { openssl x509 -in "$keys/$1.pem" -noout -fingerprint -sha256 | sed 's/.*=//'; }

# An RFC 3161 authority on 127.0.0.1: openssl ts answers what an HTTP responder hands it.
cat >"$keys/tsa.cnf" <<CONF
[tsa]
default_tsa = authority
[authority]
serial = $keys/tsa.serial
crypto_device = builtin
signer_cert = $keys/tsa.pem
certs = $keys/tsa-ca.pem
signer_key = $keys/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
ess_cert_id_alg = sha256
CONF
echo 01 >"$keys/tsa.serial"
/usr/bin/python3 - "$keys" >"$work/tsa.log" 2>&1 <<'PY' &
import http.server, subprocess, sys
keys = sys.argv[1]
class Authority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", keys + "/tsa.cnf",
                                "-queryfile", "/dev/stdin", "-out", "/dev/stdout"],
                               input=query, capture_output=True, check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
open(keys + "/tsa.port.new", "w").write(str(server.server_port))
__import__("os").replace(keys + "/tsa.port.new", keys + "/tsa.port")
server.serve_forever()
PY
tsa_server=$!
trap 'kill "$tsa_server" 2>/dev/null; rm -rf "$work"' EXIT
wait_until 10 test -s "$keys/tsa.port" || fail "the time-stamping authority did not start"
# Over a previous release, which it replaces.
signed="$work/signed"
cp -r "$first/dist" "$signed"
run_make "$first" "$work/signed.log" dist DIST="$signed" SIGN_PFX="$keys/signer.p12" \
	SIGN_PASSWORD_FILE="$keys/password" SIGN_CA="$keys/ca.pem" SIGN_TSA_CA="$keys/tsa-ca.pem" \
	SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat "$keys/tsa.port")"
if grep -q "$(cat "$keys/password")" "$work/signed.log"; then
	fail "the signing password appeared in the build's output"
fi
run_make "$first" "$work/verify.log" verify-dist DIST="$signed" SIGN_CA="$keys/ca.pem" \
	SIGNER_SHA256="$(fingerprint signer)" SIGN_TSA_CA="$keys/tsa-ca.pem"
# Forty days on, the 30-day certificate has expired: the time-stamped signatures still verify.
faketime -f +40d make -C "$first" verify-dist DIST="$signed" SIGN_CA="$keys/ca.pem" \
	SIGNER_SHA256="$(fingerprint signer)" SIGN_TSA_CA="$keys/tsa-ca.pem" >"$work/later.log" 2>&1 ||
	{ cat "$work/later.log" >&2; fail "a time-stamped release did not verify after its certificate expired"; }
refused_make "a certificate without the code-signing usage" "$first" dist DIST="$work/nousage" \
	SIGN_PFX="$keys/nousage.p12" SIGN_PASSWORD_FILE="$keys/password" SIGN_CA="$keys/ca.pem"
[ ! -e "$work/nousage" ] || fail "a release that does not verify reached DIST"

# The uninstaller is written by the installer; install for one user, check it, remove it again.
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
"$root/tests/wine/wine-run.sh" "$prefix" "$signed/quarrion_shell_setup.exe" /S /CurrentUser
uninstaller=$(find "$prefix/drive_c/users" -path "*/Programs/Tabrix/Quarrion Shell/uninstall.exe")
[ -n "$uninstaller" ] || fail "the signed installer wrote no uninstaller"
osslsigncode verify -CAfile "$keys/ca.pem" -in "$uninstaller" >"$work/uninstaller.log" 2>&1 ||
	{ cat "$work/uninstaller.log" >&2; fail "the uninstaller's signature does not verify"; }
# As from Apps: it hands over to a copy of itself and returns; the copy removes the folder.
"$root/tests/wine/wine-run.sh" "$prefix" "$uninstaller" /S
wait_until 30 test ! -e "$uninstaller" || fail "the signed uninstaller did not uninstall"
echo "check-release: signed program, installer and uninstaller verify against a throwaway CA ($(seconds "$start") s)"

start=$(date +%s)
# Each row: a changed copy of the signed release, which verify-dist must refuse.
changed="$work/changed"
resum() { (cd "$changed" && sha256sum quarrion_shell.exe quarrion_shell_setup.exe BUILDINFO \
	THIRD-PARTY-NOTICES.txt quarrion_shell.spdx.json >SHA256SUMS); }
sign_programs() { # CERT, then osslsigncode's options
	cert=$1
	shift
	for f in quarrion_shell.exe quarrion_shell_setup.exe; do
		osslsigncode sign -certs "$keys/$cert.pem" -key "$keys/$cert.key" "$@" \
			-in "$changed/$f" -out "$changed/$f.new" >/dev/null && mv "$changed/$f.new" "$changed/$f"
	done
}
refused() { # WHAT, the reason verify-dist must give, then make's arguments
	what=$1
	reason=$2
	shift 2
	if (cd "$first" && make verify-dist DIST="$changed" SIGN_CA="$keys/ca.pem" "$@") >"$work/refused.log" 2>&1; then
		fail "verify-dist accepted $what"
	fi
	grep -q "$reason" "$work/refused.log" || { cat "$work/refused.log" >&2; fail "verify-dist refused $what, but not because of it"; }
	rm -rf "$changed"
	cp -r "$signed" "$changed"
}
ours="SIGNER_SHA256=$(fingerprint signer)"
cp -r "$signed" "$changed"
flip_middle_byte "$changed/quarrion_shell_setup.exe"
refused "a changed byte" "quarrion_shell_setup.exe does not match" "$ours"
flip_middle_byte "$changed/quarrion_shell_setup.exe"
resum
refused "a changed byte under new checksums" "signature does not verify" "$ours"
cp "$first/dist/quarrion_shell.exe" "$first/dist/quarrion_shell_setup.exe" "$changed/"
sign_programs mallory -h sha256
resum
refused "another certificate of the same CA" "not by the publisher's certificate" "$ours"
cp "$first/dist/quarrion_shell.exe" "$first/dist/quarrion_shell_setup.exe" "$changed/"
sign_programs nousage -h sha256
resum
refused "a certificate without the code-signing usage" "without the code-signing usage" \
	"SIGNER_SHA256=$(fingerprint nousage)"
cp "$first/dist/quarrion_shell.exe" "$first/dist/quarrion_shell_setup.exe" "$changed/"
sign_programs signer -h sha1
sign_programs signer -h sha256 -nest
resum
refused "a SHA-1 primary signature under a nested SHA-256 one" "primary signature is not SHA-256" "$ours"
mv "$changed/quarrion_shell.exe" "$changed/quarrion_shell_exe"
cp "$changed/quarrion_shell_exe" "$changed/quarrion_shell.exe"
flip_middle_byte "$changed/quarrion_shell.exe"
sed -i 's/  quarrion_shell\.exe$/  quarrion_shell_exe/' "$changed/SHA256SUMS"
refused "a line naming quarrion_shell_exe for quarrion_shell.exe" "does not list quarrion_shell.exe" "$ours"
echo "unlisted" >"$changed/notes.txt"
refused "a file that SHA256SUMS does not list" "holds notes.txt" "$ours"
refused "a CA without the publisher's certificate" "would pass"
cp "$first/dist/quarrion_shell.exe" "$first/dist/quarrion_shell_setup.exe" "$changed/"
sign_programs signer -h sha256
resum
refused "signatures without a time stamp" "no time stamp" "$ours" SIGN_TSA_CA="$keys/tsa-ca.pem"
cp "$first/dist/quarrion_shell.exe" "$first/dist/quarrion_shell_setup.exe" "$changed/"
sign_programs signer -h sha256
resum
if faketime -f +40d make -C "$first" verify-dist DIST="$changed" SIGN_CA="$keys/ca.pem" "$ours" \
	>"$work/later.log" 2>&1; then
	fail "an unstamped release verified after its certificate expired"
fi
grep -q "does not verify" "$work/later.log" || { cat "$work/later.log" >&2; fail "the unstamped release failed for another reason"; }
run_make "$first" "$work/any.log" verify-dist DIST="$changed" SIGN_CA="$keys/ca.pem" ALLOW_ANY_SIGNER=1
echo "check-release: verify-dist refuses a changed byte, another signer, no code-signing usage, SHA-1 first, a look-alike name, an extra file, and no time stamp; after expiry only the stamped release verifies ($(seconds "$start") s)"
