#!/usr/bin/env python3
"""The headless runner built for Windows, end to end under Wine: corvane-batch.exe runs scripts
against a COM port that is a pseudo-terminal (the instrument of with-com-pty.py on its far side),
and each run's exit code and standard output are checked.

usage: batch-end-to-end.py WINE corvane-batch.exe
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import importlib

compty = importlib.import_module("with-com-pty")

failures = []


def run(wine, program, script, connection, *options, timeout=60):
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as file:
        file.write(script)
    try:
        done = subprocess.run([wine, program, file.name, "--connect", connection, *options],
                              capture_output=True, text=True, timeout=timeout)
    finally:
        os.remove(file.name)
    return done.returncode, done.stdout + done.stderr


def check(name, code, output, wanted_code, *texts):
    missing = [t for t in texts if t not in output]
    if code != wanted_code or missing:
        failures.append(f"{name}: exit {code} (wanted {wanted_code}), missing {missing}\n{output}")
    print(f"{'ok  ' if code == wanted_code and not missing else 'FAIL'} {name}")


def main():
    wine, program = sys.argv[1], sys.argv[2]
    with compty.ComPort("COM9"):
        code, out = run(wine, program, "STATUS?\nMODE?\n", "com:COM9:baud=9600", "--reply-timeout", "3000")
        check("a script runs through and every reply is logged", code, out, 0, "STATUS? OK", "MODE? OK")
        code, out = run(wine, program, "STATUS?\n#EXPECT NEVER 300\n", "com:COM9", "--reply-timeout", "3000")
        check("an #EXPECT that is not met ends with 4", code, out, 4, "STATUS? OK")
    code, out = run(wine, program, "STATUS?\n", "com:COM8")
    check("a port that is not there ends with 2", code, out, 2)
    code, out = run(wine, program, "STATUS?\n", "com:COM9", "--no-such-option")
    check("an unknown option ends with 1", code, out, 1, "usage")
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
