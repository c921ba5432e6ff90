#!/usr/bin/env python3
"""Whole-process timing of `tandel-profile get/set` against `git config --file`
on equivalent files (one section, N entries, the middle key). Prints medians
and ratios as a markdown table.

    bench/profile_cli.py build/native/tools/tandel-profile [runs]
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time


def median_seconds(command, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    tool = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    print("| lines | operation | tandel-profile | git config | ratio |")
    print("|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as directory:
        for lines in (10, 1000, 10000):
            ours = os.path.join(directory, "tandel.rc")
            theirs = os.path.join(directory, "git.config")
            with open(ours, "w") as a, open(theirs, "w") as b:
                a.write("[section]\n")
                b.write("[section]\n")
                for i in range(lines - 1):
                    a.write("key%d=value%d\n" % (i, i))
                    b.write("\tkey%d = value%d\n" % (i, i))
            key = "key%d" % ((lines - 1) // 2)
            cases = [
                ("get", [tool, "-f", ours, "get", "section", key],
                 ["git", "config", "--file", theirs, "section." + key]),
                ("set", [tool, "-f", ours, "set", "section", key, "changed"],
                 ["git", "config", "--file", theirs, "section." + key, "changed"]),
            ]
            for name, mine, git in cases:
                a = median_seconds(mine, runs)
                b = median_seconds(git, runs)
                print("| %d | %s | %.2f ms | %.2f ms | %.2f |" % (lines, name, a * 1e3, b * 1e3, a / b))


if __name__ == "__main__":
    main()
