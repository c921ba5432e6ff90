#!/usr/bin/env bash
# Runs the tandel-profile tool as a user would and checks its exit status, what
# it prints and the file it leaves. Usage: tandel-profile-test.sh TOOL VERSION SEAM,
# where SEAM is the tool built with the flock of ProfileToolSeam.cpp. i386 tools
# run under $TANDEL_EMULATOR when that is set.
set -u
# shellcheck disable=SC2206
run=(${TANDEL_EMULATOR:-})
tool=$1
version=$2
seam=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
rc=$dir/app.rc
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# expect "STATUS|STDOUT|STDERR" ARGS...: runs the tool with ARGS; the expected
# text is a glob pattern (trailing line feeds dropped from the outputs).
expect() {
    local want=$1 got
    shift
    got=$("${run[@]}" "$tool" "$@" 2>"$dir/stderr")
    got="$?|$got|$(<"$dir/stderr")"
    # shellcheck disable=SC2053
    [[ $got == $want ]] || fail "tandel-profile $*: $got"
}

# Started at once on a file that does not exist yet: every set lands, and each
# reports success, also where the same entry is set by all of them.
pids=()
for i in 1 2 3 4 5 6; do
    "${run[@]}" "$tool" -f "$rc" set net "k$i" "a b=c $i" &
    pids+=($!)
    "${run[@]}" "$tool" -f "$rc" set net same "$i" &
    pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || fail "a set started at once exited $?"; done
for i in 1 2 3 4 5 6; do expect "0|a b=c $i|" -f "$rc" get net "k$i"; done
expect "0|[1-6]|" -f "$rc" get net same

# set reports what became of its own write: one that landed succeeds although another writer set
# the entry back right after it (one that the library refused fails with its reason, below).
printf '[s]\nk=old\n' >"$rc"
TANDEL_TEST_FLOCK=$(printf '%q ' "${run[@]}" "$tool" -f "$rc" set s k old) tool=$seam \
    expect "0||" -f "$rc" set s k new
cmp -s "$rc" <(printf '[s]\nk=old\n') || fail "the other writer did not come in"

printf '[net]\nempty=\n' >"$rc"
expect "0||" -f "$rc" get net empty
expect "1||" -f "$rc" get net missing
expect "1||" -f "$dir/none.rc" get net port
expect "1||" -f "$rc/none.rc" get net port
ln -s loop "$dir/loop"
expect "2||*Too many levels of symbolic links" -f "$dir/loop" get net port
[ ! -e "$dir/none.rc" ] || fail "get created the profile"
# Refused before the file is touched.
expect "2||tandel-profile: *" -f "$rc" set net "a=b" v
expect "2||tandel-profile: *" -f "$rc" set net k "$(printf '%0260d' 0)"
expect "2||tandel-profile: *" -f "$rc" set "$(printf '%0253d' 0)" k v
cmp -s "$rc" <(printf '[net]\nempty=\n') || fail "the profile holds '$(cat "$rc")'"
expect "2||*No such file or directory" -f "$dir/no/such/dir.rc" set s k v
expect "2||*Is a directory" -f "$dir" get s k

expect "0|usage: tandel-profile *|" -h
expect "0|usage: tandel-profile *|" --help
expect "0|tandel-profile $version|" --version
expect "2||usage: tandel-profile *" --help more
expect "2||usage: tandel-profile *" -f "$rc" delete s k

if [ -e /etc/velonix/Tandel.rc ]; then
    echo "skipped the default profile: this machine has one"
else
    expect "1||" get s k
    [ ! -e /etc/velonix/Tandel.rc ] || fail "get created the default profile"
fi
[ "$failures" -eq 0 ]
