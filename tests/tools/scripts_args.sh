#!/usr/bin/env bash
# scripts/run, scripts/test and scripts/build-windows read their arguments before they install
# or build anything: -h/--help prints the usage (status 0), an unknown argument is refused with
# status 64 and the usage. Each runs here from a copy of the scripts whose install-deps only
# notes that it was called, so nothing is installed whatever the scripts do.
# shellcheck source=tests/support/preamble.sh
source "$(dirname "$0")/../support/preamble.sh"
mkdir "$work/scripts"
cp "$sources/scripts/run" "$sources/scripts/test" "$sources/scripts/build-windows" "$work/scripts/"
printf '#!/bin/sh\ntouch "%s/installed"\nexit 1\n' "$work" >"$work/scripts/install-deps"
chmod +x "$work/scripts/install-deps"

# run_script SCRIPT ARGUMENT...: its status, standard output and error in $work, and whether it
# reached install-deps.
run_script() {
    rm -f "$work/installed"
    status=0
    timeout 20 "$work/scripts/$1" "${@:2}" >"$work/out" 2>"$work/err" </dev/null || status=$?
}
installed() { [ -e "$work/installed" ]; }
not_installed() { ! installed; }

for script in run test build-windows; do
    for help in -h --help; do
        run_script "$script" "$help"
        check "$script $help: status 0" test "$status" -eq 0
        check "$script $help: the usage on standard output" \
            grep -q "^Usage: scripts/$script" "$work/out"
        check "$script $help: nothing installed" not_installed
    done
    for wrong in --bogus -x "--help extra" "--test --test" "--windows --test"; do
        # shellcheck disable=SC2086  # the words are the arguments
        run_script "$script" $wrong
        check "$script $wrong: status 64" test "$status" -eq 64
        check "$script $wrong: the argument named" grep -q "unknown argument" "$work/err"
        check "$script $wrong: the usage on standard error" \
            grep -q "^Usage: scripts/$script" "$work/err"
        check "$script $wrong: nothing installed" not_installed
    done
done
# What each takes goes on to install-deps (here: notes it and fails, so nothing more runs).
for call in "test" "run" "run --windows" "build-windows" "build-windows --test"; do
    # shellcheck disable=SC2086
    run_script $call
    check "$call: goes on to install-deps" installed
done

echo "$failures failed"
[ "$failures" -eq 0 ]
