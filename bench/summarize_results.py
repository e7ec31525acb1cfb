#!/usr/bin/python3
"""Prints the medians, spreads, ratios and target verdicts of a bench/run.sh results file.

    summarize_results.py RESULTS N TASKS TASK_REQUESTS

RESULTS holds "KEY<TAB>VALUE" lines, one per measurement: times in nanoseconds, peak memory
(keys ending in .rss) in KiB, input sizes (.input) in bytes. A ratio is tav's figure over the
other tool's (time or memory), so below 1 means tav is faster or smaller.
"""

import statistics
import sys
from collections import defaultdict


def load(path):
    values = defaultdict(list)
    with open(path, encoding="utf-8") as f:
        for line in f:
            key, value = line.rstrip("\n").split("\t")
            values[key].append(int(value))
    return values


def spread(xs, scale, digits):
    """median (min-max) of xs / scale."""
    m = statistics.median(xs) / scale
    return f"{m:.{digits}f} ({min(xs) / scale:.{digits}f}-{max(xs) / scale:.{digits}f})"


def verdict(ratio, limit):
    return f"{ratio:.2f} (target <= {limit}: {'met' if ratio <= limit else 'MISSED'})"


def sequential(values, n):
    for mode, title in (("auth", "Basic auth, SHA1 password file"), ("noauth", "no auth")):
        key = f"seq.{mode}"
        if f"{key}.tav" not in values:
            continue
        print(f"\n1. Sequential, one task, {n} GETs, {title}; median (min-max) of "
              f"{len(values[key + '.tav'])} rounds")
        print(f"  {'client':34} {'ms':>22} {'us/request':>22} {'requests/s':>10}")
        rows = [("tav-req whole run", f"{key}.tav"), ("tav-req in-child loop", f"{key}.tav.loop"),
                ("curl, one invocation", f"{key}.curl"),
                ("libcurl loop, whole process", f"{key}.libcurl"),
                ("libcurl loop, its own clock", f"{key}.libcurl.self"),
                ("ab -c 1 -k, whole process", f"{key}.ab"),
                ("ab -c 1 -k, its own clock", f"{key}.ab.self")]
        for label, k in rows:
            xs = values[k]
            rate = n / (statistics.median(xs) / 1e9)
            print(f"  {label:34} {spread(xs, 1e6, 1):>22} {spread(xs, 1e3 * n, 1):>22} "
                  f"{rate:>10.0f}")
        med = {k: statistics.median(values[k]) for _, k in rows}
        print("  ratios (time of tav-req / time of the other):")
        print(f"    tav/curl, whole runs:                    "
              f"{verdict(med[key + '.tav'] / med[key + '.curl'], 1.0)}")
        print(f"    tav/curl, tav in-child loop:             "
              f"{med[key + '.tav.loop'] / med[key + '.curl']:.2f}")
        print(f"    tav/ab, whole runs:                      "
              f"{verdict(med[key + '.tav'] / med[key + '.ab'], 1.5)}")
        print(f"    tav/ab, in-child loop vs ab's own clock: "
              f"{verdict(med[key + '.tav.loop'] / med[key + '.ab.self'], 1.5)}")
        print(f"    tav in-child loop / libcurl loop:        "
              f"{med[key + '.tav.loop'] / med[key + '.libcurl.self']:.2f} (what tav adds to libcurl)")
        print(f"    libcurl loop / ab, own clocks:           "
              f"{med[key + '.libcurl.self'] / med[key + '.ab.self']:.2f} (libcurl's own cost)")


def fanout(values, tasks, task_requests):
    if "fanout.tav" not in values:
        return
    total = tasks * task_requests
    print(f"\n2. Fan-out, {tasks} tasks x {task_requests} GETs, Basic auth; median (min-max) of "
          f"{len(values['fanout.tav'])} rounds")
    for label, k in (("tav-req, one run", "fanout.tav"),
                     (f"{tasks} parallel curl processes", "fanout.curl")):
        xs = values[k]
        print(f"  {label:34} {spread(xs, 1e6, 1):>22} ms  "
              f"{total / (statistics.median(xs) / 1e9):>7.0f} requests/s")
    ratio = statistics.median(values["fanout.tav"]) / statistics.median(values["fanout.curl"])
    print(f"  tav/curl (wall time): {verdict(ratio, 1.0)}")


def checker(values):
    scales = sorted(int(k.split(".")[1]) for k in values if k.endswith(".input"))
    if not scales:
        return
    print("\n3. Checker scale; median (min-max) wall time in ms and peak RSS in MiB")
    print(f"  {'entries':>8} {'input MiB':>9} {'tav-rep ms':>24} {'parse-only ms':>24} "
          f"{'tav-rep MiB':>20} {'parse-only MiB':>20}")
    for n in scales:
        k = f"checker.{n}"
        size = values[k + ".input"][0]
        print(f"  {n:>8} {size / 2**20:>9.1f} {spread(values[k + '.rep'], 1e6, 1):>24} "
              f"{spread(values[k + '.parse'], 1e6, 1):>24} "
              f"{spread(values[k + '.rep.rss'], 1024, 1):>20} "
              f"{spread(values[k + '.parse.rss'], 1024, 1):>20}")
    print("  ratios:")
    for n in scales:
        k = f"checker.{n}"
        time_ratio = statistics.median(values[k + ".rep"]) / statistics.median(values[k + ".parse"])
        memory_ratio = statistics.median(values[k + ".rep.rss"]) * 1024 / values[k + ".input"][0]
        print(f"    {n:>8}: tav-rep/parse-only time {verdict(time_ratio, 2.0)}; "
              f"tav-rep peak RSS/input {verdict(memory_ratio, 3.0)}")


def main():
    path, n, tasks, task_requests = sys.argv[1], *map(int, sys.argv[2:5])
    values = load(path)
    sequential(values, n)
    fanout(values, tasks, task_requests)
    checker(values)


if __name__ == "__main__":
    main()
