#!/bin/sh
# Runs a 64-bit Windows test program under the 64-bit Wine loader, in its own prefix.
export VANTORAG_WINE=/usr/lib/wine/wine64
export WINE_TEST_PREFIX="${WINE_TEST_PREFIX64:-${WINE_TEST_PREFIX:-/tmp/vantorag-wine}64}"
exec "$(dirname "$0")/wine-emulator.sh" "$@"
