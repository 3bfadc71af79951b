#!/bin/sh
# Makes one program's manual page with help2man from its --help in one language, gzipped.
# Usage: make-manual-page.sh LANGUAGE PROGRAM VERSION SUMMARY INCLUDE OUTPUT.gz
#   LANGUAGE  en or ja: the language the help is asked in and the page is written in
#   SUMMARY   the NAME line's text after "program \-"
#   INCLUDE   help2man include file with the page's other sections; may be missing
#
# help2man runs the program with LC_ALL set to its --locale and LANGUAGE unset, and our
# programs read C as Japanese; so it runs a stand-in that asks for the help in LANGUAGE.
# help2man knows only its own English headings when no locale of that language is installed,
# which a build machine need not have, so the stand-in hands it the help with English
# headings ("Usage:", "Options:", "*Exit status*"), and for Japanese the page's section
# headings, date and manual name are put back into Japanese afterwards, as the Japanese
# manual pages of the system name them. help2man reads both helps as UTF-8 (C.UTF-8 is on
# every system); the NAME line goes in through an include file, as help2man takes --name as
# bytes of another encoding.
set -eu
[ $# -eq 6 ] || {
    echo "usage: $0 LANGUAGE PROGRAM VERSION SUMMARY INCLUDE OUTPUT.gz" >&2
    exit 64
}
language=$1 program=$2 version=$3 summary=$4 include=$5 output=$6
tool=$(basename "$program")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '#!/bin/sh\nLANGUAGE=%s "%s" "$@" 2>&1 | awk -f "%s"\n' \
    "$language" "$program" "$here/help-for-help2man.awk" >"$work/$tool"
chmod +x "$work/$tool"
printf '[NAME]\n%s \\- %s\n' "$tool" "$summary" >"$work/name.h2m"

page=${output%.gz}
help2man --locale=C.UTF-8 --no-info --no-discard-stderr --section 1 \
    --version-string "$version" --include "$work/name.h2m" --opt-include "$include" \
    --output "$work/page" "$work/$tool"

if [ "$language" = ja ]; then
    LC_ALL=C awk '
    BEGIN {
        split("January February March April May June July August September October " \
              "November December", months, " ")
        heading["NAME"] = "名前"; heading["SYNOPSIS"] = "書式"; heading["DESCRIPTION"] = "説明"
        heading["OPTIONS"] = "オプション"; heading["\"EXIT STATUS\""] = "終了ステータス"
        heading["ENVIRONMENT"] = "環境変数"; heading["FILES"] = "ファイル"
        heading["EXAMPLES"] = "例"; heading["\"SEE ALSO\""] = "関連項目"
    }
    /^\.TH / {
        for (m = 1; m <= 12; m++) {
            if (match($0, "\"" months[m] " [0-9]+\"")) {
                year = substr($0, RSTART + length(months[m]) + 2, RLENGTH - length(months[m]) - 3)
                $0 = substr($0, 1, RSTART - 1) "\"" year "年" m "月\"" substr($0, RSTART + RLENGTH)
            }
        }
        sub(/"User Commands"$/, "\"ユーザーコマンド\"")
    }
    /^\.SH / {
        name = substr($0, 5)
        if (name in heading) $0 = ".SH " heading[name]
        else { print FILENAME ": no Japanese heading for " name > "/dev/stderr"; failed = 1 }
    }
    # A line break of the help between two Japanese characters is no space: such lines are
    # joined (not in a no-fill block, nor onto the tag line after .TP).
    /^[^.\047]/ && held ~ /^[^.\047].*[\200-\377]$/ && $0 ~ /^[\200-\377]/ && !nofill && !tag {
        held = held $0
        next
    }
    {
        if (have) print held
        tag = held ~ /^\.TP/
        held = $0; have = 1
    }
    /^\.nf/ { nofill = 1 }
    /^\.fi/ { nofill = 0 }
    # After the title: groff breaks Japanese text between characters as the Japanese rules
    # allow (its ja.tmac), and the lines are not stretched to the margin, as Japanese has no
    # spaces to stretch.
    /^\.TH / { held = held "\n.mso ja.tmac\n.ad l" }
    END {
        if (have) print held
        exit failed
    }
    ' "$work/page" >"$page"
else
    cp "$work/page" "$page"
fi
gzip -9nf "$page"
