#!/usr/bin/env bash
# Benchmark (not a test): what reading --scan's ranges costs before anything is sent. 400 copies
# of one /16 and 65,000 single addresses (/32 blocks) against one /16, each run refused after
# its ranges were read (its --write-targets folder does not exist), so that nothing is sent; in
# a private network namespace all the same. Prints the time of each and its ratio to the /16.
#
#   tests/bench/scan_ranges_bench.sh [BUILD_DIR]          (default: build)
set -euo pipefail
build=$(realpath "${1:-build}")
if [ -z "${SCAN_RANGES_BENCH_IN_NETNS:-}" ]; then
    SCAN_RANGES_BENCH_IN_NETNS=1 exec unshare -rn "$0" "$build"
fi
download=$build/cli/vexil-download
copies=()
for _ in $(seq 400); do copies+=(--scan=10.0.0.0/16); done
mapfile -t singles < <(awk 'BEGIN { for (i = 0; i < 65000; i++)
    printf "--scan=10.%d.%d.%d/32\n", 1 + int(i / 62500), int(i / 250) % 250, 1 + i % 250 }')
seconds() {
    local start end
    start=$(date +%s.%N)
    "$download" --model 6 "$@" --write-targets /nonexistent/folder/found.txt 2>/dev/null || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
one=$(seconds --scan 10.0.0.0/16)
many=$(seconds "${copies[@]}")
single=$(seconds "${singles[@]}")
printf 'one /16:                 %.3f s\n' "$one"
printf '400 copies of the /16:   %.3f s (ratio %.1f)\n' "$many" "$(echo "$many / $one" | bc -l)"
printf '65,000 single addresses: %.3f s (ratio %.1f)\n' "$single" "$(echo "$single / $one" | bc -l)"
