#!/usr/bin/env python3
"""The program itself with "--testui" on a private X display, answered with real key presses
(xdotool): Enter presses the focused button, or the affirmative one when the focus is on the combo
box; Tab moves the focus; Esc answers Cancel; Space presses the focused button. Each walk ends with
exit code 0, and the dialogs shown (from the log) tell which button each key pressed.

Usage: program_testui.py WINE_RUN PREFIX PROGRAM
"""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xsession import XSession  # noqa: E402

# Keys for each question in turn (the progress page asks nothing), and the dialog types the walk
# shows: 1 language, 0 progress, 6 retry (its Cancel has the focus).
CASES = [
    ("Enter on Next, then Enter on the focused Cancel", [["Return"], ["Return"]], [1, 0, 6]),
    ("Tab to Cancel, Enter", [["Tab", "Return"]], [1]),
    ("Tab, Tab to the combo box, Enter; Esc", [["Tab", "Tab", "Return"], ["Escape"]], [1, 0, 6]),
    ("Space on Next; Tab to Retry and back to Cancel, Space", [["space"], ["Tab", "Tab", "space"]], [1, 0, 6]),
]
SHOWN = re.compile(r"GuiManager::OpenDialog: Showing dialog type (\d+)")


def shown_types(log_path):
    if not os.path.exists(log_path):
        return []
    with open(log_path, "rb") as f:
        return [int(t) for t in SHOWN.findall(f.read().decode("utf-16-le", errors="replace"))]


def xdotool(session, *args):
    return subprocess.run(["xdotool"] + list(args), env=session.env, capture_output=True, text=True, timeout=30)


def press(session, keys):
    # Without a window manager the keyboard goes to the window under the pointer.
    found = xdotool(session, "search", "--onlyvisible", "--name", "setup").stdout.split()
    geometry = xdotool(session, "getwindowgeometry", "--shell", found[-1]).stdout if found else ""
    values = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
    if values:
        xdotool(session, "mousemove", str(int(values["X"]) + 30), str(int(values["Y"]) + 70))
    for key in keys:
        time.sleep(0.5)
        xdotool(session, "key", key)


def run_case(session, program, log_path, keys):
    if os.path.exists(log_path):
        os.remove(log_path)
    run = session.popen_wine([program, "--testui"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    answered = 0
    try:
        deadline = time.time() + 120
        while run.poll() is None and time.time() < deadline:
            questions = [t for t in shown_types(log_path) if t != 0]
            if answered < len(keys) and len(questions) > answered:
                time.sleep(1)  # the dialog is mapped and has its focus
                press(session, keys[answered])
                answered += 1
            time.sleep(0.25)
        code = run.wait(timeout=30)
    finally:
        if run.poll() is None:
            run.kill()
    return code, shown_types(log_path)


def main():
    wine_run, prefix, program = sys.argv[1:4]
    log_path = os.path.join(prefix, "drive_c", "ProgramData", "Velmora", "Log", "Tolvi", "stub.log")
    failed = False
    with XSession(wine_run, prefix) as session:
        for name, keys, expected in CASES:
            code, shown = run_case(session, program, log_path, keys)
            ok = code == 0 and shown == expected
            failed |= not ok
            print(f"{'ok' if ok else 'FAIL'}: {name}: exit {code} (expected 0), dialogs {shown} (expected {expected})")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
