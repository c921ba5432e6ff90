#!/usr/bin/env python3
"""Runs one benchmark program against two builds of the library in turn and
prints, for every case, the median of each build's round medians, their ratio
and each build's spread over the rounds. The builds take turns, so that a
machine that slows down or speeds up meanwhile weighs on both alike; the
program's own floors, which no library build changes, show what is noise.

    bench/compare.py build/native/bench/CStringBench build/native build/unhardened \\
        [rounds] [benchmark flags...]

Each build is chosen through LD_LIBRARY_PATH, which goes before the program's
own search path (RUNPATH).
"""
import json
import os
import statistics
import subprocess
import sys


def run(program, libdir, flags):
    env = dict(os.environ, LD_LIBRARY_PATH=os.path.abspath(libdir))
    report = subprocess.run(
        [program, "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
         "--benchmark_format=json"] + flags,
        env=env, check=True, capture_output=True, text=True).stdout
    return {b["run_name"]: b["real_time"] for b in json.loads(report)["benchmarks"]
            if b.get("aggregate_name") == "median"}


def main():
    program, first, second = sys.argv[1:4]
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    flags = sys.argv[5:]
    times = {}  # case -> (first build's medians, second build's)
    for _ in range(rounds):
        for side, libdir in enumerate((first, second)):
            for case, time in run(program, libdir, flags).items():
                times.setdefault(case, ([], []))[side].append(time)
    print("| case | %s | %s | ratio | spread %s | spread %s |" % (first, second, first, second))
    print("|---|---|---|---|---|---|")
    for case, (a, b) in times.items():
        ma, mb = statistics.median(a), statistics.median(b)
        print("| %s | %.2f | %.2f | %.2f | %.2f to %.2f | %.2f to %.2f |"
              % (case, ma, mb, ma / mb, min(a), max(a), min(b), max(b)))


if __name__ == "__main__":
    main()
