#!/bin/sh
# flashfile.sh EMULATOR: the camera's flash starts from flash=FILE and ends in dump=FILE, and a
# program inside the testbed changes it in between (here: nothing changes it).
set -eu
emulator=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'QVFW' > "$dir/in"
"$emulator" -q --camera="flash=$dir/in,dump=$dir/out,timings=none" -- true
test "$(stat -c %s "$dir/out")" -eq 4194304
cmp -n 4 "$dir/in" "$dir/out"
test "$(dd if="$dir/out" bs=1 skip=4 count=1 2>/dev/null | od -An -tx1 | tr -d ' ')" = ff
