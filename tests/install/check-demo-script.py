#!/usr/bin/env python3
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

"""scripts/demo on a terminal: keys typed before the program starts (during
the build) are dropped, so lux-demo shows readings and ends only on the
Enter typed after them.
    check-demo-script.py SOURCE_DIR BUILD_DIR"""
import os
import pty
import re
import select
import sys
import time

source_dir, build_dir = sys.argv[1], sys.argv[2]
pid, fd = pty.fork()
if pid == 0:
    os.environ["BUILD_DIR"] = build_dir
    for name in ("KVSYSTEM_SCENARIO", "KVSYSTEM_BACKEND", "KVSYSTEM_TRACE", "KVSYSTEM_RECORD"):
        os.environ.pop(name, None)
    os.execv(os.path.join(source_dir, "scripts", "demo"), ["demo", "lux-demo"])
# A key and Enter pressed while the build runs: a whole line waits in the
# terminal's queue for the first program that reads it.
os.write(fd, b"x\n")


def read_until(pattern, seconds):
    """Output until pattern (a regular expression) appears; everything read
    when the time is up."""
    out = b""
    deadline = time.monotonic() + seconds
    while not re.search(pattern, out) and time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 1)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            out += chunk
    return out


status = 0
# Three readings ("[ALS]: [<time stamp>] <n> lux"), or the end of a demo
# that took the typed line for its Enter.
reading = rb"\[ALS\]: \[\d+\] \d+ lux"
out = read_until(rb"exiting\.\.|(" + reading + rb"[^\[]*){3}", 600)
if len(re.findall(reading, out)) < 3 or b"exiting.." in out:
    print("FAIL: lux-demo did not stream readings after keys typed during the build:", out[-300:], file=sys.stderr)
    status = 1
else:
    os.write(fd, b"\n")
    out += read_until(b"exiting..", 60)
    if b"exiting.." not in out:
        print("FAIL: lux-demo did not end on Enter:", out[-300:], file=sys.stderr)
        status = 1
try:
    os.kill(pid, 9)
except ProcessLookupError:
    pass
os.waitpid(pid, 0)
sys.exit(status)
