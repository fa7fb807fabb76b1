#!/usr/bin/env python3
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

"""Runs every program of the suite once under Valgrind's memcheck, through
an ordinary run on a scenario file (sensor demos end on Enter, system-state
demos on Ctrl+C, charge-recorder after a few rows), and fails on any invalid
read or write, use of uninitialised values, or leak other than the objects
that main() keeps until the process ends (tools/memcheck.supp)."""

import os
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(os.environ.get("BUILD_DIR", os.path.join(ROOT, "build")), "bin")

SCENARIO = """{
  "als": {"readings": [{"timestamp": 1, "value": 5}, {"at": 10, "timestamp": 2, "value": 6}]},
  "proximity": {"readings": [{"timestamp": 1, "value": 1}], "thread": "worker"},
  "tap": {"readings": [{"timestamp": 1, "firstValue": 1, "secondValue": 0}]},
  "orientation": {"readings": [{"timestamp": 1, "value": 3}, {"at": 5, "value": 9}]},
  "rotation": {"current": {"timestamp": 1, "x": 1, "y": 2, "z": 3}, "readings": [{"x": 4}], "thread": "worker"},
  "magnetometer": {"current": {"level": 2}, "readings": [{"x": 1, "rx": 2, "level": 3}]},
  "compass": {"readings": [{"timestamp": "5000000000", "firstValue": 90, "secondValue": 3}], "thread": "worker"},
  "accelerometer": {"readings": [{"timestamp": 1, "x": -1, "y": 2, "z": 980}]},
  "displayState": {"changes": [{"at": 1, "value": 0}]},
  "systemState": {"onSet": {"2": [5]}, "indications": [{"at": 1, "value": 3}]},
  "activity": {"changes": [{"at": 1, "value": 0}]},
  "thermal": {"get": 1},
  "battery": {"voltage": [3900, 3890], "chargerType": 7}
}"""

# program: (what to wait for on the merged output, how it ends)
PROGRAMS = {
    "lux-demo": (b"lux", "enter"),
    "near-demo": (b"[Proximity]", "enter"),
    "knock-demo": (b"[Tap]", "enter"),
    "posture-demo": (b"Unknown", "enter"),
    "tilt-demo": (b"Starting sensor", "enter"),
    "flux-demo": (b"Starting sensor", "enter"),
    "heading-demo": (b"Compass changed", "enter"),
    "motion-demo": (b"Time:", "enter"),
    "screen-demo": (b"State changed to:", "interrupt"),
    "powerstate-demo": (b"System State changed to:", "interrupt"),
    "idle-demo": (b"Activity changed to:", "interrupt"),
    "heat-demo": (b"Try to raise the CPU temperature...", "interrupt"),
    "opmode-demo": (b"not been implemented yet", "interrupt"),
    "charge-recorder": (b", 3890, ", "interrupt"),  # the second row's voltage
}


def run(name, scenario, logdir):
    want, how = PROGRAMS[name]
    log = os.path.join(logdir, name + ".log")
    argv = ["valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite,indirect",
            "--errors-for-leak-kinds=definite", "--track-origins=yes", "--error-exitcode=99",
            "--suppressions=" + os.path.join(ROOT, "tools", "memcheck.supp"), "--log-file=" + log,
            os.path.join(BIN, name)]
    if name == "charge-recorder":
        argv.append("--interval=1")
    env = {k: v for k, v in os.environ.items() if not k.startswith("KVSYSTEM_")}
    env["KVSYSTEM_SCENARIO"] = scenario
    proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
    seen = b""
    deadline = time.monotonic() + 120
    os.set_blocking(proc.stdout.fileno(), False)
    while want not in seen and time.monotonic() < deadline and proc.poll() is None:
        time.sleep(0.05)
        try:
            seen += proc.stdout.read() or b""
        except BlockingIOError:
            pass
    if want not in seen:
        proc.kill()
        proc.wait()
        return f"never wrote {want!r} (got {seen[-200:]!r})", log
    if how == "enter":
        proc.stdin.write(b"\n")
        proc.stdin.flush()
    else:
        proc.send_signal(signal.SIGINT)
    try:
        proc.wait(timeout=120)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        return "did not end", log
    with open(log) as f:
        report = f.read()
    if proc.returncode == 99 or "ERROR SUMMARY: 0 errors" not in report:
        return "memcheck found errors", log
    return None, log


def main():
    names = sys.argv[1:] or [n for n in PROGRAMS if os.access(os.path.join(BIN, n), os.X_OK)]
    logdir = tempfile.mkdtemp(prefix="memcheck-")
    with open(os.path.join(logdir, "scenario.json"), "w") as f:
        f.write(SCENARIO)
    failed = 0
    for name in names:
        problem, log = run(name, os.path.join(logdir, "scenario.json"), logdir)
        with open(log) as f:
            lines = [l for l in f if "definitely lost:" in l or "indirectly lost:" in l or "ERROR SUMMARY" in l
                     or "suppressed:" in l]
        summary = " | ".join(" ".join(l.split()[1:]) for l in lines)
        print(f"{name:16} {'FAIL: ' + problem if problem else 'clean'}  {summary}")
        if problem:
            failed += 1
            print(f"  see {log}")
    print(f"{len(names) - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
