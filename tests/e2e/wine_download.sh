#!/usr/bin/env bash
# vexil-download.exe under Wine against the Linux simulator, inside a private network namespace
# (run through in_netns.sh): a refused address and a usage error under an English and a Japanese
# LANG; a whole download over TCP/IP and one over IPX, with Windows paths
# (drive letter, backslashes) in --dir and --log; then a fleet of both from a targets file with
# CR LF line ends, whose children are Windows processes. The flash the simulator keeps must
# equal the image, and the log lines must be the bytes the Linux program writes for the same
# fleet. Then a fleet that --max-failures stops, a scan of a small range with the targets file it
# writes, Ctrl-C to a download, a fleet killed outright, and Ctrl-C to a fleet.
# Usage: wine_download.sh LINUX_BUILD WINDOWS_BUILD
# shellcheck source=tests/support/preamble.sh
source "$(dirname "$0")/../support/preamble.sh"
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
sim=$linux/tools/vexil-printserver-sim
download=$windows/bin/vexil-download.exe

cleanup_first() {
    [ -z "${sim_pid:-}" ] || kill "$sim_pid" 2>/dev/null
}
mkdir "$work/files" "$work/logs"
cp "$linux/sample/RS.BIN" "$work/files/"
# The sample's SHA-256, as sha256sum wrote it once.
sum=797b9d8097ff7bbedcf7b292b37eaf96df24943c58c428102bc4a0b5228f4f41
"$linux/tools/vexil-file" extract "$work/files/RS.BIN" "$work/expected.bin" >/dev/null

use_wine "$windows"
fresh_wineserver
# The library's IPX tunnel goes to the simulator's address rather than to loopback.
export TAVDL_IPX_TUNNEL=192.0.2.1:16640
# The program's texts that the checks below read are the English ones, whatever the locale the
# test was started in; the language rows say their own.
export LANGUAGE=en

# The language of the environment, as on Linux: a refused address's message and a usage error
# in English under an English LANG, in Japanese under a Japanese one, the message's number alike.
for language in en ja; do
    locale=en_US.UTF-8
    [ "$language" = ja ] && locale=ja_JP.UTF-8
    for args in "--tcp 127.0.0.1" "--bogus"; do
        # shellcheck disable=SC2086 # the options' words
        (cd "$work" && LANGUAGE= LC_ALL= LC_MESSAGES= LANG=$locale \
            wine_run "$work/out" "$work/out" 300 "$download" --model 6 $args)
        check "$language: $args: a usage error, 64" test $? -eq 64
        tr -d '\r' <"$work/out" >>"$work/language.$language"
    done
    sed "s/^/  $language: /" "$work/language.$language"
done
check "English: the message" \
    grep -qx "error 57620 The first number of the IP address cannot be 127." "$work/language.en"
check "English: the usage error" grep -qx "vexil-download: unknown option --bogus" \
    "$work/language.en"
check "Japanese: the message" \
    grep -qx "error 57620 127はIPアドレスの一桁目には設定できません。" "$work/language.ja"
check "Japanese: the usage error" grep -qx "vexil-download: 不明なオプションです: --bogus" \
    "$work/language.ja"

# The simulator on 192.0.2.1, told to end after one download or not; waits until it listens.
start_sim() {
    rm -f "$work/flash.bin" "$work/ready"
    mkfifo "$work/ready"
    "$sim" --listen 192.0.2.1 --flash "$work/flash.bin" "$@" --ready-fd 3 3>"$work/ready" \
        >"$work/sim.log" 2>&1 &
    sim_pid=$!
    local line=
    read -r -t 10 line <"$work/ready"
    check "the simulator listens" test "$line" = ready
}
stop_sim() {
    # A simulator given its download ends by itself (--once); one that was not is ended here.
    timeout 20 tail --pid="$sim_pid" -f /dev/null || kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
}
show() {
    tr -d '\r' <"$work/out" | sed "s/^/  $1: /"
}
# A log with each line's time replaced, to compare two runs.
untimed() {
    sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z /TIME /' "$1"
}

dir=$(winepath -w "$work/files")
log=$(winepath -w "$work/logs")\\windows.log
for transport in tcp ipx; do
    target=192.0.2.1
    [ "$transport" = ipx ] && target=00000001:00D1F0123456
    start_sim --once --quiet
    (cd "$work" && wine_run "$work/out" "$work/out" 300 "$download" --model 6 "--$transport" \
        "$target" --yes --dir "$dir" --log "$log")
    status=$?
    show "$transport"
    check "$transport: the download succeeded under Wine" test "$status" -eq 0
    stop_sim
    check "$transport: the flash equals the image" cmp -s "$work/flash.bin" "$work/expected.bin"
done
check "the log has one line per download, LF alone" \
    test "$(grep -c "outcome=succeeded sha256=$sum$" "$work/logs/windows.log")" -eq 2
check "no CR in the log" test "$(tr -cd '\r' <"$work/logs/windows.log" | wc -c)" -eq 0

# Approved sums of another image, from a checksums file with CR LF line ends given as a Windows
# path: refused once before anything is sent, status 6.
printf '%s  RS.BIN\r\n' "$(printf '0%.0s' {1..64})" >"$work/other-sums"
start_sim
(cd "$work" && wine_run "$work/out" "$work/out" 300 "$download" --model 6 --tcp 192.0.2.1 \
    --yes --dir "$dir" --checksums "$(winepath -w "$work/other-sums")")
status=$?
show "--checksums, another image"
check "--checksums: another image refused, status 6" test "$status" -eq 6
check "--checksums: said once, naming the file and its sum" \
    test "$(grep -c "the download file RS.BIN has the SHA-256 $sum, not" "$work/out")" -eq 1
check "--checksums: nothing sent" test "$(grep -c "version query" "$work/sim.log")" -eq 0
kill "$sim_pid" 2>/dev/null
stop_sim
# The approved sum in upper case with the binary marker, as some tools write it.
printf '%s *RS.BIN\r\n' "$(tr a-f A-F <<<"$sum")" >"$work/sums"

# A fleet of both targets, one after the other, from a targets file with CR LF line ends; then
# the Linux program's fleet against the same simulator, for the log lines to compare.
printf 'tcp 192.0.2.1\r\nipx 00000001:00D1F0123456\r\n' >"$work/targets"
start_sim --quiet
(cd "$work" && wine_run "$work/out" "$work/err" 300 "$download" --model 6 \
    --targets "$(winepath -w "$work/targets")" --jobs 1 --yes --dir "$dir" \
    --log "$(winepath -w "$work/logs")\\fleet.log" --failed "$(winepath -w "$work/logs")\\failed" \
    --json --checksums "$(winepath -w "$work/sums")")
status=$?
sed "s/^/  fleet: /" "$work/err"
check "fleet: both downloads succeeded under Wine" test "$status" -eq 0
check "fleet: the summary counts two successes" grep -q '"succeeded":2' "$work/out"
check "fleet: each target's JSON carries the sum" \
    test "$(grep -c "\"fileSha256\":\"$sum\"" "$work/out")" -eq 2
check "fleet: each child's lines came through" grep -q '^\[tcp 192.0.2.1\] ' "$work/err"
check "fleet: no target failed" test ! -s "$work/logs/failed"
check "fleet: the flash equals the image" cmp -s "$work/flash.bin" "$work/expected.bin"
(cd "$work" && timeout 300 "$linux/cli/vexil-download" --model 6 --targets "$work/targets" \
    --jobs 1 --yes --dir "$work/files" --log "$work/logs/linux.log") >/dev/null 2>&1
check "fleet: the Linux program's log lines are the same bytes" \
    cmp -s <(untimed "$work/logs/fleet.log") <(untimed "$work/logs/linux.log")
kill "$sim_pid" 2>/dev/null
stop_sim

# A print server whose version replies are not valid: --yes does not confirm it (its model was
# never read), --allow-unverified does.
start_sim --bad-version-reply
(cd "$work" && wine_run "$work/out" "$work/out" 300 "$download" --model 6 --tcp 192.0.2.1 \
    --yes --dir "$dir" --log "$(winepath -w "$work/logs")\\unverified.log")
status=$?
show "unverified"
check "unverified: exit status 6" test "$status" -eq 6
check "unverified: said so" grep -q "no valid version reply" "$work/out"
check "unverified: logged so" \
    grep -q "result=-6 message=113 first=113 outcome=unverified sha256=$sum$" \
    "$work/logs/unverified.log"
check "unverified: nothing past the version query" test "$(grep -c erase "$work/sim.log")" -eq 0
kill "$sim_pid" 2>/dev/null
stop_sim
start_sim --bad-version-reply --once --quiet
(cd "$work" && wine_run "$work/out" "$work/out" 300 "$download" --model 6 --tcp 192.0.2.1 \
    --yes --allow-unverified --dir "$dir")
status=$?
show "--allow-unverified"
check "--allow-unverified: the download succeeded" test "$status" -eq 0
stop_sim
check "--allow-unverified: the flash equals the image" cmp -s "$work/flash.bin" "$work/expected.bin"

# --max-failures 1: the first target's mode switch is refused, and the fleet starts neither of
# the two after it; each is on record as stopped, and nothing is sent to them.
start_sim --refuse-mode-switch 9
printf 'tcp 192.0.2.1\r\ntcp 192.0.2.2\r\ntcp 192.0.2.3\r\n' >"$work/rollout"
(cd "$work" && wine_run "$work/out" "$work/err" 300 "$download" --model 6 \
    --targets "$(winepath -w "$work/rollout")" --jobs 1 --max-failures 1 --yes --dir "$dir" \
    --log "$(winepath -w "$work/logs")\\rollout.log" \
    --failed "$(winepath -w "$work/logs")\\rollout-failed" --json)
status=$?
sed "s/^/  --max-failures: /" "$work/err"
check "--max-failures: the first failure's status, 10" test "$status" -eq 10
check "--max-failures: the summary counts two stopped" \
    grep -q '"failed":3,"stopped":2,"succeeded":0,"targets":3' "$work/out"
check "--max-failures: each stopped target logged" \
    test "$(grep -c "first=0 outcome=stopped sha256=-$" "$work/logs/rollout.log")" -eq 2
check "--max-failures: every target in the --failed file" \
    test "$(tr -d '\r' <"$work/logs/rollout-failed" | grep -c '^tcp ')" -eq 3
kill "$sim_pid" 2>/dev/null
stop_sim

# --scan of 192.0.2.8 to .15, where one Linux simulator plays .10 to .13 and .12 is silent: the
# rows, the counts, the status and the targets file, written as a Windows path.
rm -f "$work/ready"
mkfifo "$work/ready"
"$sim" --listen 192.0.2.10-192.0.2.13 --printer "192.0.2.12 --no-version-reply" \
    --printer "192.0.2.13 --firmware-version 1.05" --ipx-tunnel-port 0 --quiet --ready-fd 3 \
    3>"$work/ready" >"$work/sim.log" 2>&1 &
sim_pid=$!
read -r -t 10 line <"$work/ready"
check "scan: the simulator listens" test "$line" = ready
(cd "$work" && wine_run "$work/out" "$work/err" 300 "$download" --model 6 \
    --scan 192.0.2.8-192.0.2.15 --write-targets "$(winepath -w "$work/logs")\\found.txt")
status=$?
show "--scan"
check "scan: exit status 0" test "$status" -eq 0
check "scan: the rows of the three that answered" test "$(tr -d '\r' <"$work/out" |
    grep -cE '^tcp 192\.0\.2\.(10  aa01     1\.10|11  aa01     1\.10|13  aa01     1\.05) ')" -eq 3
check "scan: the counts" grep -q "^8 addresses scanned: 3 print servers answered, 5 silent" \
    <(tr -d '\r' <"$work/out")
check "scan: the targets file" cmp -s <(tr -d '\r' <"$work/logs/found.txt" | grep -v '^#') \
    <(printf 'tcp 192.0.2.%s\n' 10 11 13)
(cd "$work" && wine_run "$work/out" "$work/err" 300 "$download" --model 6 \
    --scan 192.0.2.14-192.0.2.15 --json)
status=$?
check "scan: none answered, exit status 13" test "$status" -eq 13
check "scan: the JSON summary" grep -q \
    '"answered":0,"cancelled":0,"exitStatus":13,"invalidReply":0,"otherModel":0,"scanned":2,"silent":2' \
    "$work/out"
# A scan that finds no print server leaves the last targets file as it was (status 13); and a
# targets file that standard output goes to, redirected by a Windows command line, is refused
# before anything is sent: replaced, it would take the table with it.
logs=$(winepath -w "$work/logs")
(cd "$work" && wine_run "$work/out" "$work/err" 300 "$download" --model 6 \
    --scan 192.0.2.14-192.0.2.15 --write-targets "$logs\\found.txt")
status=$?
check "scan: none found, exit status 13" test "$status" -eq 13
check "scan: none found, the targets file kept" cmp -s \
    <(tr -d '\r' <"$work/logs/found.txt" | grep -v '^#') <(printf 'tcp 192.0.2.%s\n' 10 11 13)
(cd "$work" && timeout 60 wine cmd /c "$(winepath -w "$download") --model 6 --scan \
    192.0.2.14-192.0.2.15 --write-targets $logs\\same.txt >$logs\\same.txt 2>$logs\\same.err")
status=$?
check "scan: the file of standard output refused, exit status 64" test "$status" -eq 64
check "scan: the file of standard output refused, said so" grep -q \
    "write-targets names the file standard output goes to" "$work/logs/same.err"
check "scan: only version queries were sent" test "$(grep -c "mode switch" "$work/sim.log")" -eq 0
kill "$sim_pid" 2>/dev/null
stop_sim

erasing() { until_true 300 grep -q "erase:" "$work/sim.log"; }
ended() { until_true 300 eval "! kill -0 $1 2>/dev/null"; }

# Ctrl-C while the flash is erased (Wine hands SIGINT to the program as a console's Ctrl-C): the
# download is cancelled as the cancel button does, with message 111 and status 5, and logged.
start_sim --erase-seconds 30
# Run without timeout(1), whose own process would take the signal; the waits below are bounded.
(cd "$work" && exec wine "$download" --model 6 --tcp 192.0.2.1 --yes --dir "$dir" \
    --log "$(winepath -w "$work/logs")\\cancel.log") >"$work/out" 2>&1 &
program=$!
check "Ctrl-C: the simulator began to erase" erasing
kill -INT "$program"
check "Ctrl-C: the program ended" ended "$program"
kill -KILL "$program" 2>/dev/null
wait "$program"
status=$?
show "Ctrl-C"
check "Ctrl-C: exit status 5" test "$status" -eq 5
check "Ctrl-C: message 111" grep -q "^error 111 " "$work/out"
check "Ctrl-C: logged as cancelled" \
    grep -q "outcome=cancelled sha256=$sum$" "$work/logs/cancel.log"
kill "$sim_pid" 2>/dev/null
stop_sim

# A fleet killed outright: its child, a Windows process of its own, sees the fleet's end as the
# cancel command, cancels its download and still logs it; none goes on unsupervised.
start_sim --erase-seconds 30
printf 'tcp 192.0.2.1\n' >"$work/one-target"
(cd "$work" && exec wine "$download" --model 6 --targets \
    "$(winepath -w "$work/one-target")" --yes --dir "$dir" \
    --log "$(winepath -w "$work/logs")\\killed.log") >"$work/out" 2>&1 &
fleet=$!
check "killed fleet: the simulator began to erase" erasing
kill -KILL "$fleet"
wait "$fleet" 2>/dev/null
check "killed fleet: its child cancelled and logged the download" \
    until_true 300 grep -qs "outcome=cancelled sha256=$sum$" "$work/logs/killed.log"
kill "$sim_pid" 2>/dev/null
stop_sim

# Ctrl-C to a fleet while its child erases the flash: the fleet's wait, which only its
# children's pipes would otherwise end, wakes; the child is cancelled, logs it, and the fleet
# ends with its status. The erase outlasts the wait for the fleet's end: a fleet that heard the
# cancel only at its child's next line would end after it.
start_sim --erase-seconds 120
(cd "$work" && exec wine "$download" --model 6 --targets \
    "$(winepath -w "$work/one-target")" --yes --dir "$dir" \
    --log "$(winepath -w "$work/logs")\\fleet-cancel.log") >"$work/out" 2>&1 &
fleet=$!
check "fleet Ctrl-C: the simulator began to erase" erasing
kill -INT "$fleet"
check "fleet Ctrl-C: the fleet ended" ended "$fleet"
kill -KILL "$fleet" 2>/dev/null
wait "$fleet"
status=$?
show "fleet Ctrl-C"
check "fleet Ctrl-C: exit status 5" test "$status" -eq 5
check "fleet Ctrl-C: its child logged the download cancelled" \
    grep -q "outcome=cancelled sha256=$sum$" "$work/logs/fleet-cancel.log"
kill "$sim_pid" 2>/dev/null
stop_sim

echo "$failures failures"
[ "$failures" -eq 0 ]
