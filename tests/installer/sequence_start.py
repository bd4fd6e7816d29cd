#!/usr/bin/env python3
"""The start of a run under Wine, on its console and in its log: a bad command line ends it with 1
before the instance lock; the language comes from Wine's display language or the command line;
"show-settings" prints the embedded settings.  Usage: sequence_start.py WINE_RUN PREFIX PROGRAM

It runs under a pseudo-terminal (script): Wine's WriteConsoleW works on a terminal, not on a
pipe. Wine runs programs as administrator, so the log is the machine-wide one.
"""
import os
import re
import shlex
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
from check_properties import LANGUAGES  # noqa: E402


def run(wine_run, prefix, program, args, lang="en_US.UTF-8"):
    log_path = os.path.join(prefix, "drive_c", "ProgramData", "Velmora", "Log", "Tolvi", "stub.log")
    if os.path.exists(log_path):
        os.remove(log_path)
    env = dict(os.environ, LANG=lang, LC_ALL=lang)
    # A wide pseudo-terminal, so that the console does not wrap long lines.
    command = "stty cols 4000 2>/dev/null; " + " ".join(shlex.quote(p) for p in [wine_run, prefix, program] + args)
    try:
        done = subprocess.run(["script", "-qec", command, "/dev/null"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120, env=env)
        with open(log_path, "rb") as f:
            log = f.read()[2:].decode("utf-16-le")
    finally:
        if os.path.exists(log_path):
            os.remove(log_path)
    console = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", done.stdout.decode("utf-8", errors="replace"))
    return done.returncode, console.replace("\r", ""), log


def main():
    wine_run, prefix, program = sys.argv[1:4]
    failures = []

    def expect(condition, what, detail):
        if not condition:
            failures.append(f"{what}\n{detail}")

    # Wine writes an argument's quote as \" into the command line: one unbalanced quote.
    for args, error in ((["--language=fi"], "Unknown option: --language=fi"),
                        (["--resume", 'C:\\"open'], "Mismatching quotes")):
        code, console, log = run(wine_run, prefix, program, args)
        expect(code == 1, f"{args}: exit code {code}, expected 1", log)
        expect(f"Parse error: {error}" in console, f"{args}: not printed", console)
        expect(f"InstallerExt::ParseCommandLine: Parse error: {error}" in log, f"{args}: not logged", log)
        # The run ends right after parsing: no instance lock, no regular end of the run.
        expect("Another instance" not in log and "Exiting with code" not in log, f"{args}: went on", log)

    # A resumed run works only in a work directory of this program's: the end deletes it.
    kept = os.path.join(prefix, "drive_c", "users", "Public", "vm-kept")
    os.makedirs(kept, exist_ok=True)
    open(os.path.join(kept, "file.txt"), "w").close()
    code, console, log = run(wine_run, prefix, program, ["--silent", "--nocopy", "--language", "en", "--resume",
                                                         "C:\\users\\Public\\vm-kept"])
    expect(code == 1 and os.path.exists(os.path.join(kept, "file.txt")), f"--resume: exit code {code}", log)
    expect("Not a work directory of this program: 'C:\\users\\Public\\vm-kept'" in log, "--resume: not refused", log)
    shutil.rmtree(kept)

    # German: "de" by its language part (score 4), locked by this build's threshold 4. What a
    # language not offered gives is decided natively (LanguageSelectCoreTest).
    code, console, log = run(wine_run, prefix, program, ["--silent", "--show-settings"], "de_DE.UTF-8")
    expect(code == 0, f"de-DE: exit code {code}, expected 0", log)
    expect("LanguageSelect::SelectLanguageFromEnvironment: User display language is 'German' (de-DE)" in log,
           "de-DE: display language not logged", log)
    expect("Selected 'de' as the default language (score: 4)" in log, "de-DE: not 'de' with score 4", log)
    expect("Language locked by score (threshold: 4)" in log, "de-DE: not locked", log)

    # The command line wins; the dump (only here) lists the languages in map order, the global entries in
    # key order, then the selected language's entries.
    code, console, log = run(wine_run, prefix, program, ["--show-settings", "--language", "fi"], "de_DE.UTF-8")
    expect(code == 0 and "Exiting with code: 0 (Success)" in log, f"show-settings: exit code {code}", log)
    expect("Selected 'fi' as default language by command-line option" in log, "--language fi not used", log)
    expect("Installer::CheckDebugCommands: Showing settings" in log, "show-settings not logged", log)
    expect(f"\nLanguages: {','.join(LANGUAGES)}\n" in console, "language list missing or out of order", console)
    globals_ = re.findall(r"^([a-z0-9]+)=(.*)$", console, re.M)
    keys = [k for k, _ in globals_]
    expect(dict(globals_).get("operatorid") == "6910", "global operatorid=6910 missing", console)
    expect(keys == sorted(keys), "global entries not in key order", console)
    expect(re.search(r"^fi:productname=.+$", console, re.M), "fi:productname missing", console)

    for failure in failures:
        print("FAIL: " + failure, file=sys.stderr)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
