#!/usr/bin/env python3
"""Runs the dialog tests (a GoogleTest program) on a private X display with a Wine prefix of
their own, and stops both afterwards.

Usage: run_gui_tests.py WINE_RUN PREFIX TEST_EXE [gtest arguments...]
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xsession import XSession  # noqa: E402


def main():
    wine_run, prefix, program = sys.argv[1:4]
    with XSession(wine_run, prefix, 96) as session:
        run = session.run_wine([program] + sys.argv[4:], timeout=900, stdout=None, stderr=None)
    return run.returncode


if __name__ == "__main__":
    sys.exit(main())
