# The shell tests' one check: `check NAME CONDITION...` runs CONDITION and prints "ok" or
# "FAIL" with NAME; `failures` counts the failures for the test's exit status.
failures=0

# `until_true TRIES COMMAND...`: runs COMMAND every tenth of a second until it succeeds, at most
# TRIES times; fails when it never did. How a test waits for an event it cannot be told of.
until_true() {
    local tries=$1
    shift
    local i
    for ((i = 0; i < tries; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
check() {
    local name=$1
    shift
    if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}
