#!/usr/bin/env python3
"""The installer's "testui" debug command under Wine on a private X display: it shows every
dialog in turn and ends with exit code 0 when each dialog is answered affirmatively (a cancelled
walk: tests/gui/program_testui.py).

Usage: testui.py WINE_RUN PREFIX DRIVER PROGRAM
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "gui"))
from xsession import XSession  # noqa: E402


def main():
    wine_run, prefix, driver, program = sys.argv[1:5]
    log_path = os.path.join(prefix, "drive_c", "ProgramData", "Velmora", "Log", "Tolvi", "stub.log")
    failures = []
    with XSession(wine_run, prefix) as session:
        if os.path.exists(log_path):
            os.remove(log_path)
        done = session.run_wine([driver, program, "--testui"], timeout=300, stdout=subprocess.PIPE)
    out = done.stdout.decode("utf-8", errors="replace")
    answered = int((re.search(r"dialogs answered: (\d+)", out) or [0, -1])[1])
    with open(log_path, "rb") as f:
        log = f.read()[2:].decode("utf-16-le")
    if done.returncode != 0:
        failures.append(f"exit code {done.returncode}\n{log}")
    if answered < 8:
        failures.append(f"{answered} dialogs answered, expected at least 8\n{out}")
    if "Installer::CheckDebugCommands: Showing TestUI" not in log:
        failures.append(f"the debug command is not logged\n{log}")
    if "wWinMain: Exiting with code: 0 (Success)" not in log:
        failures.append(f"no successful exit line\n{log}")
    print(f"exit {done.returncode}, {answered} dialogs answered")
    for failure in failures:
        print("FAIL: " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
