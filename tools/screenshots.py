#!/usr/bin/env python3
"""Screenshots of every dialog state in several languages and at 96 and 144 DPI.

Usage: screenshots.py WINE_RUN PREFIX WALK_EXE OUT_DIR [LANG ...]

The walk program (ScreenshotWalk.cpp, with the program's embedded texts) shows one state after
another and announces each on its standard output; the picture of the dialog's rectangle goes to
OUT_DIR/<dpi>/<lang>/<state>.png. Fails when a state is missing or the program does not end
cleanly.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "gui"))
from xsession import XSession  # noqa: E402

STATES = ["language", "progress-normal", "progress-slow", "progress-scan", "progress-marquee",
          "message-0-close", "message-1-moreinfo", "message-2-retry", "message-3-reboot",
          "message-4-confirm", "existing-manual", "existing-auto"]


def screenshot(session, path, x, y, w, h):
    subprocess.run(["import", "-display", session.display, "-window", "root", "-crop", f"{w}x{h}+{x}+{y}",
                    "+repage", path], check=True, timeout=60)


def run_language(session, walk, out_dir, language):
    target = os.path.join(out_dir, str(session.dpi), language)
    os.makedirs(target, exist_ok=True)
    program = session.popen_wine([walk, language], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True)
    seen = []
    try:
        for line in program.stdout:
            words = line.split()
            if not words:
                continue
            if words[0] == "DONE":
                break
            if words[0] != "SHOT" or len(words) != 6:
                continue
            name = words[1]
            x, y, w, h = (int(v) for v in words[2:])
            # Wine hands a replaced dialog's pixels to the X server a moment late.
            time.sleep(1.5)
            screenshot(session, os.path.join(target, name + ".png"), x, y, w, h)
            seen.append(name)
            program.stdin.write("\n")
            program.stdin.flush()
        code = program.wait(timeout=60)
    finally:
        if program.poll() is None:
            program.kill()
    missing = [s for s in STATES if s not in seen]
    if code != 0 or missing:
        print(f"{session.dpi} dpi, {language}: exit {code}, missing {missing}")
        return False
    print(f"{session.dpi} dpi, {language}: {len(seen)} screenshots in {target}")
    return True


def main():
    wine_run, prefix, walk, out_dir = sys.argv[1:5]
    languages = sys.argv[5:] or ["en", "ja", "ru"]
    ok = True
    with XSession(wine_run, prefix) as session:
        for dpi in (96, 144):
            session.set_dpi(dpi)
            for language in languages:
                ok = run_language(session, walk, out_dir, language) and ok
        session.set_dpi(96)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
