#!/usr/bin/env python3
"""The program itself with "--testui" on a private X display: its first dialog (the language
question of the dialog walk) appears with the branded caption, a click with xdotool on the
caption's close square cancels the walk, and the program ends with exit code 0.

Usage: program_testui.py WINE_RUN PREFIX PROGRAM
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xsession import XSession  # noqa: E402


def xdotool(session, *args, timeout=30):
    return subprocess.run(["xdotool"] + list(args), env=session.env, capture_output=True, text=True,
                          timeout=timeout)


def find_dialog(session, patience=60):
    deadline = time.time() + patience
    while time.time() < deadline:
        found = xdotool(session, "search", "--onlyvisible", "--name", "setup")
        ids = found.stdout.split()
        if ids:
            return ids[-1]
        time.sleep(0.25)
    return None


def main():
    wine_run, prefix, program = sys.argv[1:4]
    with XSession(wine_run, prefix, 96) as session:
        run = session.popen_wine([program, "--testui"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            window = find_dialog(session)
            if not window:
                print("no dialog appeared")
                return 1
            geometry = xdotool(session, "getwindowgeometry", "--shell", window).stdout
            values = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
            x, y, width = int(values["X"]), int(values["Y"]), int(values["WIDTH"])
            time.sleep(1)
            # The 24-pixel close square sits 8 pixels inside the caption's top right corner.
            xdotool(session, "mousemove", str(x + width - 1 - 8 - 12), str(y + 1 + 8 + 12))
            time.sleep(0.3)
            xdotool(session, "click", "1")
            code = run.wait(timeout=60)
        finally:
            if run.poll() is None:
                run.kill()
    if code != 0:
        print(f"exit code {code}, expected 0 after the walk was cancelled")
        return 1
    print("testui: the language dialog appeared, its close square cancelled the walk, exit code 0")
    return 0


if __name__ == "__main__":
    sys.exit(main())
