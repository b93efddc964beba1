#!/bin/sh
# Runs a Windows program under Wine for the tests (the cross build's emulator). A Wine session
# is started first, detached from this program's output: the server and the services it
# starts (winedevice.exe and others) inherit the output of the process that started them and
# stay, so a session started by a test program would keep the test runner's pipe open after
# the program ended. The server is persistent; stop it with `wineserver -k`.
if /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1; then
  # A new server (2 means one was running): start the session's services with it.
  /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || true
fi
exec /usr/lib/wine/wine64 "$@"
