#!/usr/bin/env bash
# Lays out tandel as a user gets it, from a build tree (cmake --install) or from
# its .deb packages (dpkg-deb -x), then builds and runs the consumer program
# against that tree twice: through find_package and through pkg-config.
# Usage: check.sh VERSION TOOLCHAIN_FILE_OR_EMPTY (BUILD_DIR | PACKAGE.deb...)
# The programs run under $TANDEL_EMULATOR when that is set (an i386 build on a
# kernel that refuses 32-bit programs).
set -eux
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
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name tandel.pc)")
libdir=$(pkg-config --variable=libdir tandel)
if [ ! -d "$1" ]; then
    # Packaged programs have no search path of their own: the system's
    # directories hold the library.
    readelf -d "$prefix/bin/tandel-profile" | grep PATH && exit 1
    export LD_LIBRARY_PATH=$libdir
fi
cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DTANDEL_VERSION="$version" \
    ${toolchain:+-DCMAKE_TOOLCHAIN_FILE="$toolchain"} >/dev/null
cmake --build "$work/cmake" >/dev/null
run=${TANDEL_EMULATOR:-}
$run "$work/cmake/consumer" "$version"
# shellcheck disable=SC2046
g++ ${toolchain:+-m32} -std=c++17 "$here/consumer.cpp" $(pkg-config --cflags --libs tandel) \
    -Wl,-rpath,"$libdir" -o "$work/pkg-config-consumer"
$run "$work/pkg-config-consumer" "$version"
test -L "$libdir/libtandel.so.1"
test -f "$libdir/libtandel.so.$version"
test -f "$prefix"/share/man/man1/tandel-profile.1*
$run "$prefix/bin/tandel-profile" -f "$work/check.rc" set s k installed
test "$($run "$prefix/bin/tandel-profile" -f "$work/check.rc" get s k)" = installed
