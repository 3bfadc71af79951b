#!/usr/bin/env bash
# Benchmark (not a test): a fleet of N simulated printers updated at once by vexil-download,
# against one download in the same run. Prints the time of each, their ratio, and the fleet's
# memory: the proportional set sizes (PSS) of vexil-download and its children summed at the
# peak, divided by the printers. Every flash is compared with the image.
#
#   tests/bench/fleet_bench.sh [BUILD_DIR] [PRINTERS] [JOBS]     (defaults: build 1000 PRINTERS)
#
# It runs in a private network namespace of its own whose loopback device carries
# 198.18.0.0/15, the range set aside for benchmarking network devices; nothing leaves it.
set -euo pipefail
build=$(realpath "${1:-build}")
printers=${2:-1000}
jobs=${3:-$printers}
if [ -z "${FLEET_BENCH_IN_NETNS:-}" ]; then
    FLEET_BENCH_IN_NETNS=1 exec unshare -rn "$0" "$build" "$printers" "$jobs"
fi
ip link set lo up
ip addr add 198.18.0.1/15 dev lo

sim=$build/tools/vexil-printserver-sim
download=$build/cli/vexil-download
sample=$build/sample
work=$(mktemp -d)
pids=()
cleanup() {
    [ ${#pids[@]} -gt 0 ] && kill "${pids[@]}" 2>/dev/null
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
ulimit -n "$(ulimit -Hn)"

address() { echo "198.18.$(($1 / 250)).$(($1 % 250 + 1))"; }

"$build/tools/vexil-file" extract "$sample/RS.BIN" "$work/image.bin" >/dev/null
for ((i = 0; i <= printers; i++)); do
    "$sim" --listen "$(address "$i")" --ipx-tunnel-port 0 --quiet --flash "$work/flash$i" \
        2>>"$work/sims.log" &
    pids+=($!)
    [ "$i" -eq 0 ] && : >"$work/targets" || echo "tcp $(address "$i")" >>"$work/targets"
done
# Every simulator listens on its download port before the clock starts.
for ((t = 0; t < 600; t++)); do
    listening=$(ss -Hltn 'sport = :5001' | wc -l)
    [ "$listening" -gt "$printers" ] && break
    sleep 0.1
done
[ "$listening" -gt "$printers" ] || { echo "only $listening simulators listen" >&2; exit 1; }

seconds() { date +%s.%N; }
calc() { awk "BEGIN { print $* }"; }

start=$(seconds)
"$download" --model 6 --tcp "$(address 0)" --dir "$sample" --yes 2>"$work/one.err"
one=$(calc "$(seconds) - $start")
cmp -s "$work/flash0" "$work/image.bin" || { echo "the single download's flash differs" >&2; exit 1; }

# The fleet's memory: PSS of the parent and its children, sampled while it runs, by one awk
# over all of them so that the sampling itself costs little.
pss() {
    local files=()
    for pid in "$@"; do files+=("/proc/$pid/smaps_rollup"); done
    awk '/^Pss:/ { total += $2 } END { print total + 0 }' "${files[@]}" 2>/dev/null || echo 0
}
start=$(seconds)
"$download" --model 6 --targets "$work/targets" --jobs "$jobs" --dir "$sample" --yes --json \
    >"$work/fleet.json" 2>"$work/fleet.err" &
fleet=$!
peak=0
peakChildren=0
while kill -0 "$fleet" 2>/dev/null; do
    mapfile -t children < <(pgrep -P "$fleet" || true)
    now=$(pss "$fleet" "${children[@]}")
    if [ "$now" -gt "$peak" ]; then
        peak=$now
        peakChildren=${#children[@]}
    fi
    sleep 0.5
done
status=0
wait "$fleet" || status=$?
many=$(calc "$(seconds) - $start")

succeeded=$(tail -1 "$work/fleet.json" | grep -o '"succeeded":[0-9]*' | cut -d: -f2)
equal=0
for ((i = 1; i <= printers; i++)); do
    cmp -s "$work/flash$i" "$work/image.bin" && equal=$((equal + 1))
done
printf 'one download:            %6.1f s\n' "$one"
printf '%4d printers, jobs %4d: %6.1f s  (exit %d, %s succeeded, %d flashes equal)\n' \
    "$printers" "$jobs" "$many" "$status" "${succeeded:-?}" "$equal"
slowest=$(grep -o '"seconds":[0-9.]*' "$work/fleet.json" | cut -d: -f2 | sort -n | tail -1)
printf 'slowest single download: %6.1f s  (the rest: starting the processes, the summary)\n' \
    "${slowest:-0}"
printf 'ratio:                   %6.2f\n' "$(calc "$many / $one")"
printf 'peak PSS of the fleet:   %6.1f MiB with %d children; %.3f MiB per printer\n' \
    "$(calc "$peak / 1024")" "$peakChildren" "$(calc "$peak / 1024 / $printers")"
