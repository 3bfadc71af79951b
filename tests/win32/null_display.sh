#!/bin/sh
# The window tests run on Wine's display-less driver. A wineserver that earlier tests started
# keeps the desktop it made with the driver it had (creating a dialog there fails with error
# 1400), and the setting counts only from the server's next start: so after setting it, this
# waits for the running server to end (a few seconds after its last program).
# The dialogs' font, "ＭＳ Ｐゴシック", is given IPAPGothic (fonts-ipafont-gothic), as on a
# Japanese Windows and in the keyed runs on an X server, so that the tests measure each text
# of the templates in the font it is shown in; only the dialogs ask for that font.
set -e
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
reg=$(mktemp "${TMPDIR:-/tmp}/dialog-font.XXXXXX.reg")
trap 'rm -f "$reg"' EXIT
# regedit reads a file with names beyond ASCII only as UTF-16LE with a byte order mark.
{
    printf '\377\376'
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
        '"ＭＳ Ｐゴシック"="IPAPGothic"' | iconv -f UTF-8 -t UTF-16LE
} >"$reg"
wine regedit /S "$(winepath -w "$reg")"
wineserver -w
