#!/usr/bin/env bash
# Whole downloads by the Windows build under Wine, over TCP/IP and over IPX, against the Linux
# simulator, inside a private network namespace (run through in_netns.sh): the flash the
# simulator keeps must equal the one a Linux download leaves.
# Usage: wine_download.sh LINUX_BUILD WINDOWS_BUILD
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tools/check.sh"
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
sim=$linux/tools/vexil-printserver-sim

work=$(mktemp -d)
cleanup() {
    [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2>/dev/null
    wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cp "$linux/sample/RS.BIN" "$work/"
"$linux/tools/vexil-file" extract "$work/RS.BIN" "$work/expected.bin" >/dev/null

# Wine's processes are made by its wineserver, which must run in this namespace: a fresh one.
export WINEPREFIX=$windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null

for transport in tcp ipx; do
    target=192.0.2.1
    [ "$transport" = ipx ] && target=00000001:00D1F0123456
    rm -f "$work/flash.bin" "$work/ready"
    mkfifo "$work/ready"
    "$sim" --listen 192.0.2.1 --flash "$work/flash.bin" --once --quiet \
        --ready-fd 3 3>"$work/ready" &
    sim_pid=$!
    line=
    read -r -t 10 line <"$work/ready"
    check "$transport: the simulator listens" test "$line" = ready
    # The library's IPX tunnel goes to the simulator's address rather than to loopback.
    (cd "$work" && TAVDL_IPX_TUNNEL=192.0.2.1:16640 timeout 300 \
        wine "$windows/bin/wine_download.exe" "$transport" "$target") >"$work/out" 2>&1
    status=$?
    tr -d '\r' <"$work/out" | sed "s/^/  $transport: /"
    check "$transport: the download succeeded under Wine" test "$status" -eq 0
    # A simulator given its download ends by itself (--once); one that was not is ended here.
    timeout 20 tail --pid="$sim_pid" -f /dev/null || kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
    check "$transport: the flash equals the image" cmp -s "$work/flash.bin" "$work/expected.bin"
done

echo "$failures failures"
[ "$failures" -eq 0 ]
