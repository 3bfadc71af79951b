#!/usr/bin/env bash
# Renders each manual page given as man renders it for a reader and fails on any warning, but
# for a line that cannot be broken or adjusted to the terminal's width (long option names and
# Japanese sentences, which have no spaces to break at, give those on every page), and checks
# that each page has its synopsis and is in its language.
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
    # The usage heads the synopsis, under the heading of the page's language (a usage that
    # help2man did not read lands in the description); an English page has no Japanese.
    text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null)
    name=$(basename "$page" .1.gz)
    case $page in
    */ja/*) heading=書式 ;;
    *) heading=SYNOPSIS ;;
    esac
    usage=$(printf '%s\n' "$text" | sed -n "/^$heading\$/{n;p;q;}")
    case $usage in
    "       $name" | "       $name "*) ;;
    *)
        printf '%s: no %s section that starts with %s\n' "$page" "$heading" "$name"
        failures=$((failures + 1))
        ;;
    esac
    if [ "$heading" = SYNOPSIS ] && printf '%s\n' "$text" | grep -qP '[\x{3000}-\x{9fff}]'; then
        printf '%s: Japanese text on an English page\n' "$page"
        failures=$((failures + 1))
    fi
done
echo "${failures} pages with warnings"
[ "$failures" -eq 0 ]
