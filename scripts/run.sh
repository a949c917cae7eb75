#!/usr/bin/env bash
# Starts KORVA Manager from the build tree.
#
# When no KORVA is there, a virtual one (build/bin/korva-sim, with the demo
# projects of its default store) runs beside the program for as long as the
# program does, so that a newcomer sees a connected device with projects and
# a pattern. A real KORVA counts as there when a hidraw node's HID device is
# USB (bus 0003) with vendor 0x7C4E and product 0x0A31, that is when a
# /sys/class/hidraw/*/device/uevent holds HID_ID=0003:00007C4E:00000A31.
# A virtual KORVA that is already running counts too.
#
# KORVA_NO_SIM=1 (or --no-sim) starts the program alone, for real hardware only.
# KORVA_BUILD_DIR chooses another build tree than build/ (the tests use it).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${KORVA_BUILD_DIR:-build}
program=$build/bin/korva-manager
sim=$build/bin/korva-sim
tool=$build/bin/korva

use_sim=1
if [ "${1:-}" = "--no-sim" ]; then
    use_sim=0
    shift
fi
if [ -n "${KORVA_NO_SIM:-}" ] && [ "${KORVA_NO_SIM}" != 0 ]; then
    use_sim=0
fi

real_korva_plugged() {
    local uevent
    for uevent in /sys/class/hidraw/*/device/uevent; do
        [ -r "$uevent" ] || continue
        if grep -qix 'HID_ID=0003:00007C4E:00000A31' "$uevent"; then
            return 0
        fi
    done
    return 1
}

if [ "$use_sim" = 1 ]; then
    if real_korva_plugged; then
        echo "run: a KORVA is plugged in; no virtual KORVA started"
        use_sim=0
    elif [ -x "$tool" ] && "$tool" devices > /dev/null 2>&1; then
        echo "run: a virtual KORVA is running already; no other started"
        use_sim=0
    elif [ ! -x "$sim" ]; then
        echo "run: $sim is missing; starting KORVA Manager alone" >&2
        use_sim=0
    fi
fi

if [ "$use_sim" = 0 ]; then
    exec "$program" "$@"
fi

# The virtual KORVA goes when the program goes, however it ends (window
# closed, Ctrl+C, kill). It is stopped by its process id only.
sim_pid=""
stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2> /dev/null || true
        wait "$sim_pid" 2> /dev/null || true
        sim_pid=""
    fi
}
trap stop_sim EXIT
trap 'stop_sim; exit 130' INT
trap 'stop_sim; exit 143' TERM
trap 'stop_sim; exit 129' HUP

echo "run: no KORVA plugged in; starting a virtual one (korva-sim) with its demo projects."
echo "run: KORVA_NO_SIM=1 make run starts KORVA Manager alone."
"$sim" --quiet &
sim_pid=$!

# The program runs in the background so that the traps above can act while
# it runs; it ends on the same signals and the script passes them on.
"$program" "$@" &
program_pid=$!
trap 'kill -INT "$program_pid" 2> /dev/null || true' INT
trap 'kill -TERM "$program_pid" 2> /dev/null || true' TERM
trap 'kill -HUP "$program_pid" 2> /dev/null || true' HUP

status=0
while true; do
    set +e
    wait "$program_pid"
    status=$?
    set -e
    # wait returns early when a trap ran; the program may still be ending.
    if ! kill -0 "$program_pid" 2> /dev/null; then
        break
    fi
done
stop_sim
exit "$status"
