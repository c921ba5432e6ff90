#!/usr/bin/env bash
# Compares the symbols a built libtandel.so exports with the checked-in list
# for its architecture. Any difference fails: a removed or altered symbol
# breaks programs linked against the library, and an added one must be a
# deliberate update of the list:
#
#   abi/check-symbols.sh --update path/to/libtandel.so abi/libtandel.<arch>.symbols
set -eu
update=no
if [ "${1:-}" = "--update" ]; then
    update=yes
    shift
fi
library=$1
list=$2

# One line per exported symbol: its nm type letter and its mangled name.
current=$(nm -D --defined-only "$library" | awk '{print $2, $3}' | LC_ALL=C sort)
if [ "$update" = yes ]; then
    printf '%s\n' "$current" >"$list"
    echo "wrote $(wc -l <"$list") symbols to $list"
    exit 0
fi
if [ "$current" = "$(cat "$list")" ]; then
    echo "$(wc -l <"$list") exported symbols, as listed in $list"
    exit 0
fi
echo "The exported symbols differ from $list:"
diff <(cat "$list") <(printf '%s\n' "$current") | grep '^[<>]' |
    sed -e 's/^</  removed:/' -e 's/^>/  added:  /' |
    while read -r what type name; do echo "  $what $type $(echo "$name" | c++filt)"; done
echo "If the change is deliberate: $0 --update $library $list"
exit 1
