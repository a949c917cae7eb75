#!/usr/bin/env bash
# What KORVA Manager costs while nobody uses it: CPU time and wake-ups (the
# context switches of all its threads), each over a window of --seconds
# (30 by default), in two states:
#   no KORVA     - the program alone, on its start page;
#   KORVA, ABOUT - a virtual KORVA (korva-sim) connected, the ABOUT page shown.
# CPU comes from utime + stime in /proc/PID/stat (all threads, in clock
# ticks). A wake-up is a thread going to sleep and being woken: the
# voluntary_ctxt_switches of /proc/PID/task/*/status, summed over all
# threads; the threads that woke most are listed. The nonvoluntary ones (a
# running thread preempted, which depends on the rest of the machine more
# than on the program) are shown beside them.
#
# A benchmark, not a test: it prints figures and judges nothing. It runs the
# program on the current display, or on a virtual one (Xvfb) when DISPLAY is
# not set, with a home and runtime folder of its own.
#
#   scripts/measure-idle.sh [--seconds N] [--settle N] [--build DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=30
settle=5
build=build
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --settle) settle=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "measure-idle: unknown option $1" >&2; exit 2 ;;
    esac
done

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" --seconds "$seconds" --settle "$settle" --build "$build"
fi

program=$build/bin/korva-manager
sim=$build/bin/korva-sim
for needed in "$program" "$sim"; do
    [ -x "$needed" ] || { echo "measure-idle: $needed is missing (make build)" >&2; exit 1; }
done
command -v xdotool > /dev/null || { echo "measure-idle: xdotool is missing (make setup)" >&2; exit 1; }

scratch=$(mktemp -d)
program_pid=""
sim_pid=""
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2> /dev/null && wait "$program_pid" 2> /dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2> /dev/null && wait "$sim_pid" 2> /dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -m 700 "$scratch/home" "$scratch/runtime"
export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/runtime XDG_CONFIG_HOME=$scratch/home/.config
unset KORVA_TRACE
ticks_per_second=$(getconf CLK_TCK)

cpu_ticks() { # utime + stime of the whole process
    awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}

switches() { # "<total> <thread name> <count> ..." over all threads
    local total=0 line=""
    for task in /proc/"$1"/task/*; do
        local name count
        name=$(cat "$task/comm" 2> /dev/null) || continue
        count=$(awk '/^voluntary_ctxt_switches/ { v = $2 } /^nonvoluntary_ctxt_switches/ { n = $2 }
                     END { print v + 0 ":" n + 0 }' "$task/status" 2> /dev/null) || continue
        total=$((total + ${count%%:*}))
        line+="$(basename "$task"):${name// /_}:$count "
    done
    echo "$total $line"
}

measure() { # label
    local label=$1
    sleep "$settle"
    local cpu0 cpu1 sw0 sw1
    cpu0=$(cpu_ticks "$program_pid")
    sw0=$(switches "$program_pid")
    sleep "$seconds"
    cpu1=$(cpu_ticks "$program_pid")
    sw1=$(switches "$program_pid")
    python3 - "$label" "$seconds" "$ticks_per_second" "$cpu0" "$cpu1" "$sw0" "$sw1" << 'EOF'
import sys
label, seconds, hz = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
cpu = (float(sys.argv[5]) - float(sys.argv[4])) / hz
def parse(text):
    fields = text.split()
    threads = {}
    for item in fields[1:]:
        tid, name, voluntary, preempted = item.split(":")
        threads[tid] = (name, int(voluntary), int(preempted))
    return threads
before = parse(sys.argv[6])
after = parse(sys.argv[7])
woken = []
preempted = 0
for tid, (name, voluntary, involuntary) in after.items():
    _, v0, i0 = before.get(tid, (name, 0, 0))
    woken.append((voluntary - v0, name, tid))
    preempted += involuntary - i0
woken.sort(reverse=True)
busy = ", ".join(f"{name} {n / seconds:.1f}/s" for n, name, tid in woken if n > 0)
print(f"{label:14} CPU {100 * cpu / seconds:6.3f} % of a core ({cpu * 1000:.0f} ms in {seconds:.0f} s)"
      f"   wake-ups {sum(n for n, _, _ in woken) / seconds:6.2f} /s   preempted {preempted / seconds:5.2f} /s"
      f"   ({busy or 'no thread woke'})")
EOF
}

wait_for_window() {
    xdotool search --sync --onlyvisible --name '^KORVA Manager' 2> /dev/null | head -n 1
}

# No KORVA.
"$program" > "$scratch/program.log" 2>&1 &
program_pid=$!
wait_for_window > /dev/null
measure "no KORVA"
kill "$program_pid"; wait "$program_pid" 2> /dev/null || true
program_pid=""

# A virtual KORVA, the ABOUT page shown.
"$sim" --quiet > "$scratch/sim.log" 2>&1 &
sim_pid=$!
"$program" > "$scratch/program.log" 2>&1 &
program_pid=$!
window=$(wait_for_window)
sleep 2 # the device is found on the program's one-second detection round
xdotool mousemove --window "$window" 260 26 click 1
measure "KORVA, ABOUT"
