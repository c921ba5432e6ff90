#!/usr/bin/env python3
"""Runs the command given (CSocketTest's OperationsOnLoopback) under strace and
checks that the system calls after each of its marks are the calls the mark
names, in order, and show the mark's text; the command must succeed."""
import os
import re
import subprocess
import sys
import tempfile

CALL = re.compile(r"^(\w+)\((.*)\)\s+= ")
MARK = re.compile(r'^write\(-1, "@@ (.*)", \d+\)')


def canonical(name, args):
    # x86_64 glibc sends and receives without an address through sendto and
    # recvfrom; i386 shows send and recv.
    if name in ("sendto", "recvfrom") and args.endswith(("NULL, 0", "NULL, NULL")):
        return name[:4]
    return "accept" if name == "accept4" else name


# LeakSanitizer cannot run under ptrace.
env = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
with tempfile.NamedTemporaryFile("r") as out:
    run = subprocess.run(["strace", "-qq", "-s", "200", "-o", out.name, "-e",
                          "trace=%network,%file,close,write"] + sys.argv[1:], env=env, timeout=60)
    trace = out.read().splitlines()

segments = []  # [what, expected calls, text, calls seen, their lines]
for line in trace:
    mark, call = MARK.match(line), CALL.match(line)
    if mark:
        segments.append([part.strip() for part in (mark.group(1).split("|") + ["", ""])[:3]] + [[], ""])
    elif call and segments and call.group(1) != "write":
        segments[-1][3].append(canonical(*call.groups()))
        segments[-1][4] += "      " + line + "\n"

failures = 0 if run.returncode == 0 and segments else 1
for what, expected, text, calls, lines in segments:
    if what != "-":
        ok = calls == expected.split() and text in lines
        failures += not ok
        print("%s  %s: expected [%s], saw [%s]" % ("ok  " if ok else "FAIL", what, expected, " ".join(calls)))
        print("" if ok else lines, end="")
print("exit status %d; %d failed" % (run.returncode, failures))
sys.exit(1 if failures else 0)
