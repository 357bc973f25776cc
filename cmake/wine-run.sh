#!/bin/sh
# Runs a win32 test binary under Wine with a private prefix inside the build tree.
: "${WINEPREFIX:=$(dirname "$(readlink -f "$1")")/../wineprefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
exec wine "$@"
