#!/usr/bin/env bash
# Runs a command on a virtual X server with a window manager, as the program runs on a desktop:
# windows are really mapped, activated and given the keyboard focus by the window manager.
set -euo pipefail
exec xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    icewm >/dev/null 2>&1 &
    wm=$!
    trap "kill $wm 2>/dev/null || true" EXIT
    # Give the window manager a moment to take the screen before the first window maps.
    for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
    QT_QPA_PLATFORM=xcb "$@"' under_x11 "$@"
