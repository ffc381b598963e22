#!/bin/sh
# Runs a Windows program under wine for CTest (CMAKE_CROSSCOMPILING_EMULATOR):
#   wine-run.sh program.exe [arguments...]
# WINEPREFIX picks the prefix (wine's default ~/.wine otherwise). wine's own
# debug output is off so that it does not mix with the program's. The wine
# debugger is disabled: with it, a program that crashes ends with exit code 0
# and its test would pass; without it, the crash is a non-zero exit code.
WINE=${JX_WINE:-}
if [ -z "$WINE" ]; then
    if [ -x /usr/lib/wine/wine64 ]; then
        WINE=/usr/lib/wine/wine64
    else
        WINE=wine64
    fi
fi
WINEDEBUG=${WINEDEBUG:--all}
WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winedbg.exe=d"
export WINEDEBUG WINEDLLOVERRIDES
exec "$WINE" "$@"
