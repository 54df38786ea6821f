#!/usr/bin/env python3
"""Checks of quarn-update's output and of the port it leaves, shared by the end-to-end scripts.

  cli_checks.py json <file> <exit>   every line is one JSON object with an "event", the last is
                                     the only "result" and carries this exit code; a run that
                                     ends well ends its progress with the whole image
  cli_checks.py holds <file> <JSON object>
                                     some line of the file is a JSON object holding every member
                                     of the given one, with the same value
  cli_checks.py port-free <path>     the tty opens, locks and is made exclusive again at once,
                                     and no exclusive flag was left on it

Prints the problem and exits 1 when a check fails.
"""
import array
import fcntl
import json
import os
import sys
import termios

TIOCGEXCL = 0x80045440  # not in Python's termios module


def check_json(path, expected_exit):
    with open(path, encoding="utf-8", errors="strict") as f:
        lines = f.read().splitlines()
    if not lines:
        sys.exit("no JSON lines")
    events = []
    for number, line in enumerate(lines, 1):
        try:
            event = json.loads(line)
        except ValueError as error:
            sys.exit(f"line {number} is not JSON ({error}): {line!r}")
        if not isinstance(event, dict) or "event" not in event:
            sys.exit(f"line {number} has no event: {line!r}")
        events.append(event)
    last = events[-1]
    if last["event"] != "result" or last.get("exit") != expected_exit:
        sys.exit(f"the last line is not the result with exit {expected_exit}: {lines[-1]!r}")
    if any(e["event"] == "result" for e in events[:-1]):
        sys.exit("a result before the last line")
    progress = [e for e in events if e["event"] == "progress"]
    if expected_exit == 0 and progress and progress[-1]["bytes"] != progress[-1]["total"]:
        sys.exit("the last progress event is not the whole image")


def check_holds(path, wanted_text):
    wanted = json.loads(wanted_text)
    with open(path, encoding="utf-8", errors="strict") as f:
        for line in f.read().splitlines():
            try:
                event = json.loads(line)
            except ValueError:
                continue
            if isinstance(event, dict) and all(k in event and event[k] == v for k, v in wanted.items()):
                return
    sys.exit(f"no line holds {wanted_text}")


def check_port_free(path):
    # Root opens a tty past a left exclusive flag, so the flag itself is read back.
    fd = os.open(path, os.O_RDWR | os.O_NONBLOCK | os.O_NOCTTY)
    try:
        flag = array.array("i", [1])
        fcntl.ioctl(fd, TIOCGEXCL, flag, True)
        if flag[0]:
            sys.exit("the port was left exclusive")
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            sys.exit("the port is still locked")
        fcntl.ioctl(fd, termios.TIOCEXCL)
        fcntl.ioctl(fd, termios.TIOCNXCL)
    finally:
        os.close(fd)


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "json":
        check_json(sys.argv[2], int(sys.argv[3]))
    elif len(sys.argv) == 4 and sys.argv[1] == "holds":
        check_holds(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 3 and sys.argv[1] == "port-free":
        check_port_free(sys.argv[2])
    else:
        sys.exit(__doc__)
