#!/usr/bin/env bash
# vexil-file on Linux and the same program built for Windows, run under Wine, given the same
# work: the files they write must be the same bytes, what they print the same text (line ends
# aside: the Windows C library ends printed lines with CR LF) and their exit statuses the same.
# Usage: same_on_windows.sh LINUX_BUILD WINDOWS_BUILD
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/check.sh"
linux=$(cd "$1" && pwd)/tools/vexil-file
windows=$(cd "$2" && pwd)/bin/vexil-file.exe
srec=$(cd "$here/../.." && pwd)/resources/sample/firmware.srec

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/linux" "$work/windows" "$work/folder"

# Runs one command line in both worlds, each in its own folder; FILE in the arguments names the
# folder's copy of the sample. Compares status and printed text.
both() {
    local name=$1
    shift
    local side
    for side in linux windows; do
        local program=$linux
        [ "$side" = windows ] && program=$windows
        (
            cd "$work/$side" || exit 99
            if [ "$side" = windows ]; then
                timeout 120 wine "$program" "$@"
            else
                timeout 60 "$program" "$@"
            fi
        ) >"$work/$side.out" 2>"$work/$side.err"
        echo $? >"$work/$side.status"
    done
    check "$name: same status" cmp -s "$work/linux.status" "$work/windows.status"
    check "$name: same output" cmp -s "$work/linux.out" <(tr -d '\r' <"$work/windows.out")
    check "$name: same messages" cmp -s "$work/linux.err" <(tr -d '\r' <"$work/windows.err")
}

cp "$srec" "$work/linux/firmware.srec"
cp "$srec" "$work/windows/firmware.srec"
both "build" build firmware.srec RS.BIN --ident aa01:01.10
check "build: same download file" cmp -s "$work/linux/RS.BIN" "$work/windows/RS.BIN"
both "info" info RS.BIN
both "info over IPX" info RS.BIN --ipx
both "blocks" blocks RS.BIN
both "extract as S-records" extract RS.BIN back.srec
check "extract: same S-records" cmp -s "$work/linux/back.srec" "$work/windows/back.srec"
both "extract as binary" extract RS.BIN back.bin
check "extract: same binary" cmp -s "$work/linux/back.bin" "$work/windows/back.bin"

# A damaged file and refused outputs.
for side in linux windows; do
    printf '\x01' | dd of="$work/$side/RS.BIN" bs=1 seek=100 conv=notrunc status=none
    mkdir "$work/$side/out.bin"
done
both "a damaged file" info RS.BIN
both "an output that is a folder" extract back.srec out.bin
both "an output that is the input" extract RS.BIN RS.BIN
both "a missing input" info missing.bin

echo "$failures failures"
[ "$failures" -eq 0 ]
