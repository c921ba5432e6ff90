#!/usr/bin/env bash
# Installs the library and development packages of both architectures, and the
# tool, side by side into a scratch dpkg root (never the machine's own), then
# builds and runs the consumer against each architecture from there.
# Usage: coinstall.sh VERSION X86_TOOLCHAIN_FILE AMD64_PACKAGE_DIR I386_PACKAGE_DIR
set -eux
version=$1
toolchain=$2
amd64=$3
i386=$4
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
admin=$root/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates"
touch "$admin/status"
# The scratch root holds no C library packages to depend on; its files are
# the caller's, so no root is needed.
dpkg=(dpkg --root="$root" --admindir="$admin" --log="$root/dpkg.log" --force-depends --force-not-root)
"${dpkg[@]}" --add-architecture i386
"${dpkg[@]}" -i "$amd64/libtandel1_${version}_amd64.deb" "$i386/libtandel1_${version}_i386.deb"
"${dpkg[@]}" -i "$amd64/libtandel-dev_${version}_amd64.deb" "$i386/libtandel-dev_${version}_i386.deb" \
    "$amd64/tandel-tools_${version}_amd64.deb"
test "$(dpkg-query --admindir="$admin" -W -f='${Package}:${Architecture} ${Status}\n' | LC_ALL=C sort)" = \
    "libtandel-dev:amd64 install ok installed
libtandel-dev:i386 install ok installed
libtandel1:amd64 install ok installed
libtandel1:i386 install ok installed
tandel-tools:amd64 install ok installed"
here=$(dirname "$0")
bash "$here/check.sh" "$version" "" --root "$root"
bash "$here/check.sh" "$version" "$toolchain" --root "$root"
LD_LIBRARY_PATH=$root/usr/lib/x86_64-linux-gnu "$root/usr/bin/tandel-profile" -f "$root/check.rc" \
    set s k coinstalled
