# The start every shell test shares, sourced first:
#     source "$(dirname "$0")/../support/preamble.sh"
# It sets the shell's options (no -e: a test counts its failures and goes on to the end), names
# the test's own folder ($here) and the sources' ($sources), makes the scratch folder $work and
# removes it on every exit, after the test's `cleanup_first` when it defines one (the processes
# it started). `use_wine [BUILD]` sets Wine up (scripts/wine-env.sh), for the programs of a
# Windows build when it names one; the exit then ends this test's Wine server too.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sources=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
wine_used=0
cleanup() {
    if declare -F cleanup_first >/dev/null; then
        cleanup_first
    fi
    if [ "$wine_used" -eq 1 ]; then
        wineserver -k 2>/dev/null
        wineserver -w 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# `use_wine [BUILD]`: the Wine functions, and with BUILD Wine's settings for the programs of the
# Windows build there.
use_wine() {
    # shellcheck source=scripts/wine-env.sh
    source "$sources/scripts/wine-env.sh"
    wine_used=1
    if [ $# -gt 0 ]; then
        wine_env "$1"
    fi
}

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
