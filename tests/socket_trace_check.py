#!/usr/bin/env python3
"""Runs CSocketTraceProbe under strace and checks that the system calls seen
after each of the probe's markers are exactly the calls the marker names, in
order, and that they show the marker's text.

usage: socket_trace_check.py PROBE
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

CALL = re.compile(r"^(\w+)\((.*)\)\s+= ")
MARKER = re.compile(r'^write\(-1, "(@@ .*)", \d+\)\s+= -1 EBADF')


def canonical(name, args):
    # On x86_64 glibc sends and receives without an address through sendto and
    # recvfrom; on i386 they show as send and recv.
    if name == "sendto" and args.endswith("NULL, 0"):
        return "send"
    if name == "recvfrom" and args.endswith("NULL, NULL"):
        return "recv"
    return "accept" if name == "accept4" else name


def segments(trace):
    current = None
    for line in trace:
        marker = MARKER.match(line)
        if marker:
            text = marker.group(1).encode("latin-1").decode("unicode_escape")
            parts = [p.strip() for p in text[3:].split("|")] + ["", ""]
            current = {"what": parts[0], "expected": parts[1].split(), "text": parts[2],
                       "calls": [], "lines": []}
            yield current
            continue
        call = CALL.match(line)
        if current is None or call is None or call.group(1) == "write":
            continue
        current["calls"].append(canonical(call.group(1), call.group(2)))
        current["lines"].append(line.strip())


def main():
    strace = shutil.which("strace")
    if strace is None:
        sys.exit("strace is not installed")
    env = dict(os.environ)
    # LeakSanitizer cannot run under ptrace.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    with tempfile.NamedTemporaryFile("r", suffix=".trace") as out:
        probe = subprocess.run([strace, "-qq", "-s", "200", "-o", out.name,
                                "-e", "trace=%network,%file,close,write", sys.argv[1]],
                               env=env, timeout=60)
        trace = out.read().splitlines()

    failures = checked = 0
    ended = False
    for segment in list(segments(trace)):
        if segment["what"] == "end":
            ended = True
            break
        if segment["what"] == "-":
            continue
        checked += 1
        ok = segment["calls"] == segment["expected"] and all(
            segment["text"] in line for line in segment["lines"])
        failures += not ok
        print("%s  %-70s expected [%s] saw [%s]" % ("ok  " if ok else "FAIL", segment["what"],
              " ".join(segment["expected"]), " ".join(segment["calls"])))
        if not ok:
            print("\n".join("      " + line for line in segment["lines"]))
    if probe.returncode != 0 or not ended:
        print("the probe did not run to its end (exit status %d)" % probe.returncode)
        failures += 1
    print("%d passed, %d failed" % (checked - min(failures, checked), failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
