#!/usr/bin/env bash
# Vexil.exe, the Windows window, under Wine on a virtual X server with a window manager, driven
# only by key presses as a user makes them: one whole download over TCP/IP and one over IPX
# against the Linux simulator, in a private network namespace (run through in_netns.sh). The
# keys go through the X server to the window that has the focus, so what is tested is what a
# user meets: the dialog's focus and tab order, Enter on the default button, the confirmation
# and the message boxes, each answered once it is the active window. All of it twice: under
# LANG=ja_JP.UTF-8, in Japanese, and under LANG=en_US.UTF-8, in English.
# Usage: wine_window_download.sh LINUX_BUILD WINDOWS_BUILD
# With VEXIL_SCREENSHOT=FILE.png (and ImageMagick's import) it also saves the main window with
# an address typed in, as docs/windows-main-dialog.png shows it; VEXIL_SCREENSHOT_EN=FILE.png
# saves the English one (docs/windows-main-dialog-en.png).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -ne 2 ]; then
    echo "usage: $0 LINUX_BUILD WINDOWS_BUILD" >&2
    exit 64
fi
linux=$(cd "$1" && pwd) || exit 1
windows=$(cd "$2" && pwd) || exit 1
japanese=${VEXIL_SCREENSHOT:-}
english=${VEXIL_SCREENSHOT_EN:-}
status=0
VEXIL_SCREENSHOT=$japanese "$here/../ui/under_x11.sh" \
    bash "$here/wine_window_driver.sh" "$linux" "$windows" ja_JP.UTF-8 || status=1
VEXIL_SCREENSHOT=$english "$here/../ui/under_x11.sh" \
    bash "$here/wine_window_driver.sh" "$linux" "$windows" en_US.UTF-8 || status=1
exit "$status"
