#!/usr/bin/env python3
"""Silent mode under a pseudo-terminal: exactly the error texts reach the console the program was
started from (the answers themselves: GuiSilentAnswers in the dialog tests).

Usage: silent_console.py WINE_RUN PREFIX WALK_EXE
"""
import re
import shlex
import subprocess
import sys

PRINTED = ["silent error text", "silent error info text", "silent retry text", "silent reboot text",
           "You must uninstall your currently installed version of the product before you can continue."
           " - Tolvi 1.0"]
NOT_PRINTED = ["silent confirm text", "silent auto text"]


def main():
    wine_run, prefix, walk = sys.argv[1:4]
    command = " ".join(shlex.quote(part) for part in [wine_run, prefix, walk, "silent"])
    # Wine's WriteConsoleW writes to a terminal, not to a pipe: run under script's pty.
    run = subprocess.run(["script", "-qec", command, "/dev/null"], stdin=subprocess.DEVNULL,
                         capture_output=True, timeout=300)
    output = run.stdout.decode("utf-8", errors="replace")
    # Wine's console draws with terminal escapes and wraps at the terminal's width.
    output = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", output).replace("\r", "")
    flat = output.replace("\n", "")
    failures = []
    if run.returncode != 0:
        failures.append(f"exit code {run.returncode}")
    for text in PRINTED:
        if text not in flat:
            failures.append(f"not on the console: {text!r}")
    for text in NOT_PRINTED:
        if text in flat:
            failures.append(f"printed although it is no error: {text!r}")
    if failures:
        print("\n".join(failures))
        print("console output was:\n" + output)
        return 1
    print(f"silent mode: {len(PRINTED)} texts on the console")
    return 0


if __name__ == "__main__":
    sys.exit(main())
