#!/bin/sh
# Runs a window test program under Wine on a virtual X display of its own, in a Wine prefix
# of its own (the display a prefix's desktop process was started with is the one it keeps).
# The prefix's Wine server is waited for before the display goes.
set -e
test_program=$(readlink -f "$1")
shift
WINEPREFIX="$(dirname "$test_program")/../wineprefix-gui"
export WINEPREFIX
here=$(dirname "$(readlink -f "$0")")
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" sh -c '
    sh "$0" "$@"; code=$?
    wineserver -w
    exit $code' "$here/../../../cmake/wine-run.sh" "$test_program" "$@"
