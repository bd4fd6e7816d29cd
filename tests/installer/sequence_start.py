#!/usr/bin/env python3
"""The start of the installation sequence, end to end under Wine: the language decision from
the display language that Wine takes from the environment, and the "show-settings" debug
command printing the embedded settings to the console it was started from.

Usage: sequence_start.py WINE_RUN PREFIX PROGRAM
"""
import os
import re
import shlex
import subprocess
import sys

LANGUAGES = ("bg,cs,da,de,el,en,es,es-MX,et,fi,fr,fr-CA,hu,it,ja,lt,nl,no,pl,pt,pt-BR,ro,ru,"
             "sl,sv,tr,vi,zh,zh-HK,zh-TW")


def run(wine_run, prefix, program, args, lang):
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

    # German display language: "de" by its language part (score 4), locked by this build's
    # threshold 4, so no language dialog would be shown.
    code, console, log = run(wine_run, prefix, program, ["--silent", "--show-settings"], "de_DE.UTF-8")
    expect(code == 0, f"de-DE: exit code {code}, expected 0", log)
    expect("LanguageSelect::SelectLanguageFromEnvironment: User display language is 'German' (de-DE)" in log,
           "de-DE: display language not logged", log)
    expect("Selected 'de' as the default language (score: 4)" in log, "de-DE: not 'de' with score 4", log)
    expect("Language locked by score (threshold: 4)" in log, "de-DE: not locked", log)

    # Korean is not offered: the fallback "en" with score 1, below the threshold, not locked.
    code, console, log = run(wine_run, prefix, program, ["--silent", "--show-settings"], "ko_KR.UTF-8")
    expect(code == 0, f"ko-KR: exit code {code}, expected 0", log)
    expect("Selected 'en' as the default language (score: 1)" in log, "ko-KR: not 'en' with score 1", log)
    expect("Language locked by score" not in log, "ko-KR: locked although below the threshold", log)

    # The command line wins over the display language.
    code, console, log = run(wine_run, prefix, program, ["--silent", "--show-settings", "--language", "fi"],
                             "de_DE.UTF-8")
    expect("Selected 'fi' as default language by command-line option" in log, "--language fi not used", log)
    expect("\nfi:productname=" in console, "the dump does not list the selected language's entries", console)

    # The dump: a line feed, the 30 languages in map order, the global entries, then the selected
    # language's entries; exit code 0 after the debug command.
    code, console, log = run(wine_run, prefix, program, ["--show-settings"], "en_US.UTF-8")
    expect(code == 0, f"show-settings: exit code {code}", log)
    expect("Installer::CheckDebugCommands: Showing settings" in log, "show-settings not logged", log)
    expect(f"\nLanguages: {LANGUAGES}\n" in console, "language list missing or out of order", console)
    globals_ = re.findall(r"^([a-z0-9]+)=(.*)$", console, re.M)
    keys = [k for k, _ in globals_]
    expect("operatorid" in keys and dict(globals_).get("operatorid") == "6910",
           "global operatorid=6910 missing", console)
    expect(keys == sorted(keys), "global entries not in key order", console)
    expect(re.search(r"^en:productname=.+$", console, re.M) is not None, "en:productname missing", console)
    expect("Exiting with code: 0 (Success)" in log, "exit line missing", log)

    for failure in failures:
        print("FAIL: " + failure, file=sys.stderr)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
