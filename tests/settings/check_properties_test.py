#!/usr/bin/env python3
"""tools/check_properties.py: the mistakes it must stop before they reach an installer, and the
files it lets through unchanged."""

import contextlib
import io
import os
import re
import sys
import tempfile
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import check_properties  # noqa: E402

TEXTS = os.path.join(SOURCE, "resources", "localized.properties")
DEMO = os.path.join(SOURCE, "resources", "customization.properties")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def shipped(path):
    """The English and German lines of a shipped file and its global ones: small, and complete."""
    return b"".join(l + b"\r\n" for l in read(path).split(b"\r\n")
                    if l.startswith((b"en:", b"de:")) or l and not re.match(rb"[A-Za-z-]+:", l))


class Checker(unittest.TestCase):
    def setUp(self):
        self.dir = self.enterContext(tempfile.TemporaryDirectory())
        self.texts, self.customization = shipped(TEXTS), shipped(DEMO)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def check(self, texts, customization=None, all_languages=False):
        problems = check_properties.Problems()
        languages = check_properties.check_texts(self.write("t.properties", texts), problems, all_languages)
        if customization is not None:
            check_properties.check_customization(self.write("c.properties", customization), languages, problems)
        return problems

    def test_well_formed_files_pass_and_repeats_only_warn(self):
        self.assertEqual([], self.check(self.texts, self.customization).errors)
        # Line ends of every kind, texts overridden by the operator, optional keys, a repeat.
        mixed = self.customization.replace(b"\r\n", b"\n", 3).replace(b"\r\n", b"\r", 2)
        problems = self.check(self.texts, mixed + b"en:Retry=Again\r\nNoScan=1\r\nOperatorID=6911\r\n")
        self.assertEqual([], problems.errors)
        self.assertTrue(any("repeats line 2" in w for w in problems.warnings), problems.warnings)

    def test_mistakes(self):
        t, c = self.texts, self.customization
        retry = b"de:Retry=Wiederholen\r\n"
        disk = [l for l in t.split(b"\r\n") if l.startswith(b"de:ErrorDiskspace=")][0]
        cases = [
            ("byte-order mark", b"\xef\xbb\xbf" + t, None, "byte-order mark"),
            ("not UTF-8", t.replace(b"Wiederholen", b"Wiederhol\xe9n"), None, "not valid UTF-8"),
            ("line without '='", t + b"de:Retry Wiederholen\r\n", None, "no '='"),
            ("key missing", t.replace(retry, b""), None, "de:Retry is missing or empty"),
            ("key empty", t.replace(retry, b"de:Retry=\r\n"), None, "de:Retry is missing or empty"),
            ("placeholder lost", t.replace(disk, disk.replace(b"%DISK_REQUIRED%", b"650")), None, "has placeholders"),
            ("placeholder misspelt", t.replace(b"de:TitleLoc=%OPERATORNAME%", b"de:TitleLoc=%OPERATOR%"), None,
             "has placeholders"),
            ("unknown key", t + b"de:Retyr=x\r\n", None, "unknown text key 'Retyr'"),
            ("text without language", t + b"Retry=x\r\n", None, "has no language tag"),
            ("empty language", t + b":Retry=x\r\n", None, "empty language tag"),
            ("no English", t.replace(b"en:", b"fr:"), None, "no English"),
            ("two languages of one name", t.replace(b"de:LanguageName=Deutsch", b"de:LanguageName=English"), None,
             "en:LanguageName repeats that of de"),
            ("misspelt key", t, c.replace(b"OperatorName=", b"OperatorNmae="), "unknown key 'OperatorNmae'"),
            ("required key absent", t, c.replace(b"OperatorName=", b"OperatorNmae="), "OperatorName is required"),
            ("required key empty", t, c.replace(b"OperatorID=6910", b"OperatorID="), "OperatorID is required"),
            ("per-language key incomplete", t, c.replace(b"de:ProductName=", b"de:ColorC1="), "missing for de"),
            ("tag in the wrong case", t, c + b"pt-br:ProductName=Tolvi\r\n", "'pt-br' has no texts"),
            ("unit in a number", t, c.replace(b"RequiredDiskSpace=71", b"RequiredDiskSpace=71MB"), "not a decimal number"),
            ("colour by name", t, c.replace(b"ColorC1=#000000", b"ColorC1=black"), "not a colour"),
            ("fallback not offered", t, c.replace(b"FallbackLanguage=en", b"FallbackLanguage=fr"),
             "not one of the offered languages"),
            ("address without scheme", t, c.replace(b"LWBEAddress=http://", b"LWBEAddress="), "http:// or https://"),
            ("absolute directory", t,
             c.replace(b"InstallationDirectory=Velmora\\Tolvi", b"InstallationDirectory=C:\\Tolvi"), "relative path"),
            ("no language at all", t, c.replace(b"en:ProductName", b"ProductName").replace(b"de:", b""),
             "offers no language"),
        ]
        for name, texts, customization, fragment in cases:
            with self.subTest(name):
                errors = self.check(texts, customization).errors
                self.assertTrue(any(fragment in e for e in errors), f"no error with {fragment!r}: {errors}")
        self.assertTrue(any("language bg is missing" in e for e in self.check(t, all_languages=True).errors))

    # Staging the shipped files is what every Windows build does; here a refused one.
    def test_stage_refuses_and_writes_nothing(self):
        out = os.path.join(self.dir, "out")
        texts = self.write("t.properties", read(TEXTS))
        bad = self.write("bad.properties", read(DEMO).replace(b"ColorC1=#000000", b"ColorC1=#000"))
        with contextlib.redirect_stderr(io.StringIO()) as stderr:
            self.assertEqual(1, check_properties.main(["stage", "--texts", texts, "--customization", bad,
                                                       "--out-dir", out]))
        self.assertIn("ColorC1='#000' is not a colour", stderr.getvalue())
        self.assertIn("-DOPERATOR_PROPERTIES", stderr.getvalue())
        self.assertFalse(os.path.exists(os.path.join(out, "VmCustomization.properties")))

    def test_shipped_files_use_crlf_throughout(self):
        for path in (TEXTS, DEMO):
            data = read(path)
            self.assertEqual((data.count(b"\n"), data.count(b"\r")), (data.count(b"\r\n"), data.count(b"\r\n")), path)
            self.assertTrue(data.endswith(b"\r\n"), path)


if __name__ == "__main__":
    unittest.main()
