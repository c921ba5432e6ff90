#!/usr/bin/env bash
# Installs a build tree into a scratch prefix, then builds and runs the
# consumer program against it twice: through find_package and through
# pkg-config. Usage: check.sh BUILD_DIR [CMAKE_TOOLCHAIN_FILE]
set -eu
build=$(cd "$1" && pwd)
toolchain=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
prefix=$build/consumer-test/prefix
rm -rf "$build/consumer-test"
cmake --install "$build" --prefix "$prefix" >/dev/null

echo "-- through find_package"
cmake -S "$here" -B "$build/consumer-test/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
    ${toolchain:+-DCMAKE_TOOLCHAIN_FILE="$toolchain"} >/dev/null
cmake --build "$build/consumer-test/cmake" >/dev/null
"$build/consumer-test/cmake/consumer"

echo "-- through pkg-config"
pcdir=$(dirname "$(find "$prefix" -name tandel.pc)")
flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs tandel)
libdir=$(PKG_CONFIG_PATH=$pcdir pkg-config --variable=libdir tandel)
m32=""
[ -n "$toolchain" ] && m32=-m32
# shellcheck disable=SC2086
g++ $m32 -std=c++17 "$here/consumer.cpp" $flags -Wl,-rpath,"$libdir" \
    -o "$build/consumer-test/pkg-config-consumer"
"$build/consumer-test/pkg-config-consumer"

echo "-- installed files"
test -L "$libdir/libtandel.so.1"
test -f "$libdir/libtandel.so.1.30.0.51"
test -x "$prefix/bin/tandel-profile"
"$prefix/bin/tandel-profile" -f "$build/consumer-test/check.rc" set s k installed
test "$("$prefix/bin/tandel-profile" -f "$build/consumer-test/check.rc" get s k)" = installed
echo "installed tree works"
