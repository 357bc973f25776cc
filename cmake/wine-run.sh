#!/bin/sh
# Runs a win32 test binary under Wine with a private prefix inside the build tree.
: "${WINEPREFIX:=$(dirname "$(readlink -f "$1")")/../wineprefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# A 64-bit program (machine 8664h in its PE header) runs on Wine's 64-bit loader; Debian's
# wine command always starts the 32-bit one when it is installed.
wine=wine
pe_offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
if [ -n "$pe_offset" ] && [ -x /usr/lib/wine/wine64 ] &&
    [ "$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$1" | tr -d ' ')" = "8664" ]; then
    wine=/usr/lib/wine/wine64
    export WINELOADER=$wine
fi
# The tests of the real back-end get a raw volume: \\.\X: is a 1 MiB image file of the
# prefix (dosdevices "x::"), its root a folder ("x:"). The prefix must exist first: Wine
# makes its own drive links only in a dosdevices folder it creates itself.
if [ ! -d "$WINEPREFIX/dosdevices" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
fi
if [ -d "$WINEPREFIX/dosdevices" ] && [ ! -e "$WINEPREFIX/dosdevices/x::" ]; then
    mkdir -p "$WINEPREFIX/purgelet-x"
    truncate -s 1M "$WINEPREFIX/purgelet-x.img"
    ln -sfn "$WINEPREFIX/purgelet-x" "$WINEPREFIX/dosdevices/x:"
    ln -sfn "$WINEPREFIX/purgelet-x.img" "$WINEPREFIX/dosdevices/x::"
fi
exec "$wine" "$@"
