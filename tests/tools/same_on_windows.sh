#!/usr/bin/env bash
# vexil-file, vexil-download and the simulator's start on Linux and the same programs built for
# Windows, run under Wine, given the same work (names beyond ASCII among it): the files they
# write must be the same bytes, what they print the same bytes and their exit statuses the same.
# Then what Windows alone has: its device names. Run in a private network namespace
# (tests/e2e/in_netns.sh), so that whatever a refused command might send stays in it.
# Usage: same_on_windows.sh LINUX_BUILD WINDOWS_BUILD
# shellcheck source=tests/support/preamble.sh
source "$(dirname "$0")/../support/preamble.sh"
linux_build=$(cd "$1" && pwd)
windows_build=$(cd "$2" && pwd)
srec=$sources/resources/sample/firmware.srec

mkdir "$work/linux" "$work/windows" "$work/folder"

use_wine "$windows_build"
fresh_wineserver
# Names beyond ASCII reach Wine as the shell gives them, in UTF-8, whatever locale the test
# was started in.
export LC_ALL=C.UTF-8
# LC_ALL chooses the language of both builds alike (C: Japanese, the system's own, its texts
# beyond ASCII compared byte for byte); LANGUAGE would come before it, and goes.
unset LANGUAGE

# Runs one command line of a program (vexil-file, vexil-download or vexil-printserver-sim) in
# both worlds, each in its own folder, and compares status and printed text. With `numbers` first, only the numbered
# messages of the string table are compared: the rest names the platform's own paths and
# reasons.
run_both() {
    local tool=$1
    shift
    local side
    for side in linux windows; do
        local program=$linux_build/tools/$tool
        [ "$tool" = vexil-download ] && program=$linux_build/cli/$tool
        [ "$side" = windows ] && program=$windows_build/bin/$tool.exe
        (
            cd "$work/$side" || exit 99
            if [ "$side" = windows ]; then
                wine_run "$work/$side.out" "$work/$side.err" 120 "$program" "$@"
            else
                timeout 60 "$program" "$@" >"$work/$side.out" 2>"$work/$side.err"
            fi
        )
        echo $? >"$work/$side.status"
    done
}
both() {
    local name=$1
    shift
    run_both vexil-file "$@"
    check "$name: same status" cmp -s "$work/linux.status" "$work/windows.status"
    check "$name: same output" cmp -s "$work/linux.out" "$work/windows.out"
    check "$name: same messages" cmp -s "$work/linux.err" "$work/windows.err"
}
numbered() {
    grep -E '^(error|warning|information|message|status) [0-9]+ ' "$1"
}
download() {
    local compare=all
    [ "$1" = numbers ] && compare=numbers && shift
    local name=$1
    shift
    run_both vexil-download "$@"
    check "vexil-download $name: same status" cmp -s "$work/linux.status" "$work/windows.status"
    check "vexil-download $name: same output" cmp -s "$work/linux.out" "$work/windows.out"
    if [ "$compare" = all ]; then
        check "vexil-download $name: same messages" cmp -s "$work/linux.err" "$work/windows.err"
    else
        check "vexil-download $name: same numbered messages" \
            cmp -s <(numbered "$work/linux.err") <(numbered "$work/windows.err")
    fi
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

# Written over a longer file, an output ends where its own bytes do.
for side in linux windows; do
    for out in over.bin over.srec; do
        head -c 300000 /dev/zero >"$work/$side/$out"
    done
done
both "build over a longer file" build firmware.srec over.bin --ident aa01:01.10
check "build over a longer file: cut to its length" \
    cmp -s "$work/linux/RS.BIN" "$work/windows/over.bin"
both "extract over a longer file" extract RS.BIN over.srec
check "extract over a longer file: cut to its length" \
    cmp -s "$work/linux/back.srec" "$work/windows/over.srec"

# Names beyond ASCII, an accented one and a Japanese one, as every path: read, written and said
# alike, never an uncaught exception.
for name in "résumé" "ファームウェア"; do
    cp "$srec" "$work/linux/$name.srec"
    cp "$srec" "$work/windows/$name.srec"
    both "build $name.BIN" build "$name.srec" "$name.BIN" --ident aa01:01.10
    check "build $name.BIN: same download file" cmp -s "$work/linux/$name.BIN" "$work/windows/$name.BIN"
    both "info $name.BIN" info "$name.BIN"
    both "extract $name.BIN" extract "$name.BIN" "$name-back.srec"
    check "extract $name.BIN: same S-records" \
        cmp -s "$work/linux/$name-back.srec" "$work/windows/$name-back.srec"
    both "info of a missing $name.bin" info "missing-$name.bin"
    mkdir "$work/linux/$name" "$work/windows/$name"
    # The simulator's --flash, checked before it listens: a folder, and a file in a missing one.
    for flash in "$name" "missing-$name/flash.bin"; do
        run_both vexil-printserver-sim --flash "$flash" --once
        check "simulator --flash $flash: same status" cmp -s "$work/linux.status" "$work/windows.status"
        check "simulator --flash $flash: status 64" grep -qx 64 "$work/windows.status"
        check "simulator --flash $flash: same messages" cmp -s "$work/linux.err" "$work/windows.err"
    done
    # --flash-dir names each flash file inside the folder, the folder's name kept whole: a
    # folder where the file would go is refused, naming both (each with its own separator),
    # its reason in the run's language (Japanese here).
    mkdir "$work/linux/$name/127.0.0.1.bin" "$work/windows/$name/127.0.0.1.bin"
    run_both vexil-printserver-sim --flash-dir "$name" --once
    check "simulator --flash-dir $name: same status" cmp -s "$work/linux.status" "$work/windows.status"
    check "simulator --flash-dir $name: status 64" grep -qx 64 "$work/windows.status"
    check "simulator --flash-dir $name: the file in the folder refused" \
        grep -qF -e "--flash-dir: $name\\127.0.0.1.bin は通常のファイルではありません" "$work/windows.err"
done
# Two services of the simulator on one UDP port are refused on both, before either listens.
run_both vexil-printserver-sim --bramble-port 5031 --once
check "simulator on one UDP port twice: same status" cmp -s "$work/linux.status" "$work/windows.status"
check "simulator on one UDP port twice: status 64" grep -qx 64 "$work/windows.status"
check "simulator on one UDP port twice: same messages" cmp -s "$work/linux.err" "$work/windows.err"

# A damaged file and refused outputs.
for side in linux windows; do
    printf '\x01' | dd of="$work/$side/RS.BIN" bs=1 seek=100 conv=notrunc status=none
    mkdir "$work/$side/out.bin"
done
both "a damaged file" info RS.BIN
both "an output that is a folder" extract back.srec out.bin
both "an output that is the input" extract RS.BIN RS.BIN
both "a missing input" info missing.bin

# vexil-download: usage, refused addresses and options, and download files that fail the check
# before anything is sent.
download "help" --help
download "model list" --list-models
download "no model" --tcp 192.0.2.1
download "unknown option" --model 6 --tcp 192.0.2.1 --speed 9
download "repeated option" --model 6 --model 6 --tcp 192.0.2.1
download "model out of range" --model 9 --tcp 192.0.2.1
download "loopback address" --model 6 --tcp 127.0.0.1 --yes
download "octet out of range" --model 6 --tcp 192.0.2.256 --yes
download "broadcast node" --model 6 --ipx 00000001:FFFFFFFFFFFF --yes
download "IPX for a TCP/IP-only model" --model 5 --ipx 00000001:00D1F0123456 --yes
download "jobs without targets" --model 6 --tcp 192.0.2.1 --jobs 2
for side in linux windows; do
    mkdir "$work/$side/empty" "$work/$side/damaged"
    cp "$work/$side/RS.BIN" "$work/$side/damaged/"  # damaged above
    printf 'tcp 192.0.2.1\r\nipx 00000001:00D1F0123456\r\ntcp 192.0.2.1\r\n' \
        >"$work/$side/duplicates"
    printf 'tcp 192.0.2.1\n\0\n' >"$work/$side/nul"
done
download numbers "no download file" --model 6 --tcp 192.0.2.1 --yes --dir empty
download numbers "a damaged download file" --model 6 --tcp 192.0.2.1 --yes --dir damaged
download numbers "a fleet with a damaged download file" --model 6 --targets duplicates --yes \
    --dir damaged
download numbers "a missing folder" --model 6 --tcp 192.0.2.1 --yes --dir missing
download numbers "a targets file with a repeated target" --model 6 --targets duplicates --yes
download numbers "a targets file with a NUL byte" --model 6 --targets nul --yes
download numbers "a missing targets file" --model 6 --targets missing --yes
download numbers "a log that is a folder" --model 6 --tcp 192.0.2.1 --yes --log empty
# The --failed file: its new text under a name of its own (a folder named FILE.new stays), and
# none made by a refused run.
for side in linux windows; do
    mkdir "$work/$side/retry.new"
done
download numbers "--failed beside FILE.new" --model 6 --tcp 192.0.2.1 --yes --dir empty \
    --failed retry
check "--failed beside FILE.new: the target to run again" \
    test "$(cat "$work/windows/retry")" = "tcp 192.0.2.1"
check "--failed beside FILE.new: the same file" cmp -s "$work/linux/retry" "$work/windows/retry"
check "--failed beside FILE.new: the folder stays" test -d "$work/windows/retry.new"
download numbers "a refused run" --model 6 --tcp 192.0.2.1 --yes --dir missing --failed unmade
check "a refused run: no --failed file" test ! -e "$work/windows/unmade"

for side in linux windows; do
    mkdir "$work/$side/ダウンロード"
    cp "$work/$side/damaged/RS.BIN" "$work/$side/ダウンロード/"
    cp "$work/$side/duplicates" "$work/$side/対象.txt"
done
download numbers "a damaged download file in a Japanese folder" --model 6 --tcp 192.0.2.1 --yes \
    --dir ダウンロード
download "a targets file with a Japanese name" --model 6 --targets 対象.txt --yes

# Windows' device names name no file in any folder: refused at once as no regular file, never
# opened or read (a serial port would hold the program; Wine may have no COM1 at all).
windows_only() {  # windows_only NAME STATUS TEXT PROGRAM ARGUMENT...
    local name=$1 status=$2 text=$3 tool=$4
    shift 4
    # TEXT is English: the program speaks it here.
    (cd "$work/windows" && LANGUAGE=en wine_run "$work/windows.out" "$work/windows.err" 60 \
        "$windows_build/bin/$tool.exe" "$@")
    check "$name: status $status" test $? -eq "$status"
    check "$name: says why" grep -qF "$text" "$work/windows.err"
}
for device in NUL CON AUX COM1; do
    windows_only "vexil-file info $device" 1 "vexil-file: $device is not a regular file" \
        vexil-file info "$device"
    windows_only "vexil-download --targets $device" 64 \
        "the targets file $device: it is a device, not a regular file" \
        vexil-download --model 6 --targets "$device" --yes
done
windows_only "vexil-download --dir NUL" 64 "cannot use the folder" \
    vexil-download --model 6 --tcp 192.0.2.1 --yes --dir NUL

echo "$failures failures"
[ "$failures" -eq 0 ]
