#!/usr/bin/env bash
# Runs a Windows program under Wine, in the project's own Wine prefix (never
# the user's ~/.wine), quietly: standard output, standard error and the exit
# status are the program's. The prefix is made on first use, with Wine's HID
# bus set up for hidraw devices (see scripts/wine-prefix.sh).
#   wine-run.sh PROGRAM.exe [ARGS...]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export WINEPREFIX="${WINEPREFIX:-$here/../build-windows/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree=d;mshtml=d}"
"$here/wine-prefix.sh"
# The first program of a Wine session starts Wine's own services, which
# outlive it holding its standard output and error: a caller that waits for
# those to close (ctest does) would wait until the session ends. So the
# session is started first, by a program whose output goes nowhere, with a
# server that stays a minute after its last program.
wineserver -p60 < /dev/null > /dev/null 2>&1 || true
wine cmd /c exit < /dev/null > /dev/null 2>&1 || true
exec wine "$@"
