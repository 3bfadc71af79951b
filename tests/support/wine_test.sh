#!/usr/bin/env bash
# How CTest runs a Windows test program under Wine: through wine_run, which tells a start that
# Wine failed from a failed test. Every test program writes its first line before any test.
set -u
source "$(dirname "$0")/../../scripts/wine-env.sh"
out=$(mktemp "${TMPDIR:-/tmp}/wine_test.XXXXXX")
trap 'rm -f "$out"' EXIT
wine_run "$out" "$out" 0 "$@"
status=$?
cat "$out"
exit "$status"
