#!/usr/bin/env bash
# Every line of each program's help fits a terminal of 80 columns, in both languages (a Japanese
# character takes two).
# usage: help_widths.sh PROGRAM...
# shellcheck source=tests/support/preamble.sh
source "$(dirname "$0")/../support/preamble.sh"
failures=0
for program in "$@"; do
    for language in ja en; do
        widest=$(LANGUAGE=$language "$program" --help | LC_ALL=C.UTF-8 wc -L)
        if [ "$widest" -gt 80 ]; then
            echo "$(basename "$program") --help in $language: a line of $widest columns"
            failures=$((failures + 1))
        fi
    done
done
[ "$failures" -eq 0 ]
