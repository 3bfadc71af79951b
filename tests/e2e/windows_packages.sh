# Sourced by the tests of the Windows packages (wine_installer.sh, wine_msi.sh,
# windows_signing.sh): what they share. The sourcing test has set $windows (the Windows build) and
# $work (its scratch folder, removed after it), and sourced tests/support/preamble.sh.
use_wine

# `cpack_value NAME`: a setting as the build gave it to CPack, such as CPACK_PACKAGE_VERSION.
cpack_value() { sed -n "s/^set($1 \"\(.*\)\")$/\1/p" "$windows/CPackConfig.cmake"; }

# `list_files FOLDER`: the files under FOLDER, by their paths inside it, sorted; nothing when
# there is no FOLDER.
list_files() { (cd "$1" 2>/dev/null && find . -type f | sed 's|^\./||' | sort); }

# `unpack_zip ZIP FOLDER`: the ZIP's files into FOLDER, and the list of them, by their paths inside
# its one folder (named as the package), into $work/zip.list.
unpack_zip() {
    unzip -q "$1" -d "$2"
    list_files "$2"/* >"$work/zip.list"
}

# `same_files FROM TO`: whether each file of $work/zip.list in the folder FROM has the same bytes
# in the folder TO; says each that differs.
same_files() {
    local file differing=0
    while read -r file; do
        if ! cmp -s "$1/$file" "$2/$file"; then
            echo "  differs: $file"
            differing=1
        fi
    done <"$work/zip.list"
    return "$differing"
}

# `throwaway_prefix`: Wine as the build runs it, in a copy of the build's prefix in $work/prefix,
# thrown away with the test: whatever an install leaves behind stays out of the prefix the build
# and the other tests use. Its shortcuts stay inside it, rather than becoming menu entries of this
# machine; its windows are made on Wine's null display driver, with no X server.
throwaway_prefix() {
    wine_env "$windows"
    cp -a "$WINEPREFIX" "$work/prefix"
    export WINEPREFIX=$work/prefix
    export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
    fresh_wineserver
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    check "the null display driver is set in the test's prefix" test $? -eq 0
}

# `run_in FOLDER PROGRAM ARGUMENT...`: PROGRAM under Wine, started in FOLDER, its output in
# $work/out, for at most 2 minutes.
run_in() {
    local folder=$1
    shift
    (cd "$folder" && wine_run "$work/out" "$work/out" 120 "$@")
}
