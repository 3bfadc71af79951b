#!/usr/bin/env bash
# vexil-printserver-sim as a process, in a private network namespace (in_netns.sh): a download
# over a raw TCP connection with its standard streams closed, --quiet, a stop on SIGTERM or
# SIGINT, and a --flash that cannot be written refused before it listens.
# usage: in_netns.sh printserver_sim_tool.sh VEXIL_PRINTSERVER_SIM
# shellcheck source=tests/support/preamble.sh
source "$(dirname "$0")/../support/preamble.sh"
sim=$1
# A simulator left running (a check that failed halfway) must not hold the test's output open.
cleanup_first() {
    kill -9 "${pid:-}" 2>/dev/null
}
# The checks below match English texts: the simulator speaks English here, whatever the
# language of the environment the test runs in. The rows on the language itself choose their own.
export LANGUAGE=en

# One download: the mode switch on the Bramble port (PORT + 2), then on the download port
# connect, erase, one block (the record of 8 bytes at 0x008800, without its line feed) and the
# finish, each behind its length.
download() {  # download PORT
    printf '\x03\x00\x00\x00\x09\x00' >"/dev/udp/127.0.0.1/$(($1 + 2))" || return 1
    exec 4<>"/dev/tcp/127.0.0.1/$1" || return 1
    printf '\x00\x06\x10\x00\x00\x00\x01\x00' >&4
    printf '\x00\x06\x11\x00\x00\x00\x02\x00' >&4
    printf '\x00\x15\x12\x00\x00\x00\x03\x00S2\x0c\x00\x88\x00\xaa\x01\x01\x10\x00\x00\x00\x00\xaf' >&4
    printf '\x00\x08\x13\x00\x00\x00\x04\x00\x71\x03' >&4
    # Under --once the simulator ends after the finish, which closes the connection.
    timeout 10 cat <&4 >/dev/null
    exec 4<&-
}
expected=$(printf '\xaa\x01\x01\x10\x00\x00\x00\x00' | od -An -tx1)

# Runs the simulator in the background, saying "ready" on a FIFO once it listens; waits for
# that at most 10 seconds. The OPTIONS come after the ports, so that a port among them counts.
start() {  # start PORT PROGRAM OPTIONS...
    local port=$1 program=$2
    shift 2
    rm -f "$work/ready"
    mkfifo "$work/ready"
    "$program" --download-port "$port" --vantrel-port $((port + 1)) --bramble-port $((port + 2)) \
        --ipx-tunnel-port $((port + 3)) "$@" --once --ready-fd 3 3>"$work/ready" &
    pid=$!
    read -r -t 10 said <"$work/ready"
    [ "${said:-}" = ready ]
}
finish() {  # waits for the simulator's exit, at most 10 seconds (then ends it): its status
    timeout 10 tail --pid="$pid" -f /dev/null
    kill -9 "$pid" 2>/dev/null
    wait "$pid"
}

for quiet in "" --quiet; do
    rm -f "$work/flash" "$work/log"
    start 6000 "$sim" --flash "$work/flash" $quiet 2>"$work/log"
    check "${quiet:-talkative}: listens" test $? -eq 0
    download 6000
    finish
    check "${quiet:-talkative}: exits 0 after the download" test $? -eq 0
    check "${quiet:-talkative}: the flash" test "$(od -An -tx1 "$work/flash")" = "$expected"
    lines=$(grep -c . "$work/log")
    if [ -n "$quiet" ]; then
        check "--quiet: only the summary" test "$lines" -eq 1
    else
        check "without --quiet: the listening line" grep -q "listening on" "$work/log"
    fi
    check "${quiet:-talkative}: the summary" grep -q "download finished over TCP/IP" "$work/log"
done

# A finish with no download before it, over the IPX tunnel and over a connection of its own,
# finishes nothing: no flash file, and --once waits on for a real download, which then ends it.
rm -f "$work/flash" "$work/log"
start 6030 "$sim" --flash "$work/flash" 2>"$work/log"
check "stray finish: listens" test $? -eq 0
# The IPX header (no checksum, 47 bytes, to the card's socket 0x4100 from 0x4101), then the
# finish message: type 0x13, id 4, status 0 and the finish request. Written whole first: one
# write is one datagram.
{
    printf '\xff\xff\x00\x2f\x00\x04\x00\x00\x00\x01\x00\xd1\xf0\x12\x34\x56\x41\x00'
    printf '\x00\x00\x00\x00\x02\x00\x00\x00\x00\x01\x41\x01'
    printf '\x13\x00\x00\x00\x04\x00\x01\x00\x00\x00\x00\x00\x00\x03\x71\x0a\x00'
} >"$work/ipx-finish"
cat "$work/ipx-finish" >/dev/udp/127.0.0.1/6033
exec 4<>/dev/tcp/127.0.0.1/6030
printf '\x00\x08\x13\x00\x00\x00\x04\x00\x71\x03' >&4
refused_twice() { [ "$(grep -c "finish refused: no download" "$work/log")" -eq 2 ]; }
check "stray finish: both refused" until_true 50 refused_twice
exec 4<&-
check "stray finish: still running" kill -0 "$pid"
check "stray finish: no flash file" test ! -e "$work/flash"
download 6030
finish
check "stray finish: a real download then ends it" test $? -eq 0
check "stray finish: the flash" test "$(od -An -tx1 "$work/flash")" = "$expected"

# With standard input, output and error closed: the flash holds exactly the image (no log
# line went into it) and it ends as usual.
rm -f "$work/flash"
start 6010 "$sim" --flash "$work/flash" <&- >&- 2>&-
check "closed streams: listens" test $? -eq 0
download 6010
finish
check "closed streams: exits 0" test $? -eq 0
check "closed streams: the flash" test "$(od -An -tx1 "$work/flash")" = "$expected"

# SIGTERM and SIGINT end the simulator's wait for its sockets at once, however long it would
# have slept: it says so and exits 0 well within the second of its idle wait.
for signal in TERM INT; do
    rm -f "$work/log"
    start 6020 "$sim" 2>"$work/log"
    check "SIG$signal: listens" test $? -eq 0
    kill -s "$signal" "$pid"
    gone=1
    for ((try = 0; try < 40; try++)); do  # 40 tries 20 ms apart
        kill -0 "$pid" 2>/dev/null || { gone=0; break; }
        sleep 0.02
    done
    check "SIG$signal: stops within 0.8 seconds" test "$gone" -eq 0
    finish
    check "SIG$signal: exits 0" test $? -eq 0
    check "SIG$signal: says it stopped" grep -q "stopped" "$work/log"
done

# At its descriptor limit, flooded with connections right after the erase's reply, while the
# download waits silent for its first block: the flood's connections make room for each other,
# never the download's, which then goes on to its finish.
printf '#!/usr/bin/env bash\nulimit -n 16\nexec "%s" "$@"\n' "$sim" >"$work/limited"
chmod +x "$work/limited"
rm -f "$work/flash" "$work/log"
start 6050 "$work/limited" --flash "$work/flash" 2>"$work/log"
check "descriptor limit: listens" test $? -eq 0
printf '\x03\x00\x00\x00\x09\x00' >/dev/udp/127.0.0.1/6052
exec 4<>/dev/tcp/127.0.0.1/6050
printf '\x00\x06\x10\x00\x00\x00\x01\x00' >&4
printf '\x00\x06\x11\x00\x00\x00\x02\x00' >&4
# The replies to the connection and the erase: 9 bytes each (length, header, status byte).
check "descriptor limit: connected and erased" \
    test "$(timeout 10 head -c 18 <&4 | od -An -tx1 | tr -d ' \n')" = \
    "000790000000010000000791000000020000"
flood=()
for ((i = 0; i < 40; i++)); do
    exec {fd}<>/dev/tcp/127.0.0.1/6050 && flood+=("$fd")
done
check "descriptor limit: the flood makes room for itself" \
    until_true 50 grep -q "silent longest closed to make room" "$work/log"
(   # a connection closed under it fails the write instead of ending the test
    trap '' PIPE
    printf '\x00\x15\x12\x00\x00\x00\x03\x00S2\x0c\x00\x88\x00\xaa\x01\x01\x10\x00\x00\x00\x00\xaf' >&4
    printf '\x00\x08\x13\x00\x00\x00\x04\x00\x71\x03' >&4
) 2>/dev/null
timeout 10 cat <&4 >/dev/null
exec 4<&-
for fd in "${flood[@]}"; do
    exec {fd}<&-
done
finish
check "descriptor limit: the download finishes" test $? -eq 0
check "descriptor limit: the flash" test "$(od -An -tx1 "$work/flash" 2>/dev/null)" = "$expected"

# Without an IPX tunnel the listening line names none.
rm -f "$work/log"
start 6040 "$sim" --ipx-tunnel-port 0 2>"$work/log"
check "--ipx-tunnel-port 0: listens" test $? -eq 0
kill -s TERM "$pid"
finish
check "--ipx-tunnel-port 0: says there is no tunnel" grep -q "download 6040/tcp, no IPX tunnel)" \
    "$work/log"
check "--ipx-tunnel-port 0: names no tunnel port" test "$(grep -c "IPX tunnel 0" "$work/log")" -eq 0

# A --flash that cannot be written: refused at once with the usage status, nothing listens.
mkdir "$work/folder"
for flash in "$work/folder" "$work/missing/flash" /dev/null; do
    timeout 10 "$sim" --once --flash "$flash" 2>"$work/err"
    check "--flash $flash: exit 64" test $? -eq 64
    check "--flash $flash: says why" grep -q -- "--flash: " "$work/err"
    check "--flash $flash: before it listens" test "$(grep -c "listening on" "$work/err")" -eq 0
done

# What a person reads follows the language of the environment: English for an English one,
# Japanese for a Japanese one and for C. --help, a usage error and the listening line, each row
# with what it says.
while IFS='|' read -r lang help refusal listening; do
    # The simulator in that language alone, as a program of its own for start.
    printf '#!/usr/bin/env bash\nexec env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG="%s" "%s" "$@"\n' \
        "$lang" "$sim" >"$work/in_lang"
    chmod +x "$work/in_lang"
    "$work/in_lang" --help >"$work/help" 2>&1
    "$work/in_lang" --vantrel-port x >"$work/refusal" 2>&1
    check "LANG=$lang: --help" grep -qF -- "$help" "$work/help"
    check "LANG=$lang: a usage error" grep -qxF -- "$refusal" "$work/refusal"
    if [ "${lang#en}" != "$lang" ]; then
        check "LANG=$lang: not one character beyond ASCII" \
            test "$(cat "$work/help" "$work/refusal" | tr -d '\000-\177' | wc -c)" -eq 0
    fi
    start 6060 "$work/in_lang" --ipx-tunnel-port 0 2>"$work/log"
    check "LANG=$lang: listens" test $? -eq 0
    kill -s TERM "$pid"
    finish
    check "LANG=$lang: the listening line" grep -qxF -- "$listening" "$work/log"
done <<'ROWS'
en_US.UTF-8|  --once                   exit after one finished download (of any print|vexil-printserver-sim: --vantrel-port needs a port number (see --help)|vexil-printserver-sim: listening on 127.0.0.1 (version 6061/udp, switch 6062/udp, download 6060/tcp, no IPX tunnel), model code aa01, firmware 1.10
ja_JP.UTF-8|  --once                   （どのプリントサーバのものでも）ダウンロードが 1 回|vexil-printserver-sim: --vantrel-port: ポート番号が必要です（--help を参照）|vexil-printserver-sim: 127.0.0.1 で待ち受けています（バージョン照会 6061/udp、モード切り替え 6062/udp、ダウンロード 6060/tcp、IPX トンネルなし）。機種コード aa01、ファームウェア 1.10
C|使い方: vexil-printserver-sim [オプション]|vexil-printserver-sim: --vantrel-port: ポート番号が必要です（--help を参照）|vexil-printserver-sim: 127.0.0.1 で待ち受けています（バージョン照会 6061/udp、モード切り替え 6062/udp、ダウンロード 6060/tcp、IPX トンネルなし）。機種コード aa01、ファームウェア 1.10
ROWS

echo "$failures failed"
[ "$failures" -eq 0 ]
