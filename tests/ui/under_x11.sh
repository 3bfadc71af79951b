#!/usr/bin/env bash
# Runs a command on a virtual X server with a window manager, as the program runs on a desktop:
# windows are really mapped, activated and given the keyboard focus by the window manager.
#
# Everything here is private to this run, so that runs side by side on a busy machine cannot
# meet: the X server picks a free display number itself and tells us which (-displayfd; no
# guess-then-start race), accepts only clients holding this run's cookie and no TCP, and the
# window manager and the command get their own temporary folder. The command starts only after
# the window manager is known to manage that very display; when a step fails the run stops at
# once and says which step, with what the X server and the window manager printed.
#
# Deadlines (seconds) for a loaded machine: UNDER_X11_START_SECONDS (default 30) for each of the
# X server and the window manager to become ready.
set -euo pipefail

deadline=${UNDER_X11_START_SECONDS:-30}
me=under_x11

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGUMENT...]" >&2
    exit 64
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/under_x11.XXXXXX")
xvfb_pid=
wm_pid=

# shellcheck disable=SC2317 # called by the EXIT trap
cleanup() {
    # The window manager first, so that it does not report the server vanishing under it.
    if [ -n "$wm_pid" ]; then
        kill "$wm_pid" 2>/dev/null || true
        wait "$wm_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
# A signal ends the run through the EXIT trap, with the status a shell gives for that signal.
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

show_log() {
    local name=$1 file=$2
    if [ -s "$file" ]; then
        echo "---- $name output ----" >&2
        cat "$file" >&2
        echo "---- end of $name output ----" >&2
    else
        echo "($name printed nothing)" >&2
    fi
}

fail() {
    echo "$me: $*" >&2
    show_log Xvfb "$tmp/xvfb.log"
    show_log icewm "$tmp/icewm.log"
    exit 1
}

for tool in Xvfb xauth xprop icewm setpriv; do
    command -v "$tool" >/dev/null || fail "step 'tools': $tool is not on PATH ($PATH)"
done

# The cookie the server accepts and the clients present. The server reads every entry of its
# file whatever display it names, and the display is known only once the server has chosen it,
# so the clients' file is written after that.
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
: >"$tmp/server.auth"
xauth -q -f "$tmp/server.auth" add :0 MIT-MAGIC-COOKIE-1 "$cookie"

# The server writes its display number to the pipe once it accepts connections. The pipe's
# reader sees end-of-file if the server dies first, so a failed start is noticed at once.
# -noreset: by default the server resets whenever its last client leaves (here: each check
# below, before the window manager holds a connection), and a client that connects during the
# reset is refused now and then; nothing here needs a reset. --pdeathsig ends the server even if
# this script is killed without a chance to clean up.
mkfifo "$tmp/displayfd"
setpriv --pdeathsig TERM Xvfb -displayfd 3 -auth "$tmp/server.auth" -nolisten tcp -noreset \
    -screen 0 1280x1024x24 3>"$tmp/displayfd" >"$tmp/xvfb.log" 2>&1 </dev/null &
xvfb_pid=$!
display_number=
read_status=0
read -r -t "$deadline" display_number <"$tmp/displayfd" || read_status=$?
if ((read_status > 128)); then
    fail "step 'Xvfb': no display number from the X server within $deadline s"
elif ! [[ "$display_number" =~ ^[0-9]+$ ]]; then
    fail "step 'Xvfb': the X server exited before it accepted connections"
fi

export DISPLAY=":$display_number"
export XAUTHORITY="$tmp/client.auth"
: >"$XAUTHORITY"
xauth -q -f "$XAUTHORITY" add "$DISPLAY" MIT-MAGIC-COOKIE-1 "$cookie"
unset WAYLAND_DISPLAY
mkdir -m 700 "$tmp/tmp" "$tmp/runtime" "$tmp/home"
export TMPDIR="$tmp/tmp" XDG_RUNTIME_DIR="$tmp/runtime"
xprop -root >/dev/null 2>"$tmp/xprop.log" ||
    fail "step 'connect': cannot reach the X server on $DISPLAY: $(cat "$tmp/xprop.log")"

# The window manager with a home of its own, so that no user's settings change what the tests
# see; --pdeathsig as for the server.
HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" \
    setpriv --pdeathsig TERM icewm >"$tmp/icewm.log" 2>&1 </dev/null &
wm_pid=$!

# The window manager is ready when the root window names its check window and that window
# exists and names itself the same way (how a window manager shows that it runs, and on which
# display: the root window belongs to this server alone). Until then the first test window could
# map unmanaged and never be activated.
wm_window() {
    local root_value own_value id
    root_value=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null) || return 1
    [[ "$root_value" =~ window\ id\ \#\ (0x[0-9a-fA-F]+) ]] || return 1
    id=${BASH_REMATCH[1]}
    own_value=$(xprop -id "$id" _NET_SUPPORTING_WM_CHECK 2>/dev/null) || return 1
    [[ "$own_value" == *"window id # $id"* ]] || return 1
    echo "$id"
}
now_us() { echo "${EPOCHREALTIME/[.,]/}"; }
give_up_us=$(($(now_us) + deadline * 1000000))
until wm_id=$(wm_window); do
    kill -0 "$xvfb_pid" 2>/dev/null ||
        fail "step 'window manager': the X server on $DISPLAY exited while icewm started"
    kill -0 "$wm_pid" 2>/dev/null ||
        fail "step 'window manager': icewm exited before it managed $DISPLAY"
    (($(now_us) < give_up_us)) ||
        fail "step 'window manager': icewm did not announce itself on $DISPLAY within $deadline s"
    sleep 0.1
done
wm_name=$(xprop -id "$wm_id" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME[^=]*= //p')
echo "$me: Xvfb on $DISPLAY, window manager ${wm_name:-(unnamed)} ready (window $wm_id)" >&2

status=0
QT_QPA_PLATFORM=xcb "$@" || status=$?
exit "$status"
