#!/usr/bin/env python3
"""Checks the properties files the installer embeds, and stages them for the resource compiler.

  check_properties.py texts FILE [--all-languages]
      the localized texts (resource 101): every language has every key the installer reads,
      and every placeholder of the English text
  check_properties.py customization FILE --texts TEXTS
      an operator's customization (resource 102): the keys the installer reads are present or
      may be absent, values have the form the installer expects, every offered language has texts
  check_properties.py stage --texts TEXTS --customization FILE --out-dir DIR
      both checks, then copies the two files to DIR as VmLocalized.properties and
      VmCustomization.properties (nothing is written when a check fails)

The format is the installer's own: UTF-8 without byte-order mark; CR, LF or CR LF end a line;
each line is "[language:]key=value", the value being everything after the first "=". Keys are
case-insensitive, language tags are not. Errors name file and line and end with exit code 1.
"""

import argparse
import os
import re
import shutil
import sys
import tempfile

LANGUAGES = [
    "bg", "cs", "da", "de", "el", "en", "es", "es-MX", "et", "fi", "fr", "fr-CA", "hu", "it",
    "ja", "lt", "nl", "no", "pl", "pt", "pt-BR", "ro", "ru", "sl", "sv", "tr", "vi", "zh",
    "zh-HK", "zh-TW",
]

TEXT_KEYS = [
    "Cancel", "Close", "Next", "OK", "Retry", "Reboot", "Skip", "MoreInfo", "TitleLoc",
    "SelectLanguage", "LanguageName", "ConflictAutoRemove", "ConflictManualRemove", "Uninstall",
    "Uninstalling", "Progress", "ProgressSlow", "ProgressScan", "Launching", "Installing",
    "Validating", "Downloading", "ConfirmContinue", "SelfUpgrade", "RebootRequired",
    "ErrorGeneric", "ErrorBrokenInstall", "ErrorDiskFull", "ErrorDiskspace", "ErrorDownload",
    "ErrorDownloadCertificate", "ErrorDownloadCertificateCheckClock", "ErrorIntegrity",
    "ErrorMsiBusy", "ErrorMsiVersion", "ErrorPrivileges", "ErrorUnsupportedCPU",
    "ErrorUnsupportedOS",
]

# Customization keys the installer reads, and the form of their values.
DECIMAL = "decimal"
COLOUR = "colour"
ADDRESS = "address"
LANGUAGE = "language"
RELATIVE_PATH = "relative path"
TEXT = "text"
REQUIRED_SETTINGS = {
    "ProductName": TEXT,
    "OperatorName": TEXT,
    "OperatorID": DECIMAL,
    "LWBEAddress": ADDRESS,
    "InstallationDirectory": RELATIVE_PATH,
    "Daas2Suffix": TEXT,
    "RequiredDiskSpace": DECIMAL,
    "UniversalCRTUrl": ADDRESS,
    "BrokenInstallInfoUrl": ADDRESS,
    "FallbackLanguage": LANGUAGE,
    "SkipLanguageThreshold": DECIMAL,
    "ColorC1": COLOUR,
    "ColorC2": COLOUR,
    "ColorC7": COLOUR,
    "FontColor": COLOUR,
    "SelectedFontColor": COLOUR,
}
# Read by the installer, but an operator may leave them out.
OPTIONAL_SETTINGS = {
    "ExtraDownload": TEXT,
    "ProvisioningGroup": TEXT,
    "NoScan": TEXT,
    "MigratableOperators": TEXT,
    "SilentReplaceOperators": TEXT,
}

GLOBAL = "global"
PLACEHOLDER = re.compile(r"%[A-Z_]+%")
FORMS = {
    DECIMAL: (re.compile(r"^[0-9]+$"), "a decimal number"),
    COLOUR: (re.compile(r"^#[0-9A-Fa-f]{6}$"), "a colour like #1a2b3c"),
    ADDRESS: (re.compile(r"^https?://[^\s]+$"), "an http:// or https:// address"),
}


class Problems:
    def __init__(self):
        self.errors = []
        self.warnings = []

    def error(self, where, text):
        self.errors.append(f"{where}: error: {text}")

    def warning(self, where, text):
        self.warnings.append(f"{where}: warning: {text}")


class Entry:
    def __init__(self, language, key, value, line):
        self.language, self.key, self.value, self.line = language, key, value, line


def split_lines(text):
    """(line number, line) for every non-empty line; CR, LF and CR LF each end one line."""
    number = 1
    start = 0
    i = 0
    while i <= len(text):
        if i == len(text) or text[i] in "\r\n":
            if i > start:
                yield number, text[start:i]
            if i < len(text) - 1 and text[i] == "\r" and text[i + 1] == "\n":
                i += 1
            number += 1
            start = i + 1
        i += 1


def read_entries(path, problems):
    """Entries of a properties file, or None when it cannot be read as one."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        problems.error(path, f"cannot read: {e.strerror}")
        return None
    if data.startswith(b"\xef\xbb\xbf"):
        problems.error(path, "starts with a UTF-8 byte-order mark; the installer would read it "
                             "as part of the first key. Save as UTF-8 without BOM")
        return None
    if not data:
        problems.error(path, "is empty")
        return None
    try:
        text = data.decode("utf-8", errors="strict")
    except UnicodeDecodeError as e:
        line = data.count(b"\n", 0, e.start) + 1
        problems.error(f"{path}:{line}", f"not valid UTF-8 (byte {e.start}: {e.reason}); the "
                                         "installer refuses the whole resource")
        return None

    entries = []
    seen = {}
    for number, line in split_lines(text):
        where = f"{path}:{number}"
        if "=" not in line:
            problems.error(where, f"no '=' in {line[:40]!r}; every line is [language:]key=value")
            continue
        head, value = line.split("=", 1)
        language, key = (head.split(":", 1) if ":" in head else (GLOBAL, head))
        if not language:
            problems.error(where, "empty language tag before ':'")
            continue
        if not key:
            problems.error(where, "empty key")
            continue
        identity = (language, key.lower())
        if identity in seen:
            problems.warning(where, f"{language}:{key} repeats line {seen[identity]}; this later "
                                    "value wins")
        seen[identity] = number
        entries.append(Entry(language, key, value, number))
    return entries


def table_of(entries):
    """language -> lower-cased key -> Entry, later lines winning as in the installer."""
    table = {}
    for entry in entries:
        table.setdefault(entry.language, {})[entry.key.lower()] = entry
    return table


def check_texts(path, problems, all_languages=False):
    """Returns the languages of the texts file (empty on failure)."""
    entries = read_entries(path, problems)
    if entries is None:
        return []
    table = table_of(entries)
    known = {k.lower(): k for k in TEXT_KEYS}
    for entry in entries:
        where = f"{path}:{entry.line}"
        if entry.language == GLOBAL:
            problems.error(where, f"{entry.key} has no language tag; texts are only looked up "
                                  "per language")
        elif entry.key.lower() not in known:
            problems.error(where, f"unknown text key {entry.key!r}")
    english = table.get("en")
    if english is None:
        problems.error(path, "has no English (en) texts, which every translation follows")
        return []

    languages = [language for language in table if language != GLOBAL]
    if all_languages:
        for language in LANGUAGES:
            if language not in table:
                problems.error(path, f"language {language} is missing")
    for language in languages:
        texts = table[language]
        for key in TEXT_KEYS:
            entry = texts.get(key.lower())
            if entry is None or not entry.value:
                problems.error(path, f"{language}:{key} is missing or empty")
                continue
            reference = english.get(key.lower())
            if reference is None or language == "en":
                continue
            expected = sorted(PLACEHOLDER.findall(reference.value))
            found = sorted(PLACEHOLDER.findall(entry.value))
            if expected != found:
                problems.error(f"{path}:{entry.line}",
                               f"{language}:{key} has placeholders {found or 'none'}, the English "
                               f"text has {expected or 'none'}")
    # The language dialog lists each language by its own name: two alike cannot be told apart.
    named = {}
    for language in languages:
        name = table[language].get("languagename")
        if name and name.value in named:
            problems.error(f"{path}:{name.line}", f"{language}:LanguageName repeats that of {named[name.value]}")
        elif name:
            named[name.value] = language
    return languages


def check_value(where, key, form, value, offered, problems):
    if form in FORMS:
        pattern, description = FORMS[form]
        if not pattern.match(value):
            problems.error(where, f"{key}={value!r} is not {description}")
    elif form == LANGUAGE and value not in offered:
        problems.error(where, f"{key}={value!r} is not one of the offered languages "
                              f"({', '.join(offered)})")
    elif form == RELATIVE_PATH and (not value or re.match(r"^([A-Za-z]:|[\\/])", value)):
        problems.error(where, f"{key}={value!r} must be a relative path such as Vendor\\Product")


def check_customization(path, texts_languages, problems):
    entries = read_entries(path, problems)
    if entries is None:
        return
    table = table_of(entries)
    offered = [language for language in table if language != GLOBAL]
    if not offered:
        problems.error(path, "offers no language: at least one language:key=value line "
                             "(for example en:ProductName=...) is needed")
        return
    for language in offered:
        if language not in texts_languages:
            problems.error(path, f"language {language!r} has no texts in the localized "
                                 "properties; tags are case-sensitive (pt-BR, not pt-br)")

    settings = {k.lower(): (k, form) for k, form in {**REQUIRED_SETTINGS, **OPTIONAL_SETTINGS}.items()}
    text_keys = {k.lower() for k in TEXT_KEYS}
    for entry in entries:
        where = f"{path}:{entry.line}"
        lowered = entry.key.lower()
        if lowered in settings:
            name, form = settings[lowered]
            if entry.value:
                check_value(where, name, form, entry.value, offered, problems)
        elif lowered not in text_keys:
            problems.error(where, f"unknown key {entry.key!r}: the installer reads no such "
                                  "setting (a misspelt key name?)")

    globals_ = table.get(GLOBAL, {})
    for key in REQUIRED_SETTINGS:
        lowered = key.lower()
        if globals_.get(lowered) is not None and globals_[lowered].value:
            continue
        lacking = [language for language in offered
                   if not (table[language].get(lowered) and table[language][lowered].value)]
        if lacking:
            problems.error(path, f"{key} is required: set it globally ({key}=...) or for every "
                                 f"language; missing for {', '.join(lacking)}")


def report(problems):
    for line in problems.warnings + problems.errors:
        print(line, file=sys.stderr)
    return 1 if problems.errors else 0


def stage(texts, customization, out_dir):
    """Copies both files into out_dir, each replaced atomically so that a failed build leaves
    no half-written file behind."""
    os.makedirs(out_dir, exist_ok=True)
    for source, name in ((texts, "VmLocalized.properties"),
                         (customization, "VmCustomization.properties")):
        target = os.path.join(out_dir, name)
        fd, temporary = tempfile.mkstemp(dir=out_dir, prefix=name + ".")
        os.close(fd)
        shutil.copyfile(source, temporary)
        os.replace(temporary, target)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    texts = commands.add_parser("texts")
    texts.add_argument("file")
    texts.add_argument("--all-languages", action="store_true",
                       help=f"require all {len(LANGUAGES)} languages of the product")
    customization = commands.add_parser("customization")
    customization.add_argument("file")
    customization.add_argument("--texts", required=True)
    staging = commands.add_parser("stage")
    staging.add_argument("--texts", required=True)
    staging.add_argument("--customization", required=True)
    staging.add_argument("--out-dir", required=True)
    args = parser.parse_args(argv)

    problems = Problems()
    if args.command == "texts":
        check_texts(args.file, problems, args.all_languages)
        return report(problems)
    if args.command == "customization":
        check_customization(args.file, check_texts(args.texts, problems), problems)
        return report(problems)
    check_customization(args.customization, check_texts(args.texts, problems, True), problems)
    if report(problems):
        print(f"error: the embedded properties were not staged; fix {args.customization} "
              "(or pass another file with -DOPERATOR_PROPERTIES=...)", file=sys.stderr)
        return 1
    stage(args.texts, args.customization, args.out_dir)
    return 0


if __name__ == "__main__":
    sys.exit(main())
