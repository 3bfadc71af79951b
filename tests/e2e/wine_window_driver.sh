#!/usr/bin/env bash
# The keys of wine_window_download.sh, run by it on the virtual X server (DISPLAY is set): Wine
# with its X11 driver in a prefix of this run's own, the simulator on 192.0.2.1, and Vexil.exe
# driven by key presses through the X server (XTEST), as a keyboard gives them to the window
# that has the focus. Nothing is sent to a window directly; before each key the window that is
# to take it must be the active one.
# Usage: wine_window_driver.sh LINUX_BUILD WINDOWS_BUILD LOCALE
# LOCALE (ja_JP.UTF-8 or en_US.UTF-8) is the LANG that Wine hands on to Vexil.exe: the window,
# its confirmation and its boxes are checked in that language.
# shellcheck source=tests/support/preamble.sh
source "$(dirname "$0")/../support/preamble.sh"
linux=$1
windows=$2
locale=$3
sim=$linux/tools/vexil-printserver-sim
vexil=$windows/bin/Vexil.exe
display=${DISPLAY:?run through wine_window_download.sh, which starts the X server}

# Deadlines in tenths of a second, for a loaded two-core machine: Wine's first window, one
# window or box to appear or go, one whole download.
start_tries=600
window_tries=300
download_tries=3000

sim_pid=
vexil_pid=
cleanup_first() {
    [ -z "$vexil_pid" ] || kill "$vexil_pid" 2>/dev/null
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null
}
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir "$work/files"
cp "$linux/sample/RS.BIN" "$work/files/"
"$linux/tools/vexil-file" extract "$work/files/RS.BIN" "$work/expected.bin" >/dev/null

use_wine "$windows"
# A prefix of this test's own, so that its font settings and its X11 driver change nothing for
# the build's prefix that the other Wine tests share.
export WINEPREFIX=$work/prefix
# Each message box's text is traced (+msgbox), so that the test knows which box it answers.
export WINEDEBUG=-all,+msgbox

if ! wine_window_prefix "$work/wineboot.log"; then
    echo "FAIL the Wine prefix could not be made in $WINEPREFIX:"
    sed 's/^/  wineboot: /' "$work/wineboot.log"
    exit 1
fi
export DISPLAY=$display
export TAVDL_IPX_TUNNEL=192.0.2.1:16640
# The language as a user's environment gives it, to Wine alone (which passes it on to the
# program): xdotool reads the windows' names in this shell's locale.
echo "Vexil.exe with LANG=$locale"
case $locale in
    ja*)
        confirm_title="ターゲット確認"
        text_121="ダウンロードを開始します。"
        text_122=$'ダウンロード中はプリンタの電源を\r\n切ったりキャンセルを押したりしないでください。'
        text_110=$'ダウンロードが終了しました。\r\nプリンタの電源をリセットしてください。'
        ;;
    en*)
        confirm_title="Confirm the target"
        text_121="The download starts."
        text_122=$'During the download, do not switch the printer off\r\nor press Cancel.'
        text_110=$'The download has finished.\r\nSwitch the printer off and on again.'
        ;;
    *)
        echo "usage: $0 LINUX_BUILD WINDOWS_BUILD ja_JP.UTF-8|en_US.UTF-8" >&2
        exit 64
        ;;
esac

# The simulator on 192.0.2.1 for one download; waits until it listens.
start_sim() {
    rm -f "$work/flash.bin" "$work/ready"
    mkfifo "$work/ready"
    "$sim" --listen 192.0.2.1 --flash "$work/flash.bin" --once "$@" --ready-fd 3 \
        3>"$work/ready" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    local line=
    read -r -t 10 line <"$work/ready"
    check "the simulator listens" test "$line" = ready
}
sim_ended() { ! kill -0 "$sim_pid" 2>/dev/null; }
stop_sim() {
    until_true "$window_tries" sim_ended || kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
}

# What helps when a step fails: the active window, the windows there are, the boxes so far,
# the simulator's log and Wine's output.
report() {
    echo "  -- $1"
    echo "  active window: $(active_name || echo '(none)')"
    echo "  visible windows:"
    xdotool search --onlyvisible --name '.' 2>/dev/null | while read -r id; do
        echo "    $id $(xdotool getwindowname "$id" 2>/dev/null)"
    done
    echo "  Vexil.exe: $(kill -0 "$vexil_pid" 2>/dev/null && echo running || echo ended)"
    sed 's/^/  simulator: /' "$work/sim.log" 2>/dev/null | tail -40
    sed 's/^/  wine: /' "$work/wine.err" 2>/dev/null | tail -40
}
# A step that must succeed for the next to make sense: on failure, what helps, and the end.
must() {
    local name=$1
    shift
    if "$@"; then
        echo "ok   $name"
    else
        echo "FAIL $name"
        failures=$((failures + 1))
        report "$name"
        echo "$failures failures"
        exit 1
    fi
}

# `must` that says nothing when the step succeeds, for the steps within one.
need() {
    local name=$1
    shift
    "$@" && return 0
    must "$name" false
}

# The window's handle and name as the X server has them.
# Wine under a Japanese LANG writes a window's WM_NAME in an encoding that xdotool's search may
# not read back; its _NET_WM_NAME, which getwindowname reads, is UTF-8 in every language.
window_named() {
    local id
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    if [ -z "$id" ]; then
        for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
            [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$1" ] && break
            id=
        done
    fi
    [ -n "$id" ] && echo "$id"
}
managed() {
    xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -qiE "[# ,]$(printf '0x%x' "$1")(,|\$)"
}
active_id() { xdotool getactivewindow 2>/dev/null; }
active_name() { xdotool getactivewindow getwindowname 2>/dev/null; }
is_active() { [ "$(active_name)" = "$1" ]; }
is_active_id() { [ "$(active_id)" = "$1" ]; }
mapped() { [ -n "$(window_named "$1")" ]; }
gone() { ! xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qx "$1"; }
ended() { ! kill -0 "$vexil_pid" 2>/dev/null; }
# Keys as a keyboard gives them, to the window that has the focus.
keys() { xdotool key --delay 50 "$@"; }
# The window named NAME, once mapped and managed, made the active one: the window manager does
# that itself for most windows that a key press brought up; a window it leaves without the
# focus gets it as a click would give it (XSetInputFocus). Under Wine the window manager's own ways,
# Alt+Tab and a click on the title bar, race with its keyboard and pointer grabs: Wine takes the
# focus while the grab lasts and loses it when the grab ends, in one try out of two to five.
# Leaves the window's handle in `forward`.
forward=
bring_forward() {
    local name=$1 what=$2
    need "$what is mapped" until_true "$window_tries" mapped "$name"
    forward=$(window_named "$name")
    need "$what is managed by the window manager" until_true "$window_tries" managed "$forward"
    # The window manager's turn first (two seconds), the click's then.
    if ! until_true 20 is_active_id "$forward"; then
        echo "     ($what was given the focus by the test)"
        xdotool windowfocus "$forward" 2>/dev/null
    fi
    must "$what is active" until_true "$window_tries" is_active_id "$forward"
}

# The form Wine's traces give a text in: printable ASCII as it is (\ and " escaped), CR and LF as
# \r and \n, other characters as \ and four hexadecimal digits.
traced() {
    local hex out= i code
    hex=$(printf '%s' "$1" | iconv -f UTF-8 -t UTF-16BE | od -An -v -tx1 | tr -d ' \n')
    for ((i = 0; i < ${#hex}; i += 4)); do
        code=$((16#${hex:i:4}))
        if ((code == 13)); then
            out+='\r'
        elif ((code == 10)); then
            out+='\n'
        elif ((code == 92 || code == 34)); then
            out+="\\$(printf "\\x${hex:i+2:2}")"
        elif ((code >= 32 && code < 127)); then
            out+=$(printf "\\x${hex:i+2:2}")
        else
            out+="\\${hex:i:4}"
        fi
    done
    printf '%s' "$out"
}
box_count() { grep -c ':trace:msgbox:' "$work/wine.err" 2>/dev/null; }
last_box() { grep ':trace:msgbox:' "$work/wine.err" | tail -n 1 | sed 's/^[^"]*"//; s/"$//'; }
# Enter on message box number N (counted from the start) once it is active, after checking
# that it shows TEXT; then waits until it is gone.
answered=0
answer_box() {
    local text=$1 name=$2 id
    answered=$((answered + 1))
    must "$name: the box is shown" until_true "$download_tries" box_shown "$answered"
    bring_forward Vexil "$name: the box"
    id=$forward
    check "$name: the box shows its message" test "$(last_box)" = "$(traced "$text")"
    keys Return
    must "$name: the box closes on Enter" until_true "$window_tries" gone "$id"
}
box_shown() { [ "$(box_count)" -ge "$1" ]; }

# The confirmation dialog, whose focused button starts the download; then the boxes of a whole
# download; then the window back, still open, for the next one.
confirm_and_answer() {
    local run=$1 confirm
    bring_forward "$confirm_title" "$run: the confirmation"
    confirm=$forward
    keys Return
    must "$run: the confirmation closes on Enter" until_true "$window_tries" gone "$confirm"
    answer_box "$text_121" "$run: message 121"
    answer_box "$text_122" "$run: message 122"
    answer_box "$text_110" "$run: message 110"
    stop_sim
    check "$run: the flash equals the image" cmp -s "$work/flash.bin" "$work/expected.bin"
    check "$run: the program goes on" kill -0 "$vexil_pid"
    bring_forward Vexilware "$run: the window, still open,"
    main=$forward
}

# Vexil.exe opens its download files from the current folder.
(cd "$work/files" && unset LANGUAGE LC_ALL LC_MESSAGES && LANG=$locale exec wine "$vexil") >"$work/wine.out" 2>"$work/wine.err" &
vexil_pid=$!
must "the window is mapped" until_true "$start_tries" mapped Vexilware
main=$(window_named Vexilware)
# Its size comes from the template's dialog units, which follow the font: with IPAPGothic the
# window is 306 x 275 pixels (another font gives other units, and squares for the texts).
WIDTH=0 HEIGHT=0
eval "$(xdotool getwindowgeometry --shell "$main" | grep -E '^(WIDTH|HEIGHT)=')"
check "the window has its size in IPAPGothic (306 x 275, is $WIDTH x $HEIGHT)" \
    test $((WIDTH >= 302 && WIDTH <= 310 && HEIGHT >= 271 && HEIGHT <= 279)) -eq 1
# A program started without a user's input is not given the focus by the window manager (its
# user time is 0), as a user would click it.
bring_forward Vexilware "the window"
main=$forward

# TCP/IP: the focus starts on the model list; Down picks its only model, which enables the
# TCP/IP fields, Tab goes to octet 1, the address typed in fills the four octets, and Enter
# presses the download button.
start_sim
keys Down Tab
xdotool type --delay 50 "192.0.2.1"
if [ -n "${VEXIL_SCREENSHOT:-}" ]; then
    # The window once it has drawn what was typed: two pictures in a row the same.
    screenshot_settled() {
        import -window "$main" "$work/shot.png" 2>/dev/null &&
            cmp -s "$work/shot.png" "$work/previous.png" ||
            { mv "$work/shot.png" "$work/previous.png" 2>/dev/null; false; }
    }
    if until_true "$window_tries" screenshot_settled; then
        cp "$work/shot.png" "$VEXIL_SCREENSHOT" && echo "screenshot: $VEXIL_SCREENSHOT"
    else
        echo "FAIL no settled screenshot of the window"
        failures=$((failures + 1))
    fi
fi
keys Return
confirm_and_answer tcp

# IPX: after a download the focus is on the download button; Tab past the cancel and browse
# buttons reaches the IPX box, Space checks it (the TCP box is cleared and the IPX fields
# enabled), Tab past the TCP box and the model list reaches the network field, then the MAC
# field; Tab selects a field's text, so what is typed takes its place. The simulator's card is
# not the default one, so that the download reaches it only with the numbers typed here.
start_sim --ipx-network 0000002A --ipx-node 00D1F0A1B2C3
keys Tab Tab Tab space Tab Tab Tab
xdotool type --delay 50 "0000002a"
keys Tab
xdotool type --delay 50 "00d1f0a1b2c3"
keys Return
confirm_and_answer ipx

# Escape is the cancel button, which ends the program.
keys Escape
must "Escape ends the program" until_true "$window_tries" ended
wait "$vexil_pid"
status=$?
vexil_pid=
check "the program ended with status 0" test "$status" -eq 0
check "every box was answered, no other" test "$(box_count)" -eq "$answered"

echo "$failures failures"
[ "$failures" -eq 0 ]
