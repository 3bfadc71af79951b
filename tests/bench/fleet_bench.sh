#!/usr/bin/env bash
# Benchmark (not a test): a fleet of N simulated printers updated at once by vexil-download,
# against one download in the same run. Prints the time of each, their ratio, how long the fleet
# took to start its downloads, the client side's CPU per download (user and system time of
# vexil-download and its children, divided by the printers), and the fleet's memory: the
# proportional set sizes (PSS) of vexil-download and its children summed at the peak, divided by
# the printers; and the fleet's parent alone: its threads and its peak resident memory. One
# simulator process plays every printer. Every flash is compared with the image.
#
#   tests/bench/fleet_bench.sh [--status-line] [--wine WINDOWS_BUILD] [BUILD_DIR] [PRINTERS]
#                              [JOBS]                  (defaults: build 1000 PRINTERS)
#
# With --status-line the fleet then runs four times more with its standard error on a
# pseudo-terminal (script(1) keeps one): with --no-progress, with the status line, with it, and
# without it, and the ratio of the time with the status line to the time without is given (the
# goal: at most 1.02).
#
# With --wine, both the single download and the fleet are vexil-download.exe of WINDOWS_BUILD
# under Wine (its children are Windows processes too), and the wineserver's CPU during the fleet
# is given; the simulator is still BUILD_DIR's.
#
# It runs in a private network namespace of its own whose loopback device carries
# 198.18.0.0/15, the range set aside for benchmarking network devices; nothing leaves it.
set -euo pipefail
status_line=
if [ "${1:-}" = --status-line ]; then
    status_line=--status-line
    shift
fi
wine_build=
if [ "${1:-}" = --wine ]; then
    wine_build=$(realpath "$2")
    shift 2
fi
build=$(realpath "${1:-build}")
printers=${2:-1000}
jobs=${3:-$printers}
if [ -z "${FLEET_BENCH_IN_NETNS:-}" ]; then
    FLEET_BENCH_IN_NETNS=1 exec unshare -rn "$0" $status_line ${wine_build:+--wine "$wine_build"} \
        "$build" "$printers" "$jobs"
fi
ip link set lo up
ip addr add 198.18.0.1/15 dev lo

sim=$build/tools/vexil-printserver-sim
download=("$build/cli/vexil-download")
sample=$build/sample
work=$(mktemp -d)
pids=()
cleanup() {
    [ ${#pids[@]} -gt 0 ] && kill "${pids[@]}" 2>/dev/null
    wait 2>/dev/null || true
    [ -n "$wine_build" ] && wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
ulimit -n "$(ulimit -Hn)"

address() { echo "198.18.$(($1 / 250)).$(($1 % 250 + 1))"; }

"$build/tools/vexil-file" extract "$sample/RS.BIN" "$work/image.bin" >/dev/null
# What the program is given as paths: the Windows program takes them as Windows names.
path() { echo "$1"; }
if [ -n "$wine_build" ]; then
    source "$(dirname "$0")/../../scripts/wine-env.sh"
    wine_env "$wine_build"
    fresh_wineserver
    download=(wine "$wine_build/bin/vexil-download.exe")
    path() { winepath -w "$1"; }
fi
# One simulator plays the single download's printer (the first address) and the fleet's.
: >"$work/targets"
for ((i = 1; i <= printers; i++)); do echo "tcp $(address "$i")" >>"$work/targets"; done
mkdir "$work/flash"
"$sim" --listen "$(address 0)-$(address "$printers")" --ipx-tunnel-port 0 --quiet \
    --flash-dir "$work/flash" 2>>"$work/sims.log" &
pids+=($!)
flash() { echo "$work/flash/$(address "$1").bin"; }
# Every printer listens on its download port before the clock starts.
for ((t = 0; t < 600; t++)); do
    listening=$(ss -Hltn 'sport = :5001' | wc -l)
    [ "$listening" -gt "$printers" ] && break
    sleep 0.1
done
[ "$listening" -gt "$printers" ] || { echo "only $listening printers listen" >&2; exit 1; }

seconds() { date +%s.%N; }
calc() { awk "BEGIN { print $* }"; }

start=$(seconds)
"${download[@]}" --model 6 --tcp "$(address 0)" --dir "$(path "$sample")" --yes 2>"$work/one.err"
one=$(calc "$(seconds) - $start")
cmp -s "$(flash 0)" "$work/image.bin" || { echo "the single download's flash differs" >&2; exit 1; }

# The fleet's memory: PSS of the parent and its children, sampled while it runs, by one awk
# over all of them so that the sampling itself costs little.
pss() {
    local files=()
    for pid in "$@"; do files+=("/proc/$pid/smaps_rollup"); done
    awk '/^Pss:/ { total += $2 } END { print total + 0 }' "${files[@]}" 2>/dev/null || echo 0
}
# The parent's threads (Wine's own among them) and its peak resident memory in KiB.
parent() {
    awk '/^Threads:/ { threads = $2 } /^VmHWM:/ { hwm = $2 } END { print threads + 0, hwm + 0 }' \
        "/proc/$1/status" 2>/dev/null || echo 0 0
}
# The processes named PATTERN in this network namespace (other runs may have their own).
here() {
    local netns pid
    netns=$(readlink /proc/self/ns/net)
    for pid in $(pgrep -f "$1" || true); do
        [ "$(readlink "/proc/$pid/ns/net" 2>/dev/null)" = "$netns" ] && echo "$pid"
    done
}
# The fleet's children. Wine's processes are not the children of the process that started
# them: under Wine they are the fleet's programs here but the fleet.
children() {
    if [ -z "$wine_build" ]; then
        pgrep -P "$1" || true
    else
        here 'vexil-download\.exe' | grep -vx "$1" || true
    fi
}
# The CPU seconds a process has used so far.
cpu() {
    awk -v tick="$(getconf CLK_TCK)" '{ print ($14 + $15) / tick }' "/proc/$1/stat" 2>/dev/null ||
        echo 0
}
# Under Wine every system call of the fleet's processes that Windows makes in its kernel goes
# through the one wineserver process, whose CPU is counted over the fleet.
server=
[ -n "$wine_build" ] && server=$(here wineserver | head -1)
serverBefore=$([ -n "$server" ] && cpu "$server" || echo 0)
simBefore=$(cpu "${pids[0]}")
paths=$(path "$work/targets")
start=$(seconds)
/usr/bin/time -f '%U %S' -o "$work/fleet.cpu" \
    "${download[@]}" --model 6 --targets "$paths" --jobs "$jobs" --dir "$(path "$sample")" --yes \
    --json >"$work/fleet.json" 2>"$work/fleet.err" &
timer=$!
# The fleet is time(1)'s one child.
fleet=
for ((t = 0; t < 100; t++)); do
    fleet=$(pgrep -P "$timer" || true)
    [ -n "$fleet" ] && break
    sleep 0.05
done
[ -n "$fleet" ] || { echo "the fleet did not start" >&2; exit 1; }
peak=0
peakChildren=0
peakThreads=0
parentPeak=0
parentCpu=0
while kill -0 "$fleet" 2>/dev/null; do
    mapfile -t children < <(children "$fleet")
    now=$(pss "$fleet" "${children[@]}")
    if [ "$now" -gt "$peak" ]; then
        peak=$now
        peakChildren=${#children[@]}
    fi
    read -r threads hwm <<<"$(parent "$fleet")"
    [ "$threads" -gt "$peakThreads" ] && peakThreads=$threads
    [ "$hwm" -gt "$parentPeak" ] && parentPeak=$hwm
    parentCpu=$(cpu "$fleet")
    sleep 0.5
done
status=0
wait "$timer" || status=$?
many=$(calc "$(seconds) - $start")
serverCpu=$([ -n "$server" ] && calc "$(cpu "$server") - $serverBefore" || echo 0)
simCpu=$(calc "$(cpu "${pids[0]}") - $simBefore")

succeeded=$(tail -1 "$work/fleet.json" | grep -o '"succeeded":[0-9]*' | cut -d: -f2)
equal=0
for ((i = 1; i <= printers; i++)); do
    cmp -s "$(flash "$i")" "$work/image.bin" && equal=$((equal + 1))
done
printf 'one download:            %6.1f s\n' "$one"
printf '%4d printers, jobs %4d: %6.1f s  (exit %d, %s succeeded, %d flashes equal)\n' \
    "$printers" "$jobs" "$many" "$status" "${succeeded:-?}" "$equal"
slowest=$(grep -o '"seconds":[0-9.]*' "$work/fleet.json" | cut -d: -f2 | sort -n | tail -1)
printf 'slowest single download: %6.1f s  (the rest: starting the processes, the summary)\n' \
    "${slowest:-0}"
# Each download's start, to the second: from the first to the last, the fleet was starting them.
mapfile -t starts < <(grep -o '"start":"[^"]*"' "$work/fleet.json" | cut -d'"' -f4 | sort)
if [ ${#starts[@]} -gt 0 ]; then
    printf 'downloads started within:%6d s  (from the first to the last)\n' \
        $(($(date -d "${starts[-1]}" +%s) - $(date -d "${starts[0]}" +%s)))
fi
printf 'ratio:                   %6.2f\n' "$(calc "$many / $one")"
# (Under Wine the children are not the fleet's own processes, and their time is not in it.)
read -r user system < <(tail -1 "$work/fleet.cpu")
[ -z "$wine_build" ] && printf 'client CPU per download: %6.1f ms  (user %.2f s + system %.2f s of the fleet and its children)\n' \
    "$(calc "($user + $system) * 1000 / $printers")" "$user" "$system"
printf 'peak PSS of the fleet:   %6.1f MiB with %d children; %.3f MiB per printer\n' \
    "$(calc "$peak / 1024")" "$peakChildren" "$(calc "$peak / 1024 / $printers")"
printf "the fleet's parent:      %6d threads at the peak, %.1f MiB peak resident memory, %.2f s of CPU\n" \
    "$peakThreads" "$(calc "$parentPeak / 1024")" "$parentCpu"
printf 'the simulator:           %6.1f s of CPU during the fleet\n' "$simCpu"
if [ -n "$server" ]; then
    printf 'wineserver:              %6.1f s of CPU during the fleet\n' "$serverCpu"
fi

# The status line's cost: the same fleet with its standard error on a pseudo-terminal, without
# and with the status line, in turn (off, on, on, off), so that a machine that slows down or
# speeds up during the runs weighs on both alike. The print servers are flashed anew each time.
if [ -n "$status_line" ]; then
    declare -A took=([off]=0 [on]=0)
    declare -A ok=([off]=0 [on]=0)
    runs=
    for mode in off on on off; do
        quiet=
        [ "$mode" = off ] && quiet=--no-progress
        command="${download[*]} --model 6 --targets $paths --jobs $jobs --dir $(path "$sample")"
        command+=" --yes --json $quiet >$work/tty.json"
        start=$(seconds)
        script -qfec "$command" /dev/null >"$work/tty-$mode.err" || true
        this=$(calc "$(seconds) - $start")
        took[$mode]=$(calc "${took[$mode]} + $this")
        runs+=" $mode $this s,"
        done_ok=$(tail -1 "$work/tty.json" | grep -o '"succeeded":[0-9]*' | cut -d: -f2)
        ok[$mode]=$((${ok[$mode]} + ${done_ok:-0}))
    done
    # The status line's draws, each after an erase but the first, in either language.
    drawn=$(($( (grep -o $'\033\\[K' "$work/tty-on.err" || true) | wc -l) + 1))
    printf 'on a terminal, twice each: %6.1f s without the status line, %6.1f s with it (%d and %d succeeded; erased and drawn: %d times)\n' \
        "${took[off]}" "${took[on]}" "${ok[off]}" "${ok[on]}" "$drawn"
    printf 'each run in turn:       %s\n' "${runs%,}"
    printf 'status line ratio:       %6.3f  (goal: at most 1.02)\n' "$(calc "${took[on]} / ${took[off]}")"
fi
