#!/usr/bin/env bash
# Makes $WINEPREFIX once: a 64-bit Wine prefix whose HID bus serves Linux
# hidraw nodes ("Enable SDL" off, so that the hidraw bus starts) and watches
# /dev itself ("DisableUdevd", as the emulated KORVA has no udevd). Several
# callers at once wait for the first one.
set -euo pipefail
: "${WINEPREFIX:?}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree=d;mshtml=d}"
[ -f "$WINEPREFIX/.korva-ready" ] && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9> "$WINEPREFIX.lock"
flock 9
[ -f "$WINEPREFIX/.korva-ready" ] && exit 0
rm -rf "$WINEPREFIX"
WINEARCH=win64 wineboot -i > /dev/null 2>&1
key='HKLM\System\CurrentControlSet\Services\winebus'
wine reg add "$key" /v "Enable SDL" /t REG_DWORD /d 0 /f > /dev/null 2>&1
wine reg add "$key" /v "DisableUdevd" /t REG_DWORD /d 1 /f > /dev/null 2>&1
# The headless programs need no display; without one, Wine's X11 driver would
# hold back the posted messages JUCE's message loop runs on.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f > /dev/null 2>&1
wineserver -w
touch "$WINEPREFIX/.korva-ready"
