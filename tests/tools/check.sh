# The shell tests' one check: `check NAME CONDITION...` runs CONDITION and prints "ok" or
# "FAIL" with NAME; `failures` counts the failures for the test's exit status.
failures=0
check() {
    local name=$1
    shift
    if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}
