#!/usr/bin/env python3
"""tools/check_properties.py: the mistakes it must stop before they reach an installer, and the
files it lets through unchanged."""

import contextlib
import io
import os
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import check_properties  # noqa: E402

TEXTS = os.path.join(SOURCE, "resources", "localized.properties")
DEMO = os.path.join(SOURCE, "resources", "customization.properties")


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Checker(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        # English and German of the shipped texts: a small, complete texts file.
        lines = read(TEXTS).split(b"\r\n")
        self.texts = b"\r\n".join(l for l in lines if l.startswith((b"en:", b"de:"))) + b"\r\n"
        self.customization = (b"OperatorName=Demo\r\nOperatorID=6910\r\nLWBEAddress=https://be.example\r\n"
                              b"InstallationDirectory=Velmora\\Tolvi\r\nDaas2Suffix=corporate\r\n"
                              b"RequiredDiskSpace=71\r\nUniversalCRTUrl=https://be.example/ucrt.exe\r\n"
                              b"BrokenInstallInfoUrl=https://be.example/help\r\nFallbackLanguage=en\r\n"
                              b"SkipLanguageThreshold=4\r\nColorC1=#000000\r\nColorC2=#006699\r\n"
                              b"ColorC7=#408cb3\r\nFontColor=#FFFFFF\r\nSelectedFontColor=#cfe2ec\r\n"
                              b"en:ProductName=Tolvi\r\nde:ProductName=Tolvi\r\n")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def check_texts(self, data, all_languages=False):
        problems = check_properties.Problems()
        check_properties.check_texts(self.write("texts.properties", data), problems, all_languages)
        return problems

    def check_customization(self, data):
        problems = check_properties.Problems()
        languages = check_properties.check_texts(self.write("texts.properties", self.texts), problems)
        check_properties.check_customization(self.write("c.properties", data), languages, problems)
        return problems

    def assertHasError(self, problems, fragment):
        self.assertTrue(problems.errors, f"no error, expected one with {fragment!r}")
        self.assertTrue(any(fragment in e for e in problems.errors), "\n".join(problems.errors))

    def test_well_formed_files_pass(self):
        self.assertEqual([], self.check_texts(self.texts).errors)
        self.assertEqual([], self.check_customization(self.customization).errors)
        # Line ends of every kind, and texts overridden by the operator.
        mixed = self.customization.replace(b"\r\n", b"\n", 3).replace(b"\r\n", b"\r", 2)
        self.assertEqual([], self.check_customization(mixed + b"en:Retry=Again\r\n").errors)

    def test_texts_mistakes(self):
        german_retry = b"de:Retry=Wiederholen\r\n"
        self.assertIn(german_retry, self.texts)
        disk = [l for l in self.texts.split(b"\r\n") if l.startswith(b"de:ErrorDiskspace=")][0]
        cases = [
            ("byte-order mark", b"\xef\xbb\xbf" + self.texts, "byte-order mark"),
            ("not UTF-8", self.texts.replace(b"Wiederholen", b"Wiederhol\xe9n"), "not valid UTF-8"),
            ("line without '='", self.texts + b"de:Retry Wiederholen\r\n", "no '='"),
            ("key missing", self.texts.replace(german_retry, b""), "de:Retry is missing or empty"),
            ("key empty", self.texts.replace(german_retry, b"de:Retry=\r\n"), "de:Retry is missing or empty"),
            ("placeholder lost", self.texts.replace(disk, disk.replace(b"%DISK_REQUIRED%", b"650")),
             "has placeholders"),
            ("placeholder misspelt", self.texts.replace(b"de:TitleLoc=%OPERATORNAME%", b"de:TitleLoc=%OPERATOR%"),
             "has placeholders"),
            ("unknown key", self.texts + b"de:Retyr=x\r\n", "unknown text key 'Retyr'"),
            ("text without language", self.texts + b"Retry=x\r\n", "has no language tag"),
            ("empty language", self.texts + b":Retry=x\r\n", "empty language tag"),
            ("no English", self.texts.replace(b"en:", b"fr:"), "no English"),
        ]
        for name, data, fragment in cases:
            with self.subTest(name):
                self.assertHasError(self.check_texts(data), fragment)
        self.assertHasError(self.check_texts(self.texts, all_languages=True), "language bg is missing")

    def test_customization_mistakes(self):
        c = self.customization
        cases = [
            ("misspelt key", c.replace(b"OperatorName=", b"OperatorNmae="), "unknown key 'OperatorNmae'"),
            ("required key absent", c.replace(b"OperatorName=", b"OperatorNmae="), "OperatorName is required"),
            ("required key empty", c.replace(b"OperatorID=6910", b"OperatorID="), "OperatorID is required"),
            ("per-language key incomplete", c.replace(b"de:ProductName=Tolvi", b"de:ColorC1=#111111"), "missing for de"),
            ("tag in the wrong case", c + b"pt-br:ProductName=Tolvi\r\n", "'pt-br' has no texts"),
            ("unit in a number", c.replace(b"RequiredDiskSpace=71", b"RequiredDiskSpace=71MB"), "not a decimal number"),
            ("colour by name", c.replace(b"ColorC1=#000000", b"ColorC1=black"), "not a colour"),
            ("fallback not offered", c.replace(b"FallbackLanguage=en", b"FallbackLanguage=fr"),
             "not one of the offered languages"),
            ("address without scheme", c.replace(b"LWBEAddress=https://be.example", b"LWBEAddress=be.example"),
             "http:// or https://"),
            ("absolute directory", c.replace(b"InstallationDirectory=Velmora\\Tolvi", b"InstallationDirectory=C:\\Tolvi"),
             "relative path"),
            ("no language at all", c.replace(b"en:ProductName", b"ProductName").replace(b"de:ProductName=Tolvi\r\n", b""),
             "offers no language"),
        ]
        for name, data, fragment in cases:
            with self.subTest(name):
                self.assertHasError(self.check_customization(data), fragment)

    def test_optional_keys_may_be_absent_and_repeats_only_warn(self):
        problems = self.check_customization(self.customization + b"NoScan=1\r\nOperatorID=6911\r\n")
        self.assertEqual([], problems.errors)
        self.assertTrue(any("repeats line 2" in w for w in problems.warnings), problems.warnings)

    def test_stage_copies_checked_files_and_nothing_else(self):
        out = os.path.join(self.dir, "out")
        texts = self.write("t.properties", read(TEXTS))
        good = self.write("good.properties", read(DEMO))
        bad = self.write("bad.properties", read(DEMO).replace(b"ColorC1=#000000", b"ColorC1=#000"))

        with contextlib.redirect_stderr(io.StringIO()) as stderr:
            self.assertEqual(1, check_properties.main(["stage", "--texts", texts, "--customization", bad,
                                                       "--out-dir", out]))
        self.assertIn("ColorC1='#000' is not a colour", stderr.getvalue())
        self.assertIn("-DOPERATOR_PROPERTIES", stderr.getvalue())
        self.assertFalse(os.path.exists(os.path.join(out, "VmCustomization.properties")))

        self.assertEqual(0, check_properties.main(["stage", "--texts", texts, "--customization", good,
                                                   "--out-dir", out]))
        self.assertEqual(read(DEMO), read(os.path.join(out, "VmCustomization.properties")))
        self.assertEqual(read(TEXTS), read(os.path.join(out, "VmLocalized.properties")))
        self.assertEqual(["VmCustomization.properties", "VmLocalized.properties"], sorted(os.listdir(out)))

    def test_shipped_files_use_crlf_throughout(self):
        for path in (TEXTS, DEMO):
            data = read(path)
            with self.subTest(os.path.basename(path)):
                self.assertEqual(data.count(b"\n"), data.count(b"\r\n"))
                self.assertEqual(data.count(b"\r"), data.count(b"\r\n"))
                self.assertTrue(data.endswith(b"\r\n"))


if __name__ == "__main__":
    unittest.main()
