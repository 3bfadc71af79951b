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
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
}
