#!/usr/bin/env bash
# Renders each manual page given as man renders it for a reader and fails on any warning, but
# for a line that cannot be broken or adjusted to the terminal's width (long option names and
# Japanese sentences, which have no spaces to break at, give those on every page).
# Usage: render_man_pages.sh PAGE...
set -u
failures=0
for page in "$@"; do
    if [ ! -s "$page" ]; then
        echo "$page: missing"
        failures=$((failures + 1))
        continue
    fi
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null |
        grep -v -e "can't break line" -e "cannot adjust line")
    if [ -n "$warnings" ]; then
        printf '%s:\n%s\n' "$page" "$warnings"
        failures=$((failures + 1))
    fi
done
echo "${failures} pages with warnings"
[ "$failures" -eq 0 ]
