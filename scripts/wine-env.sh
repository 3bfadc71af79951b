# Sourced by scripts/build-windows and the Wine tests: Wine as they run it.
# `wine_env WINDOWS_BUILD`: a Wine prefix of the build's own, no display, no prompts for Mono or
# Gecko, and Wine's own chatter off.
wine_env() {
    export WINEPREFIX=$1/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
}
# A fresh wineserver, started here: Wine's processes are made by it, and its sockets live in
# its network namespace, so a test in a private namespace needs one of its own.
fresh_wineserver() {
    wineserver -k 2>/dev/null || true  # none may be running
    wineserver -w 2>/dev/null || true
}
# `wine_run OUT ERR SECONDS PROGRAM [ARGUMENT...]`: PROGRAM under Wine for at most SECONDS (0: no
# limit), its standard output to the file OUT and its standard error to ERR (one file when they
# are the same). Each of these programs writes something before it can fail, so one that fails
# before writing a byte never reached its own code: Wine could not start it, and with
# WINEDEBUG=-all its loader says nothing of why. Such a start is said as such, on the caller's
# standard error, and made once more with the loader's and exceptions' errors shown; the second
# start's status is returned. A failure after the first byte, or a time-out, is the program's
# own and never run again.
wine_run() {
    local out=$1 err=$2 seconds=$3 status
    shift 3
    _wine_run_once() {
        if [ "$out" = "$err" ]; then
            timeout "$seconds" wine "$@" >"$out" 2>&1
        else
            timeout "$seconds" wine "$@" >"$out" 2>"$err"
        fi
    }
    _wine_run_once "$@"
    status=$?
    if [ "$status" -ne 0 ] && [ "$status" -ne 124 ] && [ ! -s "$out" ] && [ ! -s "$err" ]; then
        echo "wine_run: Wine ended ${1##*/} with status $status before it wrote anything;" \
            "it is started once more, with Wine's loader errors shown" >&2
        WINEDEBUG=-all,err+module,err+seh _wine_run_once "$@"
        status=$?
    fi
    return "$status"
}
# `wine_window_prefix LOG`: makes the prefix $WINEPREFIX for the window on an X display, with
# the Japanese dialog font. The dialogs' font is "ＭＳ Ｐゴシック" and the message boxes' the
# system's; both are given IPAPGothic (fonts-ipafont-gothic), as a Japanese Windows shows them.
# Made without a display: a desktop process that Wine starts now would keep Wine's display-less
# driver for every later window. What Wine printed goes to LOG; fails when the prefix cannot be
# made.
wine_window_prefix() {
    local log=$1 reg
    reg=$(mktemp "${TMPDIR:-/tmp}/fonts.XXXXXX.reg")
    # regedit reads a file with names beyond ASCII only as UTF-16LE with a byte order mark.
    {
        printf '\xff\xfe'
        printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
            '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
            '"ＭＳ Ｐゴシック"="IPAPGothic"' '"MS Shell Dlg"="IPAPGothic"' \
            '"MS Shell Dlg 2"="IPAPGothic"' '"MS UI Gothic"="IPAPGothic"' '"Tahoma"="IPAPGothic"' |
            iconv -f UTF-8 -t UTF-16LE
    } >"$reg"
    local status=0
    (
        unset DISPLAY
        fresh_wineserver
        timeout 300 wineboot -i >"$log" 2>&1 &&
            timeout 120 wine regedit /S "$(winepath -w "$reg")" >>"$log" 2>&1 &&
            # The prefix's processes end and the server with them, with the registry saved.
            { timeout 120 wineserver -w || wineserver -k; }
    ) || status=1
    rm -f "$reg"
    return $status
}
