#!/bin/sh
# Usage: make-runtime.sh FOLDER
# A Flatpak installation in FOLDER/user, never the machine's, holding a runtime made of this
# machine's own Wine (32 and 64-bit), sh, bash, coreutils and update-desktop-database, and the
# app org.quarrion.TestLauncher, which stands in for a Wine launcher: its command runs its
# arguments. Built once per FOLDER; built again only when this script changes.
# Use it with FLATPAK_USER_DIR=FOLDER/user FLATPAK_SYSTEM_DIR=FOLDER/system.
set -eu
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
mkdir -p "$1"
folder=$(cd "$1" && pwd)
runtime=org.quarrion.TestPlatform
app=org.quarrion.TestLauncher
branch="test"
export FLATPAK_USER_DIR="$folder/user" FLATPAK_SYSTEM_DIR="$folder/system"

stamp="$(sha256sum <"$self" | cut -c1-64) $(flatpak --version)"
if [ "$(cat "$folder/built" 2>/dev/null || true)" = "$stamp" ] &&
	flatpak --user info "$app//$branch" >/dev/null 2>&1; then
	exit 0
fi
start=$(date +%s)
echo "make-runtime: building the test runtime and launcher in $folder (a few minutes)"
# Never chmod the staged runtime: its files are hard links to the machine's own.
chmod -R u+w "$folder/user" "$folder/repo" 2>/dev/null || true
rm -rf "$folder/runtime" "$folder/app" "$folder/repo" "$folder/user" "$folder/system" "$folder/built"
mkdir -p "$folder/runtime" "$folder/system"
stage="$folder/runtime/root"
list="$folder/runtime/list"

# What Debian installs for Wine, both architectures, and what a setup runs besides (sh, ln, chmod,
# update-desktop-database). libwine opens these by name at run time, so ldd cannot see them.
packages="wine wine64 wine32:i386 libwine:amd64 libwine:i386 libz-mingw-w64 libgcc-s1:amd64 libgcc-s1:i386
	libfreetype6:amd64 libfreetype6:i386 libfontconfig1:amd64 libfontconfig1:i386 fontconfig-config
	libgnutls30:amd64 libgnutls30:i386 libc6:amd64 libc6:i386 libc-bin dash bash coreutils desktop-file-utils"
# shellcheck disable=SC2086
dpkg -L $packages | grep -Ev '^/usr/share/(doc|man|info|lintian|locale)/' >"$list.packages"
# And whatever else this machine's Wine holds besides the packages' files (its zlib1.dll).
find /usr/lib/wine /usr/lib/i386-linux-gnu/wine /usr/lib/x86_64-linux-gnu/wine ! -type d >>"$list.packages"
sort -u -o "$list.packages" "$list.packages"

# A path as it is below /usr, through the links of a merged /usr (/lib, /bin).
canonical() {
	while IFS= read -r path; do
		[ -e "$path" ] || [ -L "$path" ] || continue
		[ ! -d "$path" ] || [ -L "$path" ] || continue
		printf '%s/%s\n' "$(readlink -f "$(dirname "$path")")" "$(basename "$path")"
	done
}
canonical <"$list.packages" >"$list"

# Every shared library the programs and libraries need, for both architectures, as found by the
# loader (the link and the file it names).
: >"$list.libraries"
while IFS= read -r path; do
	if [ -L "$path" ] || [ ! -f "$path" ] || ! head -c 4 "$path" | grep -q 'ELF'; then
		continue
	fi
	ldd "$path" 2>/dev/null | sed -n 's/.*=> \(\/[^ ]*\) .*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) (.*/\1/p'
done <"$list" >>"$list.libraries"
sort -u "$list.libraries" | while IFS= read -r library; do
	echo "$library"
	readlink -f "$library"
done | canonical >>"$list"
sort -u -o "$list" "$list"

# Hard links where the build folder shares the file system, copies otherwise; links stay links.
while IFS= read -r path; do
	mkdir -p "$stage$(dirname "$path")"
	ln -P "$path" "$stage$path" 2>/dev/null || cp -a "$path" "$stage$path"
done <"$list"
files="$folder/runtime/files"
mv "$stage/usr" "$files"
[ ! -d "$stage/etc" ] || mv "$stage/etc" "$files/etc"
mkdir -p "$files/etc"
rm -rf "$stage"
# Debian's alternatives (/usr/bin/wine -> /etc/alternatives/wine -> /usr/bin/wine-stable) are
# not the packages' files, and lead through the host's /etc: straight to the program instead.
for link in /usr/bin/*; do
	[ -L "$link" ] || continue
	case $(readlink "$link") in /etc/alternatives/*) ;; *) continue ;; esac
	target=$(readlink "$(readlink "$link")")
	[ -e "$files${target#/usr}" ] || [ -L "$files${target#/usr}" ] || continue
	ln -sfn "$target" "$files/bin/$(basename "$link")"
done
# Replaced, never written through: it may be a hard link to the machine's own.
rm -rf "$files/etc/ld.so.conf" "$files/etc/ld.so.conf.d"
cat >"$files/etc/ld.so.conf" <<'EOF'
/usr/lib/x86_64-linux-gnu
/usr/lib/i386-linux-gnu
EOF
cat >"$folder/runtime/metadata" <<EOF
[Runtime]
name=$runtime
runtime=$runtime/x86_64/$branch
sdk=$runtime/x86_64/$branch
EOF

# Exported into a repository of our own, and installed from it unsigned.
flatpak build-export --disable-fsync --runtime --files=files "$folder/repo" "$folder/runtime" "$branch" >"$folder/export.log"
flatpak --user remote-add --if-not-exists --no-gpg-verify quarrion-tests "$folder/repo"
flatpak --user install -y --noninteractive quarrion-tests "runtime/$runtime/x86_64/$branch" >>"$folder/export.log"

# The launcher: runs what it is given, with a Wine launcher's usual permissions.
flatpak build-init "$folder/app" "$app" "$runtime" "$runtime" "$branch"
mkdir -p "$folder/app/files/bin"
cat >"$folder/app/files/bin/test-launcher" <<'EOF'
#!/bin/sh
exec "$@"
EOF
chmod 755 "$folder/app/files/bin/test-launcher"
{
	flatpak build-finish --command=test-launcher --share=ipc --socket=x11 --device=dri --allow=multiarch \
		--filesystem=xdg-download "$folder/app"
	flatpak build-export --disable-fsync "$folder/repo" "$folder/app" "$branch"
	flatpak --user install -y --noninteractive quarrion-tests "app/$app/x86_64/$branch"
} >>"$folder/export.log"

echo "$stamp" >"$folder/built"
echo "make-runtime: built in $(($(date +%s) - start)) s: $(wc -l <"$list") files; repository $(du -sh "$folder/repo" | cut -f1), installation $(du -sh "$folder/user" | cut -f1)"
