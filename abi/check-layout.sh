#!/usr/bin/env bash
# Compares the whole ABI of a built libtandel.so (its exported functions and
# variables with the layout of every type they reach: members, their types and
# offsets, virtual tables, parameters) with the checked-in baseline for its
# architecture, made by abidw from a build with debug information. Any change
# fails: an incompatible one breaks programs built against the library, and a
# compatible one (an addition) must be a deliberate update of the baseline:
#
#   abi/check-layout.sh --update path/to/libtandel.so abi/libtandel.<arch>.abi
set -euo pipefail
update=no
if [ "${1:-}" = "--update" ]; then
    update=yes
    shift
fi
library=$1
baseline=$2
# Only the types of the public headers count; no paths of the build machine
# (the sources are named from the project's root).
root=$(cd "$(dirname "$0")/.." && pwd)
headers=$root/include
if [ "$update" = yes ]; then
    abidw --headers-dir "$headers" --drop-private-types --no-corpus-path --no-comp-dir-path \
        --no-show-locs "$library" | sed "s#path='$root/#path='#" >"$baseline"
    echo "wrote the ABI of $library to $baseline"
    exit 0
fi
status=0
abidiff "$baseline" "$library" || status=$?
# abidiff's status bits: 1 error, 2 usage, 4 a change, 8 an incompatible change.
if [ "$status" -eq 0 ]; then
    echo "the ABI is the one in $baseline"
    exit 0
fi
if [ $((status & 3)) -ne 0 ]; then
    echo "abidiff could not compare (status $status)"
else
    echo "The ABI differs from $baseline."
    echo "If the change is deliberate: $0 --update $library $baseline"
fi
exit 1
