#!/usr/bin/env bash
# The simulator built for Windows, under Wine, inside a private network namespace (run through
# in_netns.sh): the Linux vexil-download makes one whole download over TCP/IP and one over IPX
# against it, and the simulator's flash, named beyond ASCII, must equal the image. A second
# simulator on the ports of a running one is refused before it serves.
# Usage: wine_printserver_sim.sh LINUX_BUILD WINDOWS_BUILD
# shellcheck source=tests/support/preamble.sh
source "$(dirname "$0")/../support/preamble.sh"
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
sim=$windows/bin/vexil-printserver-sim.exe

cleanup_first() {
    [ -z "${sim_pid:-}" ] || kill "$sim_pid" 2>/dev/null
}
cp "$linux/sample/RS.BIN" "$work/"
"$linux/tools/vexil-file" extract "$work/RS.BIN" "$work/expected.bin" >/dev/null

use_wine "$windows"
fresh_wineserver
# The flash's name reaches Wine whole, in UTF-8, whatever locale the test was started in.
export LC_ALL=C.UTF-8
# The simulator's start lines follow the language, and two of them are read here ("listening on",
# "cannot listen on"): it speaks English, as LANGUAGE comes before every other variable.
export LANGUAGE=en

running() { kill -0 "$sim_pid" 2>/dev/null; }
stopped() { ! running; }

# Under Wine a descriptor handed down by the shell does not reach the program's C runtime, so
# the simulator's "listening on" line in its log says it is ready (a Wine start takes seconds).
start_sim() {  # start_sim LOG
    (cd "$work" && exec wine "$sim" --listen 192.0.2.1 --flash "$flash" --once) 2>"$work/$1" &
    sim_pid=$!
    until_true 600 grep -qs "listening on" "$work/$1"
}

for transport in tcp ipx; do
    flash=フラッシュ.bin
    [ "$transport" = tcp ] && flash=résumé.bin
    start_sim "$transport.log"
    check "$transport: the simulator listens under Wine within a minute" test $? -eq 0
    if [ "$transport" = tcp ]; then
        # While it runs, a second simulator on its ports is refused, with the reason.
        (cd "$work" && wine_run "$work/second.out" "$work/second.log" 120 "$sim" \
            --listen 192.0.2.1 --once)
        status=$?
        failures_before=$failures
        check "a second simulator on the same ports: exit 1" test "$status" -eq 1
        check "a second simulator on the same ports: says why" \
            grep -q "cannot listen on 192.0.2.1" "$work/second.log"
        [ "$failures" -eq "$failures_before" ] ||
            sed 's/^/  second simulator: /' "$work/second.out" "$work/second.log"
        target=(--tcp 192.0.2.1)
        over=TCP/IP
    else
        target=(--ipx 00000001:00D1F0123456)
        over=IPX
    fi
    # The library's IPX tunnel goes to the simulator's address rather than to loopback.
    TAVDL_IPX_TUNNEL=192.0.2.1:16640 timeout 300 "$linux/cli/vexil-download" --model 6 \
        "${target[@]}" --dir "$work" --yes >"$work/out" 2>&1
    status=$?
    check "$transport: the download succeeded" test "$status" -eq 0
    [ "$status" -eq 0 ] || sed "s/^/  $transport: /" "$work/out"
    # Given its download, the simulator ends by itself (--once); one that does not is ended.
    until_true 200 stopped
    check "$transport: the simulator ends after the download within 20 seconds" test $? -eq 0
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid"
    check "$transport: the simulator's exit status is 0" test $? -eq 0
    sim_pid=
    check "$transport: the simulator's summary" grep -q "download finished over $over" \
        "$work/$transport.log"
    check "$transport: the flash $flash equals the image" cmp -s "$work/$flash" "$work/expected.bin"
done

echo "$failures failures"
[ "$failures" -eq 0 ]
