#!/usr/bin/env python3
"""Measures the block phase of one update as the tester simulator saw it.

Follows the simulator's log while the update runs. The block phase lasts from the first data
block received to the acknowledgement of the last one sent, both timed by the simulator itself,
so a client's start-up and its 3 s pause before the bootloader talks do not count. The CPU time
of the given processes (all their threads) is sampled when the first block and the last
acknowledgement appear in the log, and the peak resident size of the first process is read at
the end.

Prints one line: <seconds> <us per block> <CPU percent of one core> <peak RSS in KiB>; with more
than one process, each one's share of the CPU figure goes to stderr.
Processes are given by id (--pid) or, for Wine, by name and prefix (--wine NAME): the processes
whose name starts with NAME and whose WINEPREFIX is --wine-prefix.
"""
import argparse
import os
import re
import sys
import time

LINE = re.compile(r"^\s*([0-9.]+) (rx|tx|--) \[\d+\][^#]*(?:#\s*(.*))?$")
BLOCK = re.compile(r"\bblock (\d+): ")
POLL_SECONDS = 0.002


def wine_processes(name, prefix):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/comm") as f:
                if not f.read().strip().startswith(name):
                    continue
            with open(f"/proc/{entry}/environ", "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if f"WINEPREFIX={prefix}".encode() in env:
            found.append(int(entry))
    return found


def cpu_nanoseconds(pid):
    """On-CPU time of the process's threads, from the scheduler's statistics."""
    total = 0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            try:
                with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                    total += int(f.read().split()[0])
            except OSError:
                pass  # a thread that just ended
    except OSError:
        pass
    return total


def peak_rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def follow(path, deadline):
    """Yields the log's lines as they are written."""
    while not os.path.exists(path):
        if time.monotonic() > deadline:
            return
        time.sleep(POLL_SECONDS)
    with open(path) as log:
        pending = ""
        while time.monotonic() < deadline:
            chunk = log.read()
            if not chunk:
                time.sleep(POLL_SECONDS)
                continue
            pending += chunk
            *lines, pending = pending.split("\n")
            yield from lines


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--log", required=True, help="the simulator's --log file")
    parser.add_argument("--blocks", type=int, required=True, help="blocks the image makes")
    parser.add_argument("--timeout", type=float, default=300)
    parser.add_argument("--pid", type=int, action="append", default=[])
    parser.add_argument("--wine", action="append", default=[], help="process name prefix")
    parser.add_argument("--wine-prefix", default=os.environ.get("WINEPREFIX", ""))
    args = parser.parse_args()

    last_block = f"block {args.blocks - 1}: "
    first_ms = last_ms = None
    pids = []
    start_each = end_each = names = []
    start_wall = None
    last_received = False
    blocks_seen = 0
    for line in follow(args.log, time.monotonic() + args.timeout):
        match = LINE.match(line)
        if not match:
            continue
        at, direction, note = float(match.group(1)), match.group(2), match.group(3) or ""
        if direction == "rx" and BLOCK.search(note):
            blocks_seen += 1
            if first_ms is None:
                first_ms = at
                pids = list(args.pid)
                for name in args.wine:
                    pids += wine_processes(name, args.wine_prefix)
                start_wall = time.monotonic()
                start_each = [cpu_nanoseconds(pid) for pid in pids]
                if len(pids) < len(args.pid) + len(args.wine):
                    print(f"not every process to watch was found: {pids}", file=sys.stderr)
                    return 1
                names = [open(f"/proc/{pid}/comm").read().strip() for pid in pids]
                print("watching " + ", ".join(f"{n} ({p})" for n, p in zip(names, pids)),
                      file=sys.stderr)
            if last_block in note:
                last_received = True
        elif direction == "tx" and note == "reply" and last_received:
            end_each = [cpu_nanoseconds(pid) for pid in pids]
            wall = time.monotonic() - start_wall
            last_ms = at
            rss = peak_rss_kib(pids[0]) if pids else 0
            break
    if last_ms is None:
        print(f"block phase not seen in {args.log} ({blocks_seen} blocks)", file=sys.stderr)
        return 1
    if blocks_seen != args.blocks:
        print(f"note: {blocks_seen} blocks received for {args.blocks} (resendings)", file=sys.stderr)
    seconds = (last_ms - first_ms) / 1000
    shares = [100 * (end - start) / 1e9 / wall if wall > 0 else 0
              for start, end in zip(start_each, end_each)]
    if len(pids) > 1:
        print("CPU by process: " + ", ".join(f"{n} {share:.1f} %" for n, share in zip(names, shares)),
              file=sys.stderr)
    cpu_percent = sum(shares)
    print(f"{seconds:.3f} {seconds * 1e6 / args.blocks:.1f} {cpu_percent:.1f} {rss}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
