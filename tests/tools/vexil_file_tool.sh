#!/usr/bin/env bash
# vexil-file against S-record files that srec_cat writes, and against bad input.
# usage: vexil_file_tool.sh VEXIL_FILE SAMPLE_RS_BIN
set -u
tool=$1
sample=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check NAME CONDITION...
    local name=$1
    shift
    if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}

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

# info and blocks on the sample.
info=$("$tool" info "$sample")
check "info exit status on the sample" test $? -eq 0
check "info names the code and version" grep -q "model code: *aa01" <<<"$info"
check "info names the version" grep -q "version: *01.10" <<<"$info"
last=$("$tool" blocks "$sample" | tail -n 1)
check "blocks ends with the end record" grep -qE '^1 [0-9]+$' <<<"$last"
"$tool" info "$sample" --model 1 >/dev/null 2>"$work/err"
check "another model's file is refused" test $? -eq 1
check "with message 57604" grep -q "^57604 " "$work/err"

# Bad input: one clear line, exit status 1 or 2, never a crash.
cp "$sample" "$work/broken.bin"
printf '\x00' | dd of="$work/broken.bin" bs=1 seek=200 conv=notrunc status=none
"$tool" blocks "$work/broken.bin" >"$work/out" 2>"$work/err"
check "broken file: blocks exits 1" test $? -eq 1
check "broken file: the reader's message on stderr" grep -qE "^10[2-5] " "$work/err"
"$tool" info "$work/missing.bin" 2>"$work/err"
check "missing file exits 2" test $? -eq 2
"$tool" build "$work/input.srec" "$work/x" --record-bytes 77 2>"$work/err"
check "too many bytes per record refused" test $? -eq 2
printf 'S2zz\n' >"$work/bad.srec"
"$tool" build "$work/bad.srec" "$work/x" 2>"$work/err"
check "malformed S-record refused" test $? -eq 1
check "naming the line" grep -q "line 1" "$work/err"
"$tool" frobnicate 2>/dev/null
check "unknown command exits 2" test $? -eq 2

echo "$failures failed"
[ "$failures" -eq 0 ]
