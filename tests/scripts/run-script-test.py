#!/usr/bin/env python3
"""scripts/run.sh, as `make run` starts it: with no KORVA plugged in it starts a
virtual one beside KORVA Manager and stops it when the program ends, on Ctrl+C
too; KORVA_NO_SIM=1 starts the program alone.

    run-script-test.py SOURCE_DIR BUILD_DIR
"""
import glob
import os
import signal
import subprocess
import sys
import tempfile
import time

source, build = sys.argv[1], sys.argv[2]


def fail(message):
    print("run script test: " + message, file=sys.stderr)
    end_leftovers()
    sys.exit(1)


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def real_korva_plugged():
    for uevent in glob.glob("/sys/class/hidraw/*/device/uevent"):
        try:
            with open(uevent) as file:
                if "HID_ID=0003:00007C4E:00000A31" in file.read().upper():
                    return True
        except OSError:
            pass
    return False


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie waiting for its parent counts as gone.
    with open("/proc/%d/stat" % pid) as file:
        return file.read().split(")")[-1].split()[0] != "Z"


def children(pid):
    out = subprocess.run(["ps", "-o", "pid=,comm=", "--ppid", str(pid)], capture_output=True, text=True).stdout
    return {name: int(number) for number, name in (line.split() for line in out.splitlines())}


def as_foreground_job():
    # As a terminal starts `make run`: default signal handling, a process
    # group of its own that Ctrl+C reaches as a whole.
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, signal.SIG_DFL)
    os.setpgrp()


if real_korva_plugged():
    print("a real KORVA is plugged in: skipped")
    sys.exit(77)

# Whatever a failed check leaves running is ended, by its process id.
seen = set()


def end_leftovers():
    for pid in seen:
        try:
            if alive(pid):
                os.kill(pid, signal.SIGKILL)
        except (ProcessLookupError, FileNotFoundError):
            pass


with tempfile.TemporaryDirectory(prefix="korva-run-test-") as work:
    devices = os.path.join(work, "devices")
    env = dict(os.environ, HOME=os.path.join(work, "home"), XDG_CONFIG_HOME=os.path.join(work, "home/.config"),
               XDG_DATA_HOME=os.path.join(work, "home/.local/share"), KORVA_VIRTUAL_DIR=devices,
               KORVA_BUILD_DIR=build)
    env.pop("KORVA_NO_SIM", None)

    def start(extra=None):
        return subprocess.Popen([os.path.join(source, "scripts/run.sh")], env=dict(env, **(extra or {})),
                                preexec_fn=as_foreground_job, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                text=True)

    def sockets():
        return glob.glob(os.path.join(devices, "*.sock"))

    def started(run):
        seen.add(run.pid)
        if not wait_for(lambda: len(children(run.pid)) == 2 and len(sockets()) == 1, 10):
            seen.update(children(run.pid).values())
            fail("the program and korva-sim did not both start: %s" % children(run.pid))
        pids = children(run.pid)
        seen.update(pids.values())
        return pids

    # Ctrl+C reaches the whole job: the program and the virtual KORVA end.
    run = start()
    pids = started(run)
    listed = subprocess.run([os.path.join(build, "bin/korva"), "devices"], env=env, capture_output=True, text=True)
    if "MELDRA KORVA" not in listed.stdout:
        fail("korva devices does not list the virtual KORVA: " + listed.stdout + listed.stderr)
    os.killpg(run.pid, signal.SIGINT)
    try:
        run.communicate(timeout=20)
    except subprocess.TimeoutExpired:
        run.kill()
        fail("run.sh did not end on Ctrl+C")
    if any(alive(pid) for pid in pids.values()) or sockets():
        fail("left running after Ctrl+C: %s %s" % (pids, sockets()))

    # The program ends on its own (its window closed): the virtual KORVA goes too.
    run = start()
    pids = started(run)
    os.kill(pids["korva-manager"], signal.SIGTERM)
    try:
        output = run.communicate(timeout=20)[0]
    except subprocess.TimeoutExpired:
        run.kill()
        fail("run.sh did not end with the program")
    if run.returncode != 0 or alive(pids["korva-sim"]) or sockets():
        fail("after the program: exit %s, %s, %s\n%s" % (run.returncode, pids, sockets(), output))

    # Real hardware only: no virtual KORVA.
    run = start({"KORVA_NO_SIM": "1"})
    seen.add(run.pid)
    time.sleep(1.5)
    if sockets() or run.poll() is not None:
        run.kill()
        fail("KORVA_NO_SIM=1: %s, exit %s" % (sockets(), run.returncode))
    run.send_signal(signal.SIGTERM)
    run.communicate(timeout=20)
    if sockets():
        fail("KORVA_NO_SIM=1 left " + str(sockets()))

print("run script test passed")
