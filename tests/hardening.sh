#!/usr/bin/env bash
# The hardening each given library or program was built with, as the dynamic
# section, the program headers and the imported symbols show it.
set -eu
for object in "$@"; do
    dynamic=$(readelf -dW "$object")
    grep -Eq 'BIND_NOW|FLAGS_1.* NOW' <<<"$dynamic" || { echo "$object: no BIND_NOW"; exit 1; }
    readelf -lW "$object" | grep -q GNU_RELRO || { echo "$object: no RELRO"; exit 1; }
    imports=$(nm -D --undefined-only "$object")
    grep -q ' __stack_chk_fail' <<<"$imports" || { echo "$object: no stack protector"; exit 1; }
    grep -Eq ' __[a-z0-9_]+_chk@' <<<"$imports" || { echo "$object: no checked C library calls"; exit 1; }
    readelf -hW "$object" | grep -q 'Type: *DYN' || { echo "$object: not position-independent"; exit 1; }
done
echo "hardened: $*"
