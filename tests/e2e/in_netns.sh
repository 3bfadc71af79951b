#!/usr/bin/env bash
# Runs a command in a private network namespace whose loopback device is up and carries the
# documentation address 192.0.2.1, so that TCP/IP tests reach the simulator at an address the
# program accepts and send nothing to any other network.
set -euo pipefail
exec unshare -rn bash -c 'ip link set lo up && ip addr add 192.0.2.1/24 dev lo && exec "$@"' \
    in_netns "$@"
