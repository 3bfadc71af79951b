#!/usr/bin/env bash
# How CTest runs a Windows test program under Wine. Every test program writes something before
# its first test; one that fails before writing a byte never reached its own code: Wine could not
# start it, and with WINEDEBUG=-all its loader says nothing of why. Such a start is said as such
# and made once more, with the loader's and exceptions' errors shown; the second start's result
# is the test's. A failure after the first byte is the test's own and is never run again.
set -u
program=$1
out=$(mktemp "${TMPDIR:-/tmp}/wine_test.XXXXXX")
trap 'rm -f "$out"' EXIT
wine "$@" 2>&1 | tee "$out"
status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ] && [ ! -s "$out" ]; then
    echo "wine_test.sh: Wine ended ${program##*/} with status $status before it wrote" \
        "anything; it is started once more, with Wine's loader errors shown" >&2
    WINEDEBUG=-all,err+module,err+seh wine "$@"
    status=$?
fi
exit "$status"
