#!/usr/bin/env python3
"""Paired relay runs: each relay's CPU per input datagram against the reference's.

Usage: relay_pairs.py RESULTS_DIR

Reads RESULTS_DIR/<mode>-k<K>-<relay>-rep<N>/rows.tsv as bench/relay.sh writes
them. A pair is the reference relay and another relay at one rate in one
repetition: in "paired" mode they ran back to back, in rotating order.
The CPU is the scheduler's (sched_cpu_s: nanoseconds, every thread of the
relay's process), not the tick-based utime+stime. Prints, per K and rate, each
pair's ratio, their median, and their spread; a pair in which either relay lost
0.1% or more of the copies is listed but left out of the median.
"""
import csv
import os
import re
import statistics
import sys
from collections import defaultdict

LOSS_OK = 0.001
REF = "mmsg"


def load(root):
    runs = defaultdict(dict)  # (K, rate, rep) -> relay -> row
    for d in sorted(os.listdir(root)):
        m = re.fullmatch(r"(\w+?)-k(\d+)-(\w+)-rep(\d+)", d)
        path = os.path.join(root, d, "rows.tsv")
        if not m or not os.path.exists(path):
            continue
        with open(path) as f:
            for row in csv.DictReader(f, delimiter="\t"):
                sent = int(row["sent"])
                if sent <= 0:
                    continue
                runs[(int(m[2]), int(row["rate"]), int(m[4]))][m[3]] = {
                    "cpu_us": float(row["sched_cpu_s"]) / sent * 1e6,
                    "tick_us": float(row["cpu_ms_per_1k_in"]),
                    "loss": float(row["loss"]),
                }
    return runs


def spread(values):
    values = sorted(values)
    return f"{values[0]:.3f} to {values[-1]:.3f}" if values else "-"


def main(root):
    runs = load(root)
    relays = sorted({r for rows in runs.values() for r in rows if r != REF})
    if not runs or not relays:
        sys.exit(f"relay_pairs.py: no pairs with {REF} under {root}")
    loads = []
    if os.path.exists(os.path.join(root, "load.txt")):
        with open(os.path.join(root, "load.txt")) as f:
            loads = [float(line.split(": ")[1].split()[0]) for line in f if ": " in line]
    print(f"# Paired runs ({root})\n")
    print("Ratio = the relay's scheduler CPU per input datagram / relay_mmsg's at the same rate, "
          "measured back to back in rotating order. Pairs with 0.1% loss or more in either "
          "run are marked * and left out of the median.")
    if loads:
        print(f"Load average (1 min) at the start of each run: {min(loads):.1f} to {max(loads):.1f}, "
              f"median {statistics.median(loads):.1f}.")
    print()
    for relay in relays:
        print(f"## {relay} / {REF}\n")
        print("| K | rate/s | pairs | median | spread | each pair | µs CPU per datagram, ref / relay (median) |")
        print("|---:|---:|---:|---:|---|---|---|")
        every = []
        for K, rate in sorted({(k, r) for (k, r, _) in runs}):
            ratios, shown, ref_us, relay_us = [], [], [], []
            for (k, r, rep), rows in sorted(runs.items()):
                if (k, r) != (K, rate) or REF not in rows or relay not in rows:
                    continue
                a, b = rows[REF], rows[relay]
                ratio = b["cpu_us"] / a["cpu_us"] if a["cpu_us"] > 0 else float("nan")
                lossy = a["loss"] >= LOSS_OK or b["loss"] >= LOSS_OK
                shown.append(f"{ratio:.3f}{'*' if lossy else ''}")
                if not lossy:
                    ratios.append(ratio)
                    ref_us.append(a["cpu_us"])
                    relay_us.append(b["cpu_us"])
            if not shown:
                continue
            every += ratios
            median = f"{statistics.median(ratios):.3f}" if ratios else "-"
            cpu = (f"{statistics.median(ref_us):.1f} / {statistics.median(relay_us):.1f}" if ratios else "-")
            print(f"| {K} | {rate} | {len(ratios)} | {median} | {spread(ratios)} | {' '.join(shown)} | {cpu} |")
        if every:
            print(f"\nAll loss-free pairs: {len(every)}, median {statistics.median(every):.3f}, "
                  f"spread {spread(every)}.\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
