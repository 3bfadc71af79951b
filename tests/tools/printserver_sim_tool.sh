#!/usr/bin/env bash
# vexil-printserver-sim as a process, in a private network namespace (in_netns.sh): a download
# over a raw TCP connection with its standard streams closed, --quiet, a stop on SIGTERM or
# SIGINT, and a --flash that cannot be written refused before it listens.
# usage: in_netns.sh printserver_sim_tool.sh VEXIL_PRINTSERVER_SIM
# shellcheck source=tests/support/preamble.sh
source "$(dirname "$0")/../support/preamble.sh"
sim=$1

# One download on the download port: connect, erase, one block (the record of 8 bytes at
# 0x008800, without its line feed) and the finish, each behind its length.
download() {  # download PORT
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
# that at most 10 seconds.
start() {  # start PORT EXTRA-REDIRECTIONS-AND-OPTIONS...
    local port=$1
    shift
    rm -f "$work/ready"
    mkfifo "$work/ready"
    "$@" --download-port "$port" --vantrel-port $((port + 1)) --bramble-port $((port + 2)) \
        --ipx-tunnel-port $((port + 3)) --once --ready-fd 3 3>"$work/ready" &
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

# A --flash that cannot be written: refused at once with the usage status, nothing listens.
mkdir "$work/folder"
for flash in "$work/folder" "$work/missing/flash" /dev/null; do
    timeout 10 "$sim" --once --flash "$flash" 2>"$work/err"
    check "--flash $flash: exit 2" test $? -eq 2
    check "--flash $flash: says why" grep -q -- "--flash: " "$work/err"
    check "--flash $flash: before it listens" test "$(grep -c "listening on" "$work/err")" -eq 0
done

echo "$failures failed"
[ "$failures" -eq 0 ]
