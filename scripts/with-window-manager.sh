#!/usr/bin/env bash
# Runs a command on the X display of DISPLAY under a window manager, as on a
# user's desktop: Debian's openbox with its default settings places, frames
# and focuses the windows. Used by scripts/test.sh inside xvfb-run, so that
# the desktop tests meet what users' desktops do to windows.
set -euo pipefail

if [ -z "${DISPLAY:-}" ]; then
    echo "with-window-manager: DISPLAY is not set" >&2
    exit 2
fi

config=/etc/xdg/openbox/rc.xml
openbox --sm-disable --config-file "$config" > "${TMPDIR:-/tmp}/openbox-${DISPLAY#:}.log" 2>&1 &
wm=$!
trap 'kill "$wm" 2> /dev/null || true; wait "$wm" 2> /dev/null || true' EXIT

# A window manager announces itself on the root window once it manages the
# screen; the tests start only then.
for _ in $(seq 1 100); do
    if xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id'; then
        break
    fi
    if ! kill -0 "$wm" 2> /dev/null; then
        echo "with-window-manager: openbox did not start:" >&2
        cat "${TMPDIR:-/tmp}/openbox-${DISPLAY#:}.log" >&2
        exit 1
    fi
    sleep 0.1
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id'; then
    echo "with-window-manager: openbox did not announce itself within 10 s" >&2
    exit 1
fi

"$@"
