#!/usr/bin/env python3
"""Runs a Windows program under Wine with a COM port that is a pseudo-terminal, and plays a small
instrument on its far side: every line it receives is answered with the line and " OK".

usage: with-com-pty.py COMn program [arguments...]

The port's name is linked in the Wine prefix (dosdevices/comn -> the pseudo-terminal) and handed
to the program as CORVANE_TEST_COM. Nothing but the pseudo-terminal is opened: no real port.
"""
import os
import pty
import subprocess
import sys
import threading
import tty


def serve(master):
    pending = b""
    while True:
        try:
            data = os.read(master, 4096)
        except OSError:
            return
        if not data:
            return
        pending += data
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            os.write(master, line.rstrip(b"\r") + b" OK\r\n")


class ComPort:
    """The COM name linked to a fresh pseudo-terminal with the instrument on its far side, while
    the block runs."""

    def __init__(self, com):
        self.com = com

    def __enter__(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
        devices = os.path.join(prefix, "dosdevices")
        os.makedirs(devices, exist_ok=True)
        self.link = os.path.join(devices, self.com.lower())
        if os.path.lexists(self.link):
            os.remove(self.link)
        os.symlink(os.ttyname(self.slave), self.link)
        # The slave stays open here too: the far side then sees no hang-up between two programs
        # that open the port one after the other.
        threading.Thread(target=serve, args=(self.master,), daemon=True).start()
        return self

    def __exit__(self, *exc):
        os.remove(self.link)
        os.close(self.master)
        os.close(self.slave)


def main():
    com, program = sys.argv[1], sys.argv[2:]
    with ComPort(com):
        return subprocess.call(program, env=dict(os.environ, CORVANE_TEST_COM=com.upper()))


if __name__ == "__main__":
    sys.exit(main())
