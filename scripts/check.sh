#!/usr/bin/env bash
# Checks the format of the C++ sources, then builds and tests tandel in all
# three configurations: native x86_64, 32-bit x86, and AddressSanitizer +
# UndefinedBehaviorSanitizer (with the fuzzers), then makes and checks the
# Debian packages of the first two.
# First installs whatever is missing (apt-get, when run as root). Ends with one
# pass/fail summary; the exit status is 0 only when every step passed.
set -u
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
logs=$root/build/logs
mkdir -p "$logs"

packages=(cmake make g++ g++-multilib clang clang-format libclang-rt-14-dev googletest
          libbenchmark-dev git locales pkg-config doxygen libglib2.0-dev
          man-db groff-base dpkg-dev file lintian cloc abigail-tools)
# install_missing PACKAGE...: installs those of the packages that are missing (apt-get, as root).
install_missing() {
    local package missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages: ${missing[*]}; run this script as root to install them"
        return 1
    fi
    apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >>"$logs/apt.log" 2>&1 ||
        { echo "apt-get failed, see $logs/apt.log"; return 1; }
}
install_missing "${packages[@]}" || exit 1

# The 32-bit programs run natively when the kernel executes them. Some kernels
# refuse them ("Exec format error"): then the x86 tests and the programs they
# start run under qemu-i386, user-mode emulation, as they also do when
# TANDEL_EMULATE_X86=1 asks for it.
x86_runs_natively() {
    local probe status
    probe=$(mktemp -d "$root/build/probe.XXXXXX") || return 1  # /tmp may be noexec
    printf 'int main(void) { return 0; }\n' >"$probe/probe.c"
    # A probe that does not build says nothing about the kernel: the x86 build will say why.
    gcc -m32 -o "$probe/probe" "$probe/probe.c" >/dev/null 2>&1 || { rm -rf "$probe"; return 0; }
    "$probe/probe" 2>/dev/null
    status=$?
    rm -rf "$probe"
    return "$status"
}
x86_emulator=
x86_way=
if [ "${TANDEL_EMULATE_X86:-}" = 1 ] || ! x86_runs_natively; then
    install_missing qemu-user || exit 1
    x86_emulator=qemu-i386
    x86_way=" (under qemu-i386)"
    echo "== the 32-bit x86 programs run under qemu-i386"
fi

# The Latin-1 locale the case tests use, so that they run in full even where
# localedef is not at hand.
if [ "$(id -u)" -eq 0 ] && ! locale -a | grep -qix 'de_DE.iso88591'; then
    localedef -i de_DE -f ISO-8859-1 de_DE.ISO-8859-1 >"$logs/locale.log" 2>&1
fi

summary=()
failures=0
# step NAME COMMAND...: runs the command with its output in a log, records the result and the time.
step() {
    local name=$1 start=$SECONDS
    shift
    local log="$logs/${name//[^A-Za-z0-9]/-}.log"
    echo "== $name"
    if "$@" >"$log" 2>&1; then
        summary+=("PASS  $name  [$((SECONDS - start)) s]")
    else
        summary+=("FAIL  $name  [$((SECONDS - start)) s]  (log: ${log#"$root"/})")
        failures=$((failures + 1))
        tail -n 60 "$log"
    fi
}

# A preset's tests, which must include the fuzz target: its corpus replay, or in the sanitizer
# build the fuzzer itself. Without the replay the step would pass having run less.
# Listed first: a listing rewrites the log of the last run, which the summary reads.
preset_tests() {
    [ "$(ctest --preset "$1" -N | grep -c -E 'Fuzz(-corpus)?$')" -eq 1 ] ||
        { echo "the fuzz corpora are not replayed in the $1 build"; return 1; }
    ctest --preset "$1"
}

# man reports the warnings of a manual page but still exits 0.
manual_page_clean() {
    ! man --warnings -l "$1" 2>&1 >/dev/null | grep .
}

# The README's first command with only a compiler and CMake: the test and
# benchmark frameworks (and the optional tools) cannot be found, yet the tour
# builds and runs.
tour_without_frameworks() {
    rm -rf build/bare
    cmake --preset native -B build/bare -DTANDEL_GTEST_SOURCE_DIR=/nonexistent \
        -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
        -DCMAKE_DISABLE_FIND_PACKAGE_Doxygen=ON -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON &&
        cmake --build build/bare --target tour &&
        build/bare/examples/tour
}

# Every C++ source the repository tracks, in the project's format (.clang-format).
format_clean() {
    git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
}

step "format" format_clean

# The native tests as on a bare runner: unprivileged ("nobody", when this runs as root), with
# neither python3, strace nor localedef on the PATH. They pass, skipping only what needs those. They
# run in a copy of the sources and the build tree under /tmp, which any user can reach wherever
# this tree lives; the library comes from the copy too (the run path the binaries were linked with,
# which installing replaces, names the original).
bare_runner_tests() {
    local copy program status as=()
    copy=$(mktemp -d /tmp/tandel-bare.XXXXXX) && chmod 755 "$copy" || return 1
    git ls-files -z | xargs -0 cp --parents -t "$copy" && mkdir "$copy/build" "$copy/bin" &&
        cp -a build/native "$copy/build/" || { rm -rf "$copy"; return 1; }
    find "$copy/build" -name CMakeCache.txt -o -name CTestTestfile.cmake -o -name cmake_install.cmake \
        -o -name 'tandel-tests*.cmake' | xargs sed -i "/OLD_RPATH/!s#$root#$copy#g"
    for program in /usr/bin/* /usr/sbin/*; do
        case ${program##*/} in python3* | strace | localedef) ;; *) ln -sf "$program" "$copy/bin/" ;; esac
    done
    if [ "$(id -u)" -eq 0 ]; then
        chown -R nobody "$copy"
        as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    fi
    "${as[@]}" env PATH="$copy/bin" HOME=/nonexistent LD_LIBRARY_PATH="$copy/build/native" \
        ctest --test-dir "$copy/build/native" --output-on-failure -j2
    status=$?
    rm -rf "$copy"
    return "$status"
}

for preset in native x86 asan; do
    way= configure=()
    if [ "$preset" = x86 ]; then
        # CTest and the test discovery start the i386 programs through the
        # emulator; the scripts among the tests get it as TANDEL_EMULATOR.
        way=$x86_way
        configure=(-UCMAKE_CROSSCOMPILING_EMULATOR ${x86_emulator:+-DCMAKE_CROSSCOMPILING_EMULATOR=$x86_emulator})
    fi
    step "$preset configure" cmake --preset "$preset" "${configure[@]}"
    step "$preset build" cmake --build --preset "$preset"
    step "$preset tests$way" preset_tests "$preset"
    [ "$preset" = native ] && step "native tests on a bare runner" bare_runner_tests
done
step "tour without test frameworks" tour_without_frameworks
step "reference documentation" cmake --build --preset native --target docs
step "manual page" manual_page_clean tools/tandel-profile.1

# The Debian packages of the native (amd64) and the 32-bit (i386) build, each
# set unpacked and used like an installed tree; lintian must find no error.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/native/CMakeCache.txt)
step "native packages" cmake --build --preset native --target package
step "native packages used" bash tests/consumer/check.sh "$version" "" build/native/*_"$version"_amd64.deb
step "x86 packages" cmake --build --preset x86 --target package
step "x86 packages used$x86_way" env TANDEL_EMULATOR="$x86_emulator" \
    bash tests/consumer/check.sh "$version" "$root/cmake/i686-linux-gnu.cmake" build/x86/*_"$version"_i386.deb
step "packages of both architectures installed side by side$x86_way" \
    env TANDEL_EMULATOR="$x86_emulator" bash tests/consumer/coinstall.sh \
    "$version" "$root/cmake/i686-linux-gnu.cmake" build/native build/x86
# No errors, and none of the tags of a package a distribution would send back.
lintian_clean() {
    local tags
    tags=$(lintian --fail-on error --display-info "$@") || { echo "$tags"; return 1; }
    echo "$tags"
    ! grep -E 'hardening-no-|no-symbols-control-file|maintscript-calls-ldconfig|unneeded-section' <<<"$tags"
}
step "lintian" lintian_clean build/native/*_"$version"_amd64.deb build/x86/*_"$version"_i386.deb

# The tests (tests/, fuzz/) stay a quarter to a third of the code: code lines as cloc counts them,
# over every tracked C++, header, CMake, shell and Python file.
share=$(cloc --vcs=git --quiet --csv --by-file \
    --include-lang="C++,C/C++ Header,CMake,Bourne Shell,Bourne Again Shell,Python" . |
    awk -F, '$2 ~ /^(tests|fuzz)\// {tests += $5} $1 == "SUM" {all = $5}
             END {if (all > 0) printf "%.2f", 100 * tests / all}')
step "test share ${share:-unmeasured} % (25 to 33)" \
    awk -v share="${share:-0}" 'BEGIN {exit !(share >= 25 && share <= 33)}'

# What each fuzzer reached in its bounded run.
fuzzlog=build/asan/Testing/Temporary/LastTest.log
if [ -f "$fuzzlog" ]; then
    fuzzruns=$(awk '/ Testing: /{name=$NF} /^Done [0-9]+ runs in/{print "      " name ": " $2 " runs in " $5 " s"}' "$fuzzlog")
fi

echo
echo "==================== summary ===================="
printf '%s\n' "${summary[@]}"
[ -n "${fuzzruns:-}" ] && { echo "fuzzers:"; echo "$fuzzruns"; }
if [ "$failures" -eq 0 ]; then
    echo "ALL PASSED (${#summary[@]} steps)"
else
    echo "FAILED: $failures of ${#summary[@]} steps"
fi
[ "$failures" -eq 0 ]
