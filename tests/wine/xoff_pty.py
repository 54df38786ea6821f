#!/usr/bin/env python3
"""A pty that stops its output on XOFF, for the adapter check's write time-out (issue 16, item 4).

Usage: xoff_pty.py <link path>
Publishes the pty's slave as <link path> and prints "ready". Once the slave's output flow control
(IXON) is on, as the adapter check sets it through Wine, it sends one XOFF from the other end, so
the slave's output stops and a write to it never completes. It never reads what is written. Runs
until it is terminated.
"""
import os
import signal
import sys
import termios
import time


def main():
    link = sys.argv[1]
    master, slave = os.openpty()
    attributes = termios.tcgetattr(slave)
    attributes[0] &= ~termios.IXON  # iflag: off until the check turns it on
    termios.tcsetattr(slave, termios.TCSANOW, attributes)
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)
    print("ready", flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    sent = False
    try:
        while True:
            on = termios.tcgetattr(slave)[0] & termios.IXON
            if on and not sent:
                os.write(master, b"\x13")
                sent = True
            elif not on:
                sent = False  # turned off and on again: stop it again
            time.sleep(0.01)
    finally:
        if os.path.islink(link):
            os.unlink(link)


if __name__ == "__main__":
    main()
