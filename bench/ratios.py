#!/usr/bin/env python3
"""Turns a Google Benchmark JSON report into a table of medians and ratios.

Benchmarks are named <case>/<implementation>[/<argument>]. Within each case and
argument, the library's implementation (the name starting with "C" or
"tandel") is compared with every other one: the floor and the standard peers.

    build/native/bench/CStringBench --benchmark_repetitions=5 \\
        --benchmark_report_aggregates_only=true --benchmark_format=json | bench/ratios.py
"""
import json
import sys
from collections import OrderedDict


def main():
    report = json.load(open(sys.argv[1]) if len(sys.argv) > 1 else sys.stdin)
    groups = OrderedDict()
    for run in report["benchmarks"]:
        if run.get("aggregate_name", "median") != "median":
            continue
        name = run.get("run_name", run["name"])
        parts = name.split("/")
        case, impl, arg = parts[0], parts[1], "/".join(parts[2:])
        groups.setdefault((case, arg), OrderedDict())[impl] = run["real_time"], run["time_unit"]
    print("| case | implementation | median | ratio |")
    print("|---|---|---|---|")
    for (case, arg), impls in groups.items():
        label = case + (" " + arg if arg else "")
        ours = [i for i in impls if i.startswith(("C", "tandel"))]
        for impl, (time, unit) in impls.items():
            ratio = ""
            if ours and impl not in ours:
                ratio = "%s / %s = %.2f" % (ours[0], impl, impls[ours[0]][0] / time)
            print("| %s | %s | %.1f %s | %s |" % (label, impl, time, unit, ratio))


if __name__ == "__main__":
    main()
