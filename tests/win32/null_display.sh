#!/bin/sh
# The window tests run on Wine's display-less driver. A wineserver that earlier tests started
# keeps the desktop it made with the driver it had (creating a dialog there fails with error
# 1400), and the setting counts only from the server's next start: so after setting it, this
# waits for the running server to end (a few seconds after its last program).
set -e
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
wineserver -w
