#!/bin/sh
# Runs a Windows test program under Wine for ctest: a private prefix (never ~/.wine), quiet
# debug output, and one wineserver that outlives each test so programs start in milliseconds.
# VANTORAG_WINE names the loader (default: wine, which takes the 32-bit one where it exists).
wine="${VANTORAG_WINE:-wine}"
export WINEPREFIX="${WINE_TEST_PREFIX:-/tmp/vantorag-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot -i </dev/null >/dev/null 2>&1
    # The server that made the prefix can start no service (RpcSs, Schedule, the tests' own) for
    # the rest of its life; let it end, and programs meet a new one.
    wineserver -w </dev/null >/dev/null 2>&1
fi
# 'wineserver -p' returns 0 after starting a new server, 2 when one already runs for this prefix
if wineserver -p60 </dev/null >/dev/null 2>&1; then
    "$wine" cmd /c exit 0 </dev/null >/dev/null 2>&1
fi
exec "$wine" "$@"
