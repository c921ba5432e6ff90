#!/usr/bin/env bash
# Lays out tandel as a user gets it, from a build tree (cmake --install) or from
# its .deb packages (dpkg-deb -x), then builds and runs the consumer program
# against that tree twice: through find_package and through pkg-config.
# Usage: check.sh VERSION TOOLCHAIN_FILE_OR_EMPTY (BUILD_DIR | PACKAGE.deb...)
set -eu
version=$1
toolchain=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/root/usr
if [ -d "$1" ]; then
    cmake --install "$1" --prefix "$prefix" >/dev/null
else
    for deb in "$@"; do dpkg-deb -x "$deb" "$work/root"; done
fi
pcdir=$(dirname "$(find "$prefix" -name tandel.pc)")
libdir=$(PKG_CONFIG_PATH=$pcdir pkg-config --variable=libdir tandel)
if [ ! -d "$1" ]; then
    # Packaged programs have no search path of their own: the system's
    # directories hold the library.
    readelf -d "$prefix/bin/tandel-profile" | grep PATH && exit 1
    export LD_LIBRARY_PATH=$libdir
fi

echo "-- through find_package"
cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DTANDEL_VERSION="$version" \
    ${toolchain:+-DCMAKE_TOOLCHAIN_FILE="$toolchain"} >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/consumer" "$version"

echo "-- through pkg-config"
flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs tandel)
m32=""
[ -n "$toolchain" ] && m32=-m32
# shellcheck disable=SC2086
g++ $m32 -std=c++17 "$here/consumer.cpp" $flags -Wl,-rpath,"$libdir" -o "$work/pkg-config-consumer"
"$work/pkg-config-consumer" "$version"

echo "-- the other files"
test -L "$libdir/libtandel.so.1"
test -f "$libdir/libtandel.so.$version"
test -f "$prefix"/share/man/man1/tandel-profile.1*
test "$("$prefix/bin/tandel-profile" --version)" = "tandel-profile $version"
"$prefix/bin/tandel-profile" -f "$work/check.rc" set s k installed
test "$("$prefix/bin/tandel-profile" -f "$work/check.rc" get s k)" = installed
echo "the tree works"
