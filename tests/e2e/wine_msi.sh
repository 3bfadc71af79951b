#!/usr/bin/env bash
# The MSI that scripts/build-windows makes, under Wine in a throwaway copy of the build's Wine
# prefix: `msiexec /i … /qn` puts the ZIP's files, the same bytes, into Program Files\Vexilware,
# makes the Start-menu entry Vexilware that starts Vexil.exe in that folder, registers the product
# for the machine with its icon and the uninstall entry, and the programs run from there. An MSI of
# a newer version, made here by cpack from the same build with only the version raised, replaces
# it in place; the older one then refuses to go over it; and `msiexec /x {product code} /qn`, as
# Add/Remove programs runs it, takes all of it away.
#
# msiexec ends with the installer's error code as its status, of which a shell sees the low 8 bits:
# 1603, a failed install, is 67.
#
# What Wine does not show: its msiexec puts a per-machine install's Start-menu entry into the
# Start menu of the current user (Windows puts it into that of all users), so the entry is looked
# for in both; and it writes no DisplayIcon into the uninstall entry, which Windows does not
# either: Add/Remove programs takes the icon from the product's registration (ProductIcon).
# Usage: wine_msi.sh WINDOWS_BUILD
# shellcheck source=tests/support/preamble.sh
source "$(dirname "$0")/../support/preamble.sh"
source "$here/windows_packages.sh"
windows=$(cd "$1" && pwd)

name=$(cpack_value CPACK_PACKAGE_FILE_NAME)
version=$(cpack_value CPACK_PACKAGE_VERSION)
msi=$windows/$name.msi
zip=$windows/$name.zip
if [ -z "$name" ] || [ ! -f "$msi" ] || [ ! -f "$zip" ]; then
    echo "FAIL no MSI and ZIP in $windows (scripts/build-windows makes them): '$name.msi', '$name.zip'"
    exit 1
fi

unpack_zip "$zip" "$work/zip"
has_window=0
grep -qx Vexil.exe "$work/zip.list" && has_window=1

# `msi_property MSI NAME`: a property of the MSI's Property table.
msi_property() {
    msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v name="$2" '$1 == name { print $2 }'
}
product=$(msi_property "$msi" ProductCode)
upgrade=$(msi_property "$msi" UpgradeCode)
check "the MSI's version is the build's, $version" \
    test "$(msi_property "$msi" ProductVersion)" = "$version"
check "the MSI has a product code and an upgrade code" test -n "$product" -a -n "$upgrade"

# The newer version, from the same build's files, unsigned, whatever the build was given: the
# test signs nothing and asks no time-stamp server.
newer_version=${version%.*}.$((${version##*.} + 1))
newer_name=${name/$version/$newer_version}
(cd "$windows" &&
    env -u VEXIL_SIGN_PKCS12 -u VEXIL_SIGN_PASSWORD -u VEXIL_SIGN_TIMESTAMP_URL \
        cpack -G External -B "$work/newer" -D CPACK_PACKAGE_VERSION="$newer_version" \
        -D CPACK_PACKAGE_FILE_NAME="$newer_name") >"$work/newer.log" 2>&1
newer=$work/newer/$newer_name.msi
check "cpack makes an MSI of version $newer_version from the same build" test -f "$newer"
[ -f "$newer" ] || sed 's/^/  cpack: /' "$work/newer.log"
newer_product=$(msi_property "$newer" ProductCode)
check "the newer MSI has a product code of its own" \
    test -n "$newer_product" -a "$newer_product" != "$product"
check "the newer MSI has the same upgrade code" test "$(msi_property "$newer" UpgradeCode)" = "$upgrade"
msiextract -C "$work/newer-files" "$newer" >/dev/null

throwaway_prefix
folder=$WINEPREFIX/drive_c/Program\ Files/Vexilware
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
products='HKLM\Software\Classes\Installer\Products'

msiexec() {  # msiexec OPTION PACKAGE: silently, within 5 minutes
    timeout 300 wine msiexec "$1" "$2" /qn
}
# `entries`: the uninstall entries named Vexilware, each as "KEY VERSION", into $work/entries.
entries() {
    timeout 120 wine reg query "$uninstall" /s 2>/dev/null | tr -d '\r' | awk '
        /^HKEY_/ { key = $0; sub(/.*\\/, "", key); name = ""; version = "" }
        $1 == "DisplayName" && $2 == "REG_SZ" { name = substr($0, index($0, "REG_SZ") + 10) }
        $1 == "DisplayVersion" && $2 == "REG_SZ" { version = $3 }
        /^$/ && name == "Vexilware" { print key, version; name = "" }
        END { if (name == "Vexilware") print key, version }' >"$work/entries"
}
# `links`: the Start-menu entries Vexilware.lnk, in the Start menu of all users or of the user.
links() {
    find "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" \
        "$WINEPREFIX/drive_c/users" -path '*/Start Menu/Programs/Vexilware.lnk' 2>/dev/null
}

msiexec /i "$(winepath -w "$msi")"
check "msiexec /i $name.msi /qn: status 0" test $? -eq 0

list_files "$folder" >"$work/installed.list"
check "Program Files\\Vexilware holds the ZIP's files, and nothing else" \
    diff -u "$work/zip.list" "$work/installed.list"
check "the installed files are the ZIP's bytes" same_files "$work/zip/$name" "$folder"

if [ "$has_window" -eq 1 ]; then
    links >"$work/links"
    check "one Start-menu entry Vexilware" test "$(wc -l <"$work/links")" -eq 1
    link=$(head -n 1 "$work/links")
    # The link's target path is stored as bytes, its working folder as UTF-16 text.
    check "the Start-menu entry starts the installed Vexil.exe" \
        grep -qi 'Program Files\\Vexilware\\Vexil.exe' <(tr -d '\0' <"$link")
    in_folder=$(printf '%s' 'C:\Program Files\Vexilware' | iconv -t UTF-16LE | xxd -p | tr -d '\n')
    check "the Start-menu entry starts it in the install folder" \
        grep -qi "$in_folder" <(xxd -p "$link" | tr -d '\n')
else
    echo "skip the Start-menu entry Vexilware: the build has no Vexil.exe, so the MSI makes none"
fi

# Add/Remove programs: the entry under the product code, and the product's icon.
timeout 120 wine reg query "$uninstall\\$product" 2>/dev/null | tr -d '\r' >"$work/entry"
failures_before=$failures
check "the uninstall entry {product code} is in the registry (HKLM)" \
    grep -q "UninstallString" "$work/entry"
check "the uninstall entry's name is Vexilware" \
    grep -Eq "^ +DisplayName +REG_SZ +Vexilware$" "$work/entry"
check "the uninstall entry's version is $version" \
    grep -Eq "^ +DisplayVersion +REG_SZ +$version$" "$work/entry"
check "the uninstall entry's publisher is the vendor" \
    grep -Eq "^ +Publisher +REG_SZ +$(cpack_value CPACK_PACKAGE_VENDOR)$" "$work/entry"
check "the uninstall entry removes the product with msiexec" \
    grep -Fqi "MsiExec.exe /X$product" <(grep -E "^ +UninstallString +REG_EXPAND_SZ " "$work/entry")
[ "$failures" -eq "$failures_before" ] || sed 's/^/  entry: /' "$work/entry"
# Registered for the machine (HKLM\Software\Classes\Installer), with the program's icon.
timeout 120 wine reg query "$products" /s 2>/dev/null | tr -d '\r' >"$work/products"
icon=$(sed -n "s/^ *ProductIcon *REG_SZ *\(.*$product.*\)$/\1/p" "$work/products")
check "the product is registered for the machine, with an icon" test -n "$icon"
check "the product's icon is resources/vexilware.ico" \
    cmp -s "$(winepath -u "$icon" 2>/dev/null)" "$sources/resources/vexilware.ico"

# The programs run from the install folder: the DLL beside them, the sample file found there.
run_in "$folder" ./vexil-download.exe --list-models
check "vexil-download.exe --list-models from the install folder: status 0" test $? -eq 0
check "vexil-download.exe --list-models: the models' download files" grep -q RS.BIN "$work/out"

# The newer version in place of the older one.
msiexec /i "$(winepath -w "$newer")"
check "msiexec /i $newer_name.msi /qn over $version: status 0" test $? -eq 0
entries
check "afterwards one product Vexilware is installed: $newer_version" \
    test "$(cat "$work/entries")" = "$newer_product $newer_version"
list_files "$folder" >"$work/installed.list"
check "Program Files\\Vexilware holds the same files" diff -u "$work/zip.list" "$work/installed.list"
check "they are the newer MSI's bytes" same_files "$work/newer-files/Vexilware" "$folder"
if [ "$has_window" -eq 1 ]; then
    check "one Start-menu entry Vexilware still" test "$(links | wc -l)" -eq 1
fi

# The older one refuses to replace the newer one: 1603, and both stay as they were.
msiexec /i "$(winepath -w "$msi")"
check "msiexec /i $name.msi /qn over $newer_version fails: status 1603 (67)" test $? -eq 67
entries
check "afterwards $newer_version is still the one product installed" \
    test "$(cat "$work/entries")" = "$newer_product $newer_version"

msiexec /x "$newer_product"
check "msiexec /x {product code} /qn: status 0" test $? -eq 0
check "the install folder is gone" test ! -e "$folder"
check "the Start-menu entry is gone" test -z "$(links)"
entries
check "the uninstall entry is gone" test ! -s "$work/entries"
timeout 120 wine reg query "$products" /s 2>/dev/null | tr -d '\r' >"$work/products"
check "the product's registration is gone" \
    test -z "$(grep -i -e "$product" -e "$newer_product" "$work/products")"
check "the copy of its icon is gone" test ! -e "$(winepath -u "$icon" 2>/dev/null)"

echo "$failures failures"
[ "$failures" -eq 0 ]
