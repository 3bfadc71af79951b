#!/usr/bin/env bash
# vexil-file against S-record files that srec_cat writes, and against bad input.
# usage: vexil_file_tool.sh VEXIL_FILE SAMPLE_RS_BIN
# shellcheck source=tests/support/preamble.sh
source "$(dirname "$0")/../support/preamble.sh"
tool=$1
sample=$2
# The checks below match English texts: the tool speaks English here, whatever the language of
# the environment the test runs in. The rows on the language itself choose their own.
export LANGUAGE=en

# Round trip: S-record text made by srec_cat -> download file -> S-record text, compared with
# srec_cmp (both tools come from the srecord package, not from this project).
srec_cat -generate 0x1000 0x2345 -random -o "$work/random.srec" -address-length=3
srec_cat -generate 0x30000 0x30101 -repeat-string "vexil" -o "$work/gap.srec" -address-length=3
srec_cat "$work/random.srec" "$work/gap.srec" -o "$work/input.srec" -address-length=3
for bytes in 1 32 76; do
    "$tool" build "$work/input.srec" "$work/RS.BIN" --ident aa01:01.10 --record-bytes $bytes
    "$tool" extract "$work/RS.BIN" "$work/out.srec"
    # The identification record is the one thing the download file adds.
    srec_cat "$work/out.srec" -exclude 0x8800 0x8808 -o "$work/out-image.srec" 2>/dev/null
    check "srec round trip, $bytes bytes per record" \
        srec_cmp "$work/out-image.srec" "$work/input.srec" 2>/dev/null
done

# Two regions that fill whole pages with whole empty pages between them stay apart: each comes
# back at its own addresses, as text and as raw binary (the gap filled with 0xFF).
srec_cat -generate 0x0000 0x1000 -random -o "$work/low.srec" -address-length=3
srec_cat -generate 0x8000 0x9000 -random -o "$work/high.srec" -address-length=3
srec_cat "$work/low.srec" "$work/high.srec" -o "$work/pages.srec" -address-length=3
"$tool" build "$work/pages.srec" "$work/pages.dl" --record-bytes 32
"$tool" extract "$work/pages.dl" "$work/pages.out.srec"
check "pages apart: text" srec_cmp "$work/pages.out.srec" "$work/pages.srec" 2>/dev/null
"$tool" extract "$work/pages.dl" "$work/pages.out.bin"
srec_cat "$work/pages.srec" -fill 0xFF 0x0000 0x9000 -o "$work/pages.expected.bin" -binary
check "pages apart: binary" cmp -s "$work/pages.expected.bin" "$work/pages.out.bin"

# S1 and S3 input (srec_cat writes S1 for 16-bit addresses); raw binary with --base.
srec_cat -generate 0x0100 0x0200 -random -o "$work/s1.srec" -address-length=2
"$tool" build "$work/s1.srec" "$work/s1.bin.dl"
"$tool" extract "$work/s1.bin.dl" "$work/s1.out.srec"
check "S1 input" srec_cmp "$work/s1.out.srec" "$work/s1.srec" 2>/dev/null
srec_cat -generate 0x120000 0x120100 -random -o "$work/s3.srec" -address-length=4
"$tool" build "$work/s3.srec" "$work/s3.dl"
"$tool" extract "$work/s3.dl" "$work/s3.out.srec"
check "S3 input" srec_cmp "$work/s3.out.srec" "$work/s3.srec" 2>/dev/null
head -c 3000 /dev/urandom >"$work/raw.bin"
"$tool" build "$work/raw.bin" "$work/raw.dl" --base 0x4000
"$tool" extract "$work/raw.dl" "$work/raw.out.bin"
check "raw binary with --base" cmp -s "$work/raw.bin" "$work/raw.out.bin"
"$tool" extract "$work/raw.dl" "$work/RAW.OUT.BIN"
check "an upper-case ending" cmp -s "$work/raw.bin" "$work/RAW.OUT.BIN"

# info and blocks on the sample.
info=$("$tool" info "$sample")
check "info exit status on the sample" test $? -eq 0
check "info names the code and version" grep -q "model code: *aa01" <<<"$info"
check "info names the version" grep -q "version: *01.10" <<<"$info"
# The sample's SHA-256 as sha256sum wrote it once.
check "info carries the SHA-256" \
    grep -q "SHA-256: *797b9d8097ff7bbedcf7b292b37eaf96df24943c58c428102bc4a0b5228f4f41$" <<<"$info"
last=$("$tool" blocks "$sample" | tail -n 1)
check "blocks ends with the end record" grep -qE '^1 [0-9]+$' <<<"$last"
"$tool" info "$sample" --model 1 >/dev/null 2>"$work/err"
check "another model's file is refused" test $? -eq 1
check "with message 57604" grep -q "^57604 " "$work/err"

# Bad input: one clear line, exit status 1 or 64 (a usage error), never a crash.
cp "$sample" "$work/broken.bin"
printf '\x00' | dd of="$work/broken.bin" bs=1 seek=200 conv=notrunc status=none
"$tool" blocks "$work/broken.bin" >"$work/out" 2>"$work/err"
check "broken file: blocks exits 1" test $? -eq 1
check "broken file: the reader's message on stderr" grep -qE "^10[2-5] " "$work/err"
check "broken file: then the English line" grep -q "not sound (reader result" "$work/err"
"$tool" info "$work/missing.bin" 2>"$work/err"
check "missing file exits 64" test $? -eq 64
"$tool" build "$work/input.srec" "$work/x" --record-bytes 77 2>"$work/err"
check "too many bytes per record refused" test $? -eq 64
printf 'S2zz\n' >"$work/bad.srec"
"$tool" build "$work/bad.srec" "$work/x" 2>"$work/err"
check "malformed S-record refused" test $? -eq 1
check "naming the line" grep -q "line 1" "$work/err"
"$tool" frobnicate 2>/dev/null
check "unknown command exits 64" test $? -eq 64

# Inputs that are refused at once with their exit status and reason, writing nothing. Options
# are checked before the input is read: with a FIFO as input a usage error must still say so.
s() {  # an S-record line: TYPE ADDRESS-BYTES ADDRESS-HEX DATA-HEX
    local fields sum=0 i
    fields=$(printf '%02X' $(($2 + ${#4} / 2 + 1)))$3$4
    for ((i = 0; i < ${#fields}; i += 2)); do sum=$((sum + 16#${fields:i:2})); done
    printf 'S%s%s%02X\n' "$1" "$fields" $((~sum & 255))
}
mkfifo "$work/fifo"
: >"$work/empty"
printf '\n  \r\n\n' >"$work/blank"
{ s 0 2 0000 ""; s 5 2 0001 ""; s 7 4 00000000 ""; s 9 2 0000 ""; } >"$work/no-data.srec"
s 3 4 00FFFFFE 0102 >"$work/edge.srec"
s 3 4 01000000 01020304 >"$work/above.srec"
s 3 4 00FFFFFE 010203 >"$work/across.srec"
truncate -s 16M "$work/16m.bin"
mkdir "$work/pair"
"$tool" build "$work/s1.srec" "$work/pair/PS1B.BIN" --ident 5100:01.10
mkfifo "$work/pair/PS2B.BIN"
out="$work/refused.out"
while IFS='|' read -r name status reason args; do
    rm -f "$out"
    eval "set -- $args"
    timeout 10 "$tool" "$@" >/dev/null 2>"$work/err" </dev/null
    got=$?
    check "$name: exit $status" test "$got" -eq "$status"
    check "$name: says why" grep -q -- "$reason" "$work/err"
    check "$name: writes nothing" test ! -e "$out"
done <<EOF
a directory|1|is not a regular file|build "$work" "$out"
a FIFO|1|is not a regular file|build "$work/fifo" "$out"
a device|1|is not a regular file|build /dev/zero "$out" --base 0
a FIFO to info|1|is not a regular file|info "$work/fifo"
a FIFO to blocks|1|is not a regular file|blocks "$work/fifo"
a FIFO to extract|1|is not a regular file|extract "$work/fifo" "$out.srec"
a FIFO as the companion|1|PS2B.BIN is not a regular file|info "$work/pair/PS1B.BIN" --model 3
an empty file|1|holds no data|build "$work/empty" "$out"
an empty binary|1|holds no data|build "$work/empty" "$out" --base 0
blank lines|1|holds no data|build "$work/blank" "$out"
only S0, S5, S7 and S9|1|holds no data|build "$work/no-data.srec" "$out"
S3 above 24 bits|1|line 1: data above 0xFFFFFF|build "$work/above.srec" "$out"
S3 across 24 bits|1|line 1: data above 0xFFFFFF|build "$work/across.srec" "$out"
a binary past 24 bits|1|does not fit below 0x1000000|build "$work/16m.bin" "$out" --base 1
--base past 24 bits|64|--base must be|build "$work/fifo" "$out" --base 0x1000000
--base negative|64|--base must be|build "$work/fifo" "$out" --base -1
--base with a sign|64|--base must be|build "$work/fifo" "$out" --base +1
--base in octal|64|--base must be|build "$work/fifo" "$out" --base 0o10
--base with a space|64|--base must be|build "$work/fifo" "$out" --base " 1"
--base empty|64|--base must be|build "$work/fifo" "$out" --base ""
--base bare 0x|64|--base must be|build "$work/fifo" "$out" --base 0x
--base with a trailing space|64|--base must be|build "$work/fifo" "$out" --base "1 "
--base one past its bound|64|--base must be|build "$work/fifo" "$out" --base 16777216
--record-bytes with a sign|64|--record-bytes must be|build "$work/fifo" "$out" --record-bytes +1
--record-bytes empty|64|--record-bytes must be|build "$work/fifo" "$out" --record-bytes ""
--record-bytes 0x4D|64|--record-bytes must be|build "$work/fifo" "$out" --record-bytes 0x4D
--model bare 0x|64|--model must be|info "$work/fifo" --model 0x
--model with a space|64|--model must be|info "$work/fifo" --model " 1"
--base without its value|64|--base needs a value|build "$work/fifo" "$out" --base
--base=VALUE is no form of it|64|unknown option --base=1|build "$work/fifo" "$out" --base=1
bundled short words|64|unknown option -yh|build "$work/fifo" "$out" -yh
--record-bytes 0|64|--record-bytes must be|build "$work/fifo" "$out" --record-bytes 0
--record-bytes 77|64|--record-bytes must be|build "$work/fifo" "$out" --record-bytes 77
--record-bytes huge|64|--record-bytes must be|build "$work/fifo" "$out" --record-bytes 99999999999999999999999
--model 0|64|--model must be|info "$work/fifo" --model 0
--model 7|64|--model must be|info "$work/fifo" --model 0x7
EOF
# What is taken: the top of the address space, and numbers in decimal (leading zeros and all)
# or hexadecimal.
"$tool" build "$work/edge.srec" "$work/edge.dl"
check "data up to 0xFFFFFF" test $? -eq 0
printf 'ab' >"$work/two.bin"
for base in 010 0x0A 0X0a 10; do
    "$tool" build "$work/two.bin" "$work/two.dl" --base "$base" --record-bytes 0x2 &&
        "$tool" extract "$work/two.dl" "$work/two.srec"
    check "--base $base is address 10" grep -q "^S20600000A6162" "$work/two.srec"
done

# Each bound of a number is taken.
printf 'a' >"$work/one.bin"
for base in 0xFFFFFF 16777215; do
    "$tool" build "$work/one.bin" "$work/one.dl" --base "$base" --record-bytes 0x4C &&
        "$tool" extract "$work/one.dl" "$work/one.srec"
    check "--base $base is the last address" grep -q "^S205FFFFFF61" "$work/one.srec"
done
"$tool" build "$work/one.bin" "$work/one.dl" --base 0 --record-bytes 1
check "--base 0 and --record-bytes 1 are taken" test $? -eq 0
"$tool" info "$sample" --model 0x6 >/dev/null
check "--model 0x6 is taken" test $? -eq 0

# The image that fills the address space exactly, at --base 0, is taken whole.
truncate -s 16M "$work/full.bin"
"$tool" build "$work/full.bin" "$work/full.dl" --base 0 --record-bytes 76
check "16 MiB at --base 0 fits exactly" test $? -eq 0
"$tool" extract "$work/full.dl" "$work/full.out.bin"
check "and comes back whole" cmp -s "$work/full.bin" "$work/full.out.bin"

# Outputs that are refused with exit status 1 and their reason, the input left as it was: the
# input itself (by name, symbolic or hard link), anything that is not a regular file (a FIFO
# must not hold the tool), and a folder that is not there.
"$tool" build "$work/input.srec" "$work/out.dl"
cp "$work/input.srec" "$work/src.srec"
cp "$work/out.dl" "$work/src.bin"
for f in src.srec src.bin; do
    ln -s "$f" "$work/sym-$f"
    ln "$work/$f" "$work/hard-$f"
done
mkfifo "$work/fifo.bin"
while IFS='|' read -r name reason command input output; do
    cp "$work/$input" "$work/before"
    timeout 10 "$tool" "$command" "$work/$input" "$output" >/dev/null 2>"$work/err" </dev/null
    got=$?
    check "$name: exit 1" test "$got" -eq 1
    check "$name: says why" grep -q -- "$reason" "$work/err"
    check "$name: input untouched" cmp -s "$work/before" "$work/$input"
done <<EOF
build onto its input|is the input file|build|src.srec|$work/src.srec
build onto a symbolic link to its input|is the input file|build|src.srec|$work/sym-src.srec
build onto a hard link to its input|is the input file|build|src.srec|$work/hard-src.srec
extract onto a link to its input|is the input file|extract|src.bin|$work/hard-src.bin
build into a FIFO|is not a regular file|build|src.srec|$work/fifo
extract into a FIFO|is not a regular file|extract|src.bin|$work/fifo.bin
build into a folder|is not a regular file|build|src.srec|$work/pair
build into a device|is not a regular file|build|src.srec|/dev/null
extract into a missing folder|cannot write|extract|src.bin|$work/missing/out.srec
EOF

# Written over a longer file (an earlier output), an output ends where its own bytes do.
"$tool" extract "$work/out.dl" "$work/fresh.srec"
"$tool" extract "$work/out.dl" "$work/fresh.bin"
for out in over.dl over.srec over.bin; do
    head -c 300000 /dev/urandom >"$work/$out"
done
"$tool" build "$work/input.srec" "$work/over.dl"
check "build over a longer file: cut to its length" cmp -s "$work/out.dl" "$work/over.dl"
for ending in srec bin; do
    "$tool" extract "$work/out.dl" "$work/over.$ending"
    check "extract over a longer .$ending: cut to its length" \
        cmp -s "$work/fresh.$ending" "$work/over.$ending"
done

# Run with standard input, output and error closed: the same download file as with them open,
# and a refusal still ends with its status.
"$tool" build "$work/input.srec" "$work/closed.dl" <&- >&- 2>&-
check "closed streams: build exits 0" test $? -eq 0
check "closed streams: the same file" cmp -s "$work/out.dl" "$work/closed.dl"
"$tool" build "$work/bad.srec" "$work/closed.dl" <&- >&- 2>&-
check "closed streams: a bad input exits 1" test $? -eq 1

# What a person reads follows the language of the environment: English for an English one,
# Japanese for a Japanese one and for C. --help and a usage error, each row with what it says.
while IFS='|' read -r lang help refusal; do
    in_lang() { env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG="$lang" "$tool" "$@"; }
    in_lang --help >"$work/help" 2>&1
    in_lang frobnicate >"$work/refusal" 2>&1
    check "LANG=$lang: --help" grep -qF -- "$help" "$work/help"
    check "LANG=$lang: a usage error" grep -qxF -- "$refusal" "$work/refusal"
    if [ "${lang#en}" != "$lang" ]; then
        check "LANG=$lang: not one character beyond ASCII" \
            test "$(cat "$work/help" "$work/refusal" | tr -d '\000-\177' | wc -c)" -eq 0
    fi
done <<'ROWS'
en_US.UTF-8|  vexil-file info FILE [--model N] [--ipx]|vexil-file: unknown command frobnicate
ja_JP.UTF-8|      FILE を機種 N（既定は 6）のダウンロードファイルとして識別し、|vexil-file: frobnicate というコマンドはありません
C|      読んだブロックごとに 1 行: RESULT LENGTH|vexil-file: frobnicate というコマンドはありません
ROWS

echo "$failures failed"
[ "$failures" -eq 0 ]
