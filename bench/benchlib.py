# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

"""Shared helpers of the benchmarks: where the build is, running a program
with a scenario, and CPU time and peak memory of a finished child."""

import json
import os
import statistics
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("BUILD_DIR", os.path.join(ROOT, "build"))
BIN = os.path.join(BUILD, "bin")
BENCH = os.path.join(BUILD, "bench")


def program(name):
    path = os.path.join(BIN, name)
    if not os.access(path, os.X_OK):
        raise SystemExit(f"{path} is missing: build first (./scripts/build)")
    return path


def scenario_file(scenario):
    f = tempfile.NamedTemporaryFile("w", suffix=".json", delete=False)
    json.dump(scenario, f)
    f.close()
    return f.name


def environment(scenario_path=None):
    env = {k: v for k, v in os.environ.items() if not k.startswith("KVSYSTEM_")}
    if scenario_path:
        env["KVSYSTEM_SCENARIO"] = scenario_path
    return env


def wait_with_usage(proc):
    """Waits for a child; returns (exit status, CPU seconds, peak RSS in KiB)."""
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return proc.returncode, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def median(values):
    return statistics.median(values)


def percentile(values, p):
    ordered = sorted(values)
    index = min(len(ordered) - 1, max(0, int(round(p / 100 * len(ordered) + 0.5)) - 1))
    return ordered[index]


def now():
    return time.perf_counter()


def cpu_seconds(pid):
    """User plus system CPU time of a running process, from /proc."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


SENSOR_DEMOS = ["lux-demo", "near-demo", "knock-demo", "posture-demo", "tilt-demo", "flux-demo",
                "heading-demo", "motion-demo"]
STATE_DEMOS = ["screen-demo", "powerstate-demo", "idle-demo", "heat-demo", "opmode-demo"]
