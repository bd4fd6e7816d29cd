#!/usr/bin/env python3
"""A bad command line ends the installer with exit code 1 before its instance lock: the parse
error is logged and printed to the console it was started from.

Usage: bad_command_line.py WINE_RUN PREFIX PROGRAM

The program runs under a pseudo-terminal (script), because Wine's WriteConsoleW works on a
terminal and not on a pipe. Wine runs programs as administrator, so the log is the machine-wide
one; the test puts it back as it found it.
"""
import os
import shlex
import subprocess
import sys


def read_log(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def restore_log(path, before):
    after = read_log(path)
    if after is None:
        return
    if before is None:
        os.remove(path)
    elif after.startswith(before):
        with open(path, "wb") as f:
            f.write(before)
    # Otherwise the log rotated meanwhile; what it holds now is left alone.


def new_log_text(before, after):
    if after is None:
        return ""
    if before is not None and after.startswith(before):
        after = after[len(before):]
    data = after[2:] if after.startswith(b"\xff\xfe") else after
    return data.decode("utf-16-le", errors="replace")


def run_case(wine_run, prefix, program, args, error, log_path):
    before = read_log(log_path)
    command = " ".join(shlex.quote(part) for part in [wine_run, prefix, program] + args)
    try:
        run = subprocess.run(["script", "-qec", command, "/dev/null"], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        log = new_log_text(before, read_log(log_path))
    finally:
        restore_log(log_path, before)

    console = run.stdout.decode("utf-8", errors="replace")
    failures = []
    if run.returncode != 1:
        failures.append(f"exit code {run.returncode}, expected 1")
    if f"Parse error: {error}" not in console:
        failures.append(f"console lacks 'Parse error: {error}':\n{console}")
    if f"InstallerExt::ParseCommandLine: Parse error: {error}" not in log:
        failures.append(f"log lacks the parse error:\n{log}")
    # The run must end right after parsing: no instance lock, no regular end of the run.
    for later in ("Another instance already running", "Exiting with code"):
        if later in log:
            failures.append(f"log shows the run went on ('{later}'):\n{log}")
    for failure in failures:
        print(f"{' '.join(args)}: {failure}", file=sys.stderr)
    return not failures


def main():
    wine_run, prefix, program = sys.argv[1:4]
    log_path = os.path.join(prefix, "drive_c", "ProgramData", "Velmora", "Log", "Tolvi", "stub.log")
    cases = [
        (["--language=fi"], "Unknown option: --language=fi"),
        # Wine writes an argument's quote as \" into the command line: one unbalanced quote.
        (["--resume", 'C:\\"open'], "Mismatching quotes"),
    ]
    ok = True
    for args, error in cases:
        ok = run_case(wine_run, prefix, program, args, error, log_path) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
