#!/usr/bin/env python3
"""Checks of a quarn-update trace against the package it sent.

  trace_checks.py <trace> <QUARN.bin> <expected exit> [full|elided] [cut]

Every line is one JSON object; the first is the header, every later one has a rising integer
"t"; each data block appears once per sending, as the bytes the package gives it (full) or as
its number, length and the CRC-32 of those bytes (elided); an update that completes names its
tester (the device ID) before the start request; the last line is the result with the expected
exit code, unless the trace was cut (the program was killed): then there is no result
and every line written is still whole. Prints the problem and exits 1 when a check fails.
"""
import json
import sys
import zlib


def block_bytes(image, number):
    data = image[number * 60:(number + 1) * 60]
    return bytes([0xFF, number & 0xFF, (number >> 8) & 0xFF]) + data


def main():
    trace, image_path, expected_exit = sys.argv[1], sys.argv[2], int(sys.argv[3])
    mode = sys.argv[4] if len(sys.argv) > 4 else "elided"
    cut = len(sys.argv) > 5 and sys.argv[5] == "cut"
    image = open(image_path, "rb").read()
    with open(trace, "rb") as f:
        raw = f.read()
    if not raw.endswith(b"\n"):
        sys.exit("the trace does not end with a whole line")
    lines = [json.loads(line) for line in raw.decode("utf-8").splitlines()]
    header = lines[0]
    if header.get("trace") != "quarn-update" or header.get("version") != 1:
        sys.exit(f"bad header: {header}")
    last_t = -1
    blocks_seen = set()
    start_seen = False
    for number, event in enumerate(lines[1:], 2):
        t = event.get("t")
        if not isinstance(t, int) or t < last_t:
            sys.exit(f"line {number}: t {t} does not rise from {last_t}")
        last_t = t
        if event.get("event") != "tx":
            continue
        if event.get("hex") == "ffffff":
            start_seen = True
            continue
        if not start_seen:
            continue
        if mode == "full":
            sent = bytes.fromhex(event["hex"])
            k = sent[1] | sent[2] << 8
            if sent != block_bytes(image, k):
                sys.exit(f"line {number}: block {k} is not the package's")
        else:
            if "hex" in event:
                sys.exit(f"line {number}: a block was recorded with its bytes")
            k = event["block"]
            expected = block_bytes(image, k)
            if event["length"] != len(expected):
                sys.exit(f"line {number}: block {k} length {event['length']}")
            if event["crc32"] != f"{zlib.crc32(expected):08x}":
                sys.exit(f"line {number}: block {k} crc32 {event['crc32']}")
        blocks_seen.add(k)
    results = [e for e in lines if e.get("event") == "result"]
    if cut:
        if results:
            sys.exit("a killed session has a result line")
        if not blocks_seen:
            sys.exit("the killed session's trace has no block")
        return
    if len(results) != 1 or lines[-1] is not results[0]:
        sys.exit("the result is not the one last line")
    if results[0].get("exit") != expected_exit:
        sys.exit(f"result {results[0]}, expected exit {expected_exit}")
    if expected_exit == 0 and len(blocks_seen) != (len(image) + 59) // 60:
        sys.exit(f"{len(blocks_seen)} blocks in the trace")
    # The unit is named once its device-ID reply is accepted, before the start request.
    names = [e.get("event") for e in lines]
    testers = [e for e in lines if e.get("event") == "tester"]
    if expected_exit == 0:
        if len(testers) != 1 or len(testers[0].get("deviceId", "")) != 24:
            sys.exit(f"tester events: {testers}")
        if names.index("tester") > next(i for i, e in enumerate(lines) if e.get("hex") == "ffffff"):
            sys.exit("the tester event comes after the start request")


if __name__ == "__main__":
    main()
