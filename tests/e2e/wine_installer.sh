#!/usr/bin/env bash
# The Windows packages that scripts/build-windows makes: the ZIP holds the programs, the DLL and
# the sample files and nothing else; the installer, run silently (/S) under Wine in a throwaway
# copy of the build's Wine prefix, puts those same files into Program Files\Vexilware with its
# uninstaller, makes the Start-menu entries for all users and the entry in Add/Remove programs,
# and the programs run from there; the silent uninstaller then takes all of it away again.
# Usage: wine_installer.sh WINDOWS_BUILD
# shellcheck source=tests/support/preamble.sh
source "$(dirname "$0")/../support/preamble.sh"
source "$here/windows_packages.sh"
windows=$(cd "$1" && pwd)

# The packages' name and version as the build gave them to CPack.
name=$(cpack_value CPACK_PACKAGE_FILE_NAME)
version=$(cpack_value CPACK_PACKAGE_VERSION)
installer=$windows/$name.exe
zip=$windows/$name.zip
if [ -z "$name" ] || [ ! -f "$installer" ] || [ ! -f "$zip" ]; then
    echo "FAIL no packages in $windows (scripts/build-windows makes them): '$name.exe', '$name.zip'"
    exit 1
fi


# The ZIP: one folder named as the package, with exactly these files. Its listing is then the
# list of what the installer must install.
expected=(vexil-download.exe vexil-file.exe vexil-printserver-sim.exe tavdl.dll RS.BIN
          firmware.srec)
# The Win32 window, once the build has it.
has_window=0
[ -f "$windows/bin/Vexil.exe" ] && has_window=1 && expected+=(Vexil.exe)
printf '%s\n' "${expected[@]}" | sort >"$work/expected.list"
unzip -Z1 "$zip" >"$work/zip.raw"
check "the ZIP's files are in one folder, $name" test -z "$(grep -v "^$name/" "$work/zip.raw")"
unpack_zip "$zip" "$work/zip"
check "the ZIP holds the programs, tavdl.dll and the sample files, and nothing else" \
    diff -u "$work/expected.list" "$work/zip.list"
check "the ZIP's RS.BIN is the build's sample download file" \
    cmp "$work/zip/$name/RS.BIN" "$windows/sample/RS.BIN"
check "the ZIP's firmware.srec is the sample image" \
    cmp "$work/zip/$name/firmware.srec" "$sources/resources/sample/firmware.srec"

throwaway_prefix

folder=$WINEPREFIX/drive_c/Program\ Files/Vexilware
menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Vexilware
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexilware'

timeout 300 wine "$installer" /S
check "the silent install ends with status 0 within 5 minutes" test $? -eq 0

# The files: the ZIP's, the same bytes, and the uninstaller.
list_files "$folder" >"$work/installed.list"
(cat "$work/zip.list" && echo Uninstall.exe) | sort >"$work/expected-installed.list"
check "Program Files\\Vexilware holds the ZIP's files and Uninstall.exe, and nothing else" \
    diff -u "$work/expected-installed.list" "$work/installed.list"
check "the installed files are the ZIP's bytes" same_files "$work/zip/$name" "$folder"

# Once more over the installed one, as a newer version comes: it first runs the uninstaller of
# the one there, silently as well, and ends with the same folder.
timeout 300 wine "$installer" /S
check "a second silent install over the first ends with status 0 within 5 minutes" test $? -eq 0
list_files "$folder" >"$work/installed-again.list"
check "after it, the install folder holds the same files" \
    diff -u "$work/expected-installed.list" "$work/installed-again.list"

# The Start menu of all users: a folder Vexilware with the window and the uninstaller.
check "the Start menu folder Vexilware (all users) has the uninstaller's entry" \
    test -f "$menu/Uninstall.lnk"
if [ "$has_window" -eq 1 ]; then
    check "the Start menu entry Vexilware" test -f "$menu/Vexilware.lnk"
    # The link's target path is stored as UTF-16 or as bytes; without the zero bytes either reads.
    check "the Start menu entry Vexilware starts the installed Vexil.exe" \
        grep -qi 'Program Files\\Vexilware\\Vexil.exe' <(tr -d '\0' <"$menu/Vexilware.lnk")
else
    echo "skip the Start menu entry Vexilware: the build has no Vexil.exe, so the installer makes none"
fi

# Add/Remove programs: the entry, machine-wide, and what it shows.
timeout 120 wine reg query "$uninstall_key" 2>/dev/null | tr -d '\r' >"$work/entry"
failures_before=$failures
check "the uninstall entry is in the registry (HKLM)" grep -q "UninstallString" "$work/entry"
check "the uninstall entry's name is Vexilware" \
    grep -Eq "^ +DisplayName +REG_SZ +Vexilware$" "$work/entry"
check "the uninstall entry's version is $version" \
    grep -Eq "^ +DisplayVersion +REG_SZ +$version$" "$work/entry"
check "the uninstall entry runs the installed uninstaller" \
    grep -Eqi '^ +UninstallString +REG_SZ +"C:\\Program Files\\Vexilware\\Uninstall.exe"$' \
    "$work/entry"
[ "$failures" -eq "$failures_before" ] || sed 's/^/  entry: /' "$work/entry"

# The programs run from the install folder: the DLL beside them, the sample file read there.
run_installed() { run_in "$folder" "$@"; }
run_installed ./vexil-download.exe --list-models
check "vexil-download.exe --list-models from the install folder: status 0" test $? -eq 0
check "vexil-download.exe --list-models: the models' download files" grep -q RS.BIN "$work/out"
# Its labels follow the language: read here in English.
LANGUAGE=en run_installed ./vexil-file.exe info RS.BIN
check "vexil-file.exe info RS.BIN from the install folder: status 0" test $? -eq 0
check "vexil-file.exe info RS.BIN: the sample's model code" grep -q "model code: *aa01" "$work/out"
run_installed ./vexil-printserver-sim.exe --help
check "vexil-printserver-sim.exe --help from the install folder: status 0" test $? -eq 0

window_program_ended() { ! kill -0 "$vexil_pid" 2>/dev/null; }
if [ "$has_window" -eq 1 ]; then
    (cd "$folder" && exec wine ./Vexil.exe) >"$work/vexil.log" 2>&1 &
    vexil_pid=$!
    wine_run "$work/window" "$work/window" 120 "$windows/bin/wait_for_window.exe" Vexil.exe 60
    check "Vexil.exe from the install folder shows its window within a minute" test $? -eq 0
    timeout 60 wine taskkill /F /IM Vexil.exe >/dev/null 2>&1
    until_true 300 window_program_ended
    check "Vexil.exe ends within 30 seconds when ended" test $? -eq 0
    kill "$vexil_pid" 2>/dev/null
    wait "$vexil_pid" 2>/dev/null
else
    echo "skip Vexil.exe from the install folder: the build has no Vexil.exe (the Win32 window)"
fi

# The uninstaller copies itself to a temporary folder, starts that copy and returns at once.
timeout 120 wine "$folder/Uninstall.exe" /S
check "the silent uninstaller starts: status 0" test $? -eq 0
until_true 600 test ! -e "$folder"
check "the uninstaller removes the install folder within a minute" test $? -eq 0
# Its copy has ended when Wine's server has, every process of the prefix being done.
timeout 120 wineserver -w
check "the uninstaller ends within 2 minutes" test $? -eq 0
check "the Start menu folder Vexilware is gone" test ! -e "$menu"
timeout 120 wine reg query "$uninstall_key" >/dev/null 2>&1
check "the uninstall entry is gone from the registry" test $? -eq 1

echo "$failures failures"
[ "$failures" -eq 0 ]
