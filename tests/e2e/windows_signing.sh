#!/usr/bin/env bash
# The Authenticode signatures of scripts/sign-windows, with a throwaway self-signed certificate
# made here (a code-signing key usage), kept in the test's scratch folder and removed with it; no
# time-stamp server is ever asked. Without the settings nothing is signed, and it says so in one
# line; half settings or a wrong password fail. With them, the packages are made again from the
# build by cpack as scripts/build-windows makes them: every program and tavdl.dll in the ZIP and
# in the MSI, the installer and the MSI themselves, carry a signature that osslsigncode verifies
# against the certificate; all three packages hold the same signed programs; and the signed
# installer still installs under Wine (its check of its own data passes with the signature
# appended), with its programs and its uninstaller signed, and the programs run.
# Usage: windows_signing.sh WINDOWS_BUILD
# shellcheck source=tests/support/preamble.sh
source "$(dirname "$0")/../support/preamble.sh"
source "$here/windows_packages.sh"
windows=$(cd "$1" && pwd)
sign=$sources/scripts/sign-windows
name=$(cpack_value CPACK_PACKAGE_FILE_NAME)
if [ -z "$name" ] || [ ! -f "$windows/bin/vexil-download.exe" ]; then
    echo "FAIL no Windows build in $windows (scripts/build-windows makes it)"
    exit 1
fi

unset VEXIL_SIGN_PKCS12 VEXIL_SIGN_PASSWORD VEXIL_SIGN_TIMESTAMP_URL

(umask 077 && mkdir "$work/key")
password='a throwaway; "password" $1'
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Vexilware test signing" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key/key.pem" -out "$work/key/certificate.pem" >/dev/null 2>&1 &&
    openssl pkcs12 -export -inkey "$work/key/key.pem" -in "$work/key/certificate.pem" \
        -out "$work/key/signing.pfx" -passout fd:3 3<<<"$password"
check "a throwaway self-signed certificate for code signing" test -s "$work/key/signing.pfx"
certificate=$work/key/certificate.pem
pfx=$work/key/signing.pfx

# `verify FILE`: whether FILE's signature verifies against the throwaway certificate.
verify() { osslsigncode verify -CAfile "$certificate" -in "$1" >"$work/verify.log" 2>&1; }
# `verify_all FOLDER`: verify for each program and DLL in FOLDER; says each that fails.
verify_all() {
    local file bad=0 files
    files=$(find "$1" -maxdepth 1 -type f \( -name '*.exe' -o -name '*.dll' \) 2>/dev/null)
    [ -n "$files" ] || { echo "  no programs in $1" && return 1; }
    while read -r file; do
        verify "$file" || { echo "  not signed: ${file##*/}" && bad=1; }
    done <<<"$files"
    return "$bad"
}

# Without the settings: one line, and nothing signed.
cp "$windows/bin/vexil-file.exe" "$work/unsigned.exe"
"$sign" --status >"$work/status" 2>&1
check "without the settings: --status, status 0" test $? -eq 0
check "it says in one line that it does not sign" test "$(cat "$work/status")" = \
    "sign-windows: not signing (VEXIL_SIGN_PKCS12 and VEXIL_SIGN_PASSWORD are not set)"
"$sign" "$work/unsigned.exe" >"$work/out" 2>&1
check "without the settings signing a program: status 0, and not a word" \
    test $? -eq 0 -a ! -s "$work/out"
check "without the settings the program is left as it is" \
    cmp -s "$work/unsigned.exe" "$windows/bin/vexil-file.exe"

# Settings that cannot sign: --status fails with the reason, and signing fails and signs nothing.
while IFS='|' read -r what settings reason; do
    cp "$windows/bin/vexil-file.exe" "$work/refused.exe"
    eval "env $settings \"\$sign\" --status" >"$work/out" 2>&1
    check "$what: --status fails: $reason" test $? -eq 1 -a -n "$(grep -F "$reason" "$work/out")"
    eval "env $settings \"\$sign\" \"\$work/refused.exe\"" >"$work/out" 2>&1
    check "$what: signing fails" test $? -eq 1
    check "$what: nothing signed" cmp -s "$work/refused.exe" "$windows/bin/vexil-file.exe"
done <<'ROWS'
the .pfx file alone|VEXIL_SIGN_PKCS12="$pfx"|is set, but not VEXIL_SIGN_PASSWORD
the password alone|VEXIL_SIGN_PASSWORD="$password"|is set, but not VEXIL_SIGN_PKCS12
a time-stamp server alone|VEXIL_SIGN_TIMESTAMP_URL=http://192.0.2.1/|is set, but not VEXIL_SIGN_PKCS12 and
a .pfx file that is not there|VEXIL_SIGN_PKCS12="$work/none.pfx" VEXIL_SIGN_PASSWORD=x|no readable file
a wrong password|VEXIL_SIGN_PKCS12="$pfx" VEXIL_SIGN_PASSWORD=wrong|does not open with VEXIL_SIGN_PASSWORD
ROWS

# --reuse: a program signed once is those same bytes wherever it is signed again, even when each
# signature differs, as time-stamps do. A stand-in for osslsigncode makes every signature differ.
mkdir "$work/stand-in"
cat >"$work/stand-in/osslsigncode" <<'STAND_IN'
#!/bin/sh
while [ $# -gt 0 ]; do
    case $1 in -in) from=$2 && shift ;; -out) to=$2 && shift ;; esac
    shift
done
cat >/dev/null
{ cat "$from" && head -c 16 /dev/urandom; } >"$to"
STAND_IN
chmod +x "$work/stand-in/osslsigncode"
for copy in 1 2 3; do cp "$windows/bin/vexil-file.exe" "$work/copy$copy.exe"; done
stand_in() {
    PATH=$work/stand-in:$PATH VEXIL_SIGN_PKCS12=$pfx VEXIL_SIGN_PASSWORD=$password "$sign" "$@"
}
stand_in --reuse "$work/kept" "$work/copy1.exe" && stand_in --reuse "$work/kept" "$work/copy2.exe" &&
    stand_in "$work/copy3.exe"
check "--reuse: a program signed a second time gets the bytes of the first" \
    cmp -s "$work/copy1.exe" "$work/copy2.exe"
check "without it, it is signed anew (the stand-in's signatures differ)" \
    test -n "$(cmp "$work/copy1.exe" "$work/copy3.exe" 2>&1)"

export VEXIL_SIGN_PKCS12=$pfx VEXIL_SIGN_PASSWORD=$password
"$sign" --status >"$work/status" 2>&1
check "with the settings: --status says in one line whom it signs as" test "$(cat "$work/status")" = \
    "sign-windows: signing as CN = Vexilware test signing, not time-stamped"

# The packages, signed, made again from the build into the scratch folder.
packages=$work/packages
(cd "$windows" && cpack -G NSIS -B "$packages" && cpack -G ZIP -B "$packages" &&
    cpack -G External -B "$packages") >"$work/cpack.log" 2>&1
made=$?
check "cpack makes the three packages, signed" test "$made" -eq 0
[ "$made" -eq 0 ] || tail -n 20 "$work/cpack.log" | sed 's/^/  cpack: /'
for package in "$name.exe" "$name.msi"; do
    verify "$packages/$package"
    check "$package is signed" test $? -eq 0
done
unpack_zip "$packages/$name.zip" "$work/zip"
check "the ZIP's programs and tavdl.dll are signed" verify_all "$work/zip/$name"
msiextract -C "$work/msi" "$packages/$name.msi" >/dev/null
check "the MSI's programs and tavdl.dll are signed" verify_all "$work/msi/Vexilware"
check "the ZIP and the MSI hold the same signed programs" same_files "$work/zip/$name" "$work/msi/Vexilware"

throwaway_prefix
folder=$WINEPREFIX/drive_c/Program\ Files/Vexilware
timeout 300 wine "$packages/$name.exe" /S
check "the signed installer installs silently: status 0" test $? -eq 0
check "the installed programs, the uninstaller among them, and tavdl.dll are signed" \
    verify_all "$folder"
check "the installer holds the same signed programs as the ZIP" same_files "$work/zip/$name" "$folder"
run_in "$folder" ./vexil-download.exe --list-models
check "the signed vexil-download.exe runs with the signed tavdl.dll: status 0" test $? -eq 0

echo "$failures failures"
[ "$failures" -eq 0 ]
