#!/usr/bin/env bash
# Lays out tandel as a user gets it, from a build tree (cmake --install), from
# its .deb packages (dpkg-deb -x) or as dpkg installed them into a root
# directory, then builds and runs the consumer program against that tree:
# through find_package, under both spellings, and through pkg-config.
# Usage: check.sh VERSION TOOLCHAIN_FILE_OR_EMPTY (BUILD_DIR | PACKAGE.deb... | --root DIR)
set -eux
version=$1
toolchain=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
if [ "$1" = --root ]; then
    root=$2
elif [ -d "$1" ]; then
    cmake --install "$1" --prefix "$root/usr" >/dev/null
else
    for deb in "$@"; do dpkg-deb -x "$deb" "$root"; done
fi
prefix=$root/usr
# 32-bit programs run through the command TANDEL_EMULATOR names, if any.
emulator=
[ -z "$toolchain" ] || emulator=${TANDEL_EMULATOR:-}
multiarch=$(g++ ${toolchain:+-m32} -print-multiarch)
# With both architectures installed, the .pc file of the one built for.
pcfiles=$(find "$prefix" -name tandel.pc)
[ "$(wc -l <<<"$pcfiles")" -eq 1 ] || pcfiles=$(grep "/$multiarch/" <<<"$pcfiles")
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pcfiles")
if [ ! -d "$1" ]; then
    # Packaged programs have no search path of their own: the system's
    # directories hold the library.
    dynamic=$(readelf -d "$prefix/bin/tandel-profile")
    grep PATH <<<"$dynamic" && exit 1
    # The packaged .pc names the system's directories: pkg-config adds
    # nothing for the library's.
    test "$(PKG_CONFIG_SYSTEM_LIBRARY_PATH=/usr/lib/$multiarch pkg-config --libs tandel | xargs)" = -ltandel
    export PKG_CONFIG_SYSROOT_DIR=$root
    LD_LIBRARY_PATH=$(printf '%s\n' "$prefix"/lib/*-linux-gnu | paste -sd:)
    export LD_LIBRARY_PATH
fi
libdir=$(pkg-config --variable=libdir tandel)
for package in Tandel tandel; do
    cmake -S "$here" -B "$work/$package" -DCMAKE_PREFIX_PATH="$prefix" -DTANDEL_PACKAGE=$package \
        -DTANDEL_VERSION="$version" ${toolchain:+-DCMAKE_TOOLCHAIN_FILE="$toolchain"} >/dev/null
    cmake --build "$work/$package" >/dev/null
    $emulator "$work/$package/consumer" "$version"
done
# shellcheck disable=SC2046
g++ ${toolchain:+-m32} -std=c++17 "$here/consumer.cpp" $(pkg-config --cflags --libs tandel) \
    -Wl,-rpath,"$libdir" -o "$work/pkg-config-consumer"
$emulator "$work/pkg-config-consumer" "$version"
test -L "$libdir/libtandel.so.1"
test -f "$libdir/libtandel.so.$version"
[ "$1" = --root ] && exit 0  # the tool there may be of the other architecture
test -f "$prefix"/share/man/man1/tandel-profile.1*
$emulator "$prefix/bin/tandel-profile" -f "$work/check.rc" set s k installed
test "$($emulator "$prefix/bin/tandel-profile" -f "$work/check.rc" get s k)" = installed
