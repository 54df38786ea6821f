#!/usr/bin/env python3
"""Prints the benchmark's results as tables: one per run, and the medians when there are more.

Reads the results file scripts/bench.sh writes, one row a line, tab-separated:
run, row, pace, blocks, seconds, us per block, CPU percent, peak RSS in KiB (or FAILED).
The ratio to the floor is the floor's time per block over the row's, in the same run and pace:
1.00 is as fast as the floor, 0.50 takes twice as long.
"""
import statistics
import sys

HEADER = ("row", "pace", "blocks", "seconds", "us/block", "ratio to floor", "CPU", "peak RSS")


def read(path):
    runs = {}
    with open(path) as f:
        for line in f:
            run, row, pace, blocks, *figures = line.rstrip("\n").split("\t")
            entry = {"row": row, "pace": pace, "blocks": blocks, "failed": figures == ["FAILED"]}
            if not entry["failed"]:
                entry.update(zip(("seconds", "us", "cpu", "rss"), map(float, figures)))
            runs.setdefault(run, []).append(entry)
    for entries in runs.values():
        floors = {e["pace"]: e for e in entries if e["row"] == "floor" and not e["failed"]}
        for e in entries:
            floor = floors.get(e["pace"])
            if not e["failed"] and floor:
                e["ratio"] = floor["us"] / e["us"]
    return runs


def cells(e):
    if e["failed"]:
        return (e["row"], e["pace"], e["blocks"], "FAILED", "", "", "", "")
    ratio = f"{e['ratio']:.2f}" if "ratio" in e else "-"
    return (e["row"], e["pace"], e["blocks"], f"{e['seconds']:.3f}", f"{e['us']:.0f}", ratio,
            f"{e['cpu']:.1f} %", f"{e['rss'] / 1024:.1f} MB")


def show(title, rows):
    table = [HEADER] + [cells(e) for e in rows]
    widths = [max(len(r[i]) for r in table) for i in range(len(HEADER))]
    print(title)
    for i, r in enumerate(table):
        print(" | ".join(c.ljust(w) if j < 2 else c.rjust(w) for j, (c, w) in
                         enumerate(zip(r, widths))).rstrip())
        if i == 0:
            print("-|-".join("-" * w for w in widths))
    print()


def medians(runs):
    keyed = {}
    for entries in runs.values():
        for e in entries:
            keyed.setdefault((e["row"], e["pace"], e["blocks"]), []).append(e)
    rows = []
    for (row, pace, blocks), entries in keyed.items():
        good = [e for e in entries if not e["failed"]]
        median = {"row": row, "pace": pace, "blocks": blocks, "failed": not good}
        for field in ("seconds", "us", "cpu", "rss", "ratio"):
            values = [e[field] for e in good if field in e]
            if values:
                median[field] = statistics.median(values)
        rows.append(median)
    return rows


def main():
    runs = read(sys.argv[1])
    for run, entries in runs.items():
        show(f"run {run}", entries)
    if len(runs) > 1:
        show(f"median of {len(runs)} runs", medians(runs))


if __name__ == "__main__":
    main()
