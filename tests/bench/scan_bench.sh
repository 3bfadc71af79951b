#!/usr/bin/env bash
# Benchmark (not a test): vexil-download --scan of a /22 on which one many-printer simulator
# plays a print server on every fourth address (256 of them, spread over the block), against one
# --query to a silent address of the same block in the same run. Prints, for each run, the time
# of each, their ratio, the scan's peak memory (maximum resident set size) and what the scan
# found, and the load average before the runs.
#
#   tests/bench/scan_bench.sh [BUILD_DIR] [RUNS]          (defaults: build 3)
#
# It runs in a private network namespace of its own whose loopback device carries
# 198.18.0.0/15, the range set aside for benchmarking network devices; nothing leaves it.
set -euo pipefail
build=$(realpath "${1:-build}")
runs=${2:-3}
if [ -z "${SCAN_BENCH_IN_NETNS:-}" ]; then
    SCAN_BENCH_IN_NETNS=1 exec unshare -rn "$0" "$build" "$runs"
fi
ip link set lo up
ip addr add 198.18.0.1/15 dev lo

download=$build/cli/vexil-download
block=198.18.4.0/22
silent=198.18.4.1
work=$(mktemp -d)
sim=
cleanup() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Every fourth address of the block: 198.18.4.2, .6, ... 198.18.7.254.
listen=()
for ((i = 2; i < 1024; i += 4)); do
    listen+=(--listen "198.18.$((4 + i / 256)).$((i % 256))")
done
exec {ready}<> <(:)
"$build/tools/vexil-printserver-sim" "${listen[@]}" --ipx-tunnel-port 0 --quiet \
    --ready-fd "$ready" 2>"$work/sim.log" &
sim=$!
read -r -t 60 -u "$ready" word || { echo "the simulator did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }
[ "$word" = ready ] || exit 1

seconds() { date +%s.%N; }
calc() { awk "BEGIN { print $* }"; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "print servers: $((${#listen[@]} / 2)) of the block's addresses, one simulator"
for ((run = 1; run <= runs; run++)); do
    start=$(seconds)
    status=0
    "$download" --model 6 --tcp "$silent" --query >/dev/null 2>&1 || status=$?
    one=$(calc "$(seconds) - $start")
    [ "$status" -eq 13 ] || { echo "the query of $silent ended with $status, not 13" >&2; exit 1; }

    start=$(seconds)
    /usr/bin/time -f '%M' -o "$work/memory" "$download" --model 6 --scan "$block" \
        >"$work/scan.out" 2>"$work/scan.err"
    scan=$(calc "$(seconds) - $start")
    summary=$(tail -1 "$work/scan.out")
    echo "run $run: one query to a silent address $(printf %.2f "$one") s," \
        "the scan $(printf %.2f "$scan") s, ratio $(printf %.2f "$(calc "$scan / $one")"), peak memory" \
        "$(printf %.1f "$(calc "$(cat "$work/memory") / 1024")") MiB; $summary"
done
