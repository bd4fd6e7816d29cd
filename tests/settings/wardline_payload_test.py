#!/usr/bin/env python3
"""tools/wardline_payload.py: settings written behind the Authenticode-signed installer, read by
the program under Wine (its log and "wl.ini"); and the tool's refusals."""

import contextlib
import io
import os
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = None
SERVER = "https://wardline.example:8443"
UCRT = "https://wardline.example:8443/ucrt/ucrt.exe"


def run(command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, **kwargs)


class WardlinePayload(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.build, cls.source = BUILD, SOURCE
        cls.work = cls.enterClassContext(tempfile.TemporaryDirectory(prefix="wardline-", dir=cls.build))
        sys.path.insert(0, os.path.join(cls.source, "tools"))
        import wardline_payload
        cls.tool = wardline_payload
        with open(os.path.join(cls.build, "VmNetworkInstallerWardline.exe"), "rb") as f:
            cls.image = f.read()

        # A throw-away signer; its public key is the one the payload carries.
        cls.key = os.path.join(cls.work, "signer.key")
        cls.cert = os.path.join(cls.work, "signer.pem")
        cls.public_key = os.path.join(cls.work, "signer.der")
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
             "-subj", "/CN=Velmora Payload Test Signer", "-keyout", cls.key, "-out", cls.cert])
        run(["openssl", "pkey", "-in", cls.key, "-pubout", "-outform", "DER", "-out", cls.public_key])

    def program(self, name, data=None):
        """A copy of the marked program in a folder of its own, where it writes wl.ini."""
        os.makedirs(os.path.join(self.work, name))
        path = os.path.join(self.work, name, "installer.exe")
        with open(path, "wb") as f:
            f.write(self.image if data is None else data)
        return path

    def tool_main(self, *arguments):
        """The tool in-process: (exit code, what it printed on stderr)."""
        stderr = io.StringIO()
        with contextlib.redirect_stderr(stderr):
            code = self.tool.main([str(a) for a in arguments])
        return code, stderr.getvalue()

    def complete(self, path):
        code, stderr = self.tool_main(path, path + ".new", "--server-address", SERVER, "--url-path",
                                      "/wdms/", "--public-key-file", self.public_key, "--ucrt-url", UCRT)
        self.assertEqual(0, code, stderr)
        os.replace(path + ".new", path)
        with open(path, "rb") as f:
            return f.read()

    def test_payload_after_a_signature_is_found_and_the_signature_still_verifies(self):
        path = self.program("signed")
        run(["osslsigncode", "sign", "-certs", self.cert, "-key", self.key, "-n", "Tolvi",
             "-in", path, "-out", path + ".signed"])
        os.replace(path + ".signed", path)
        data = self.complete(path)
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", path],
                                  capture_output=True, text=True)
        self.assertEqual(0, verified.returncode, verified.stdout + verified.stderr)

        prefix = os.path.join(self.build, "wineprefix")
        log = os.path.join(prefix, "drive_c", "ProgramData", "Velmora", "Log", "Tolvi", "stub.log")
        if os.path.exists(log):
            os.remove(log)
        subprocess.run([os.path.join(self.source, "scripts", "wine-run.sh"), prefix,
                        "Z:" + path.replace("/", "\\"), "--nocopy"],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=120)
        with open(log, "rb") as f, open(os.path.join(os.path.dirname(path), "wl.ini"), "rb") as ini:
            log, payload = f.read().decode("utf-16"), ini.read()
        self.assertIn(f"SettingProvider::ParsePayload: Using Wardline at {SERVER}, ucrt: {UCRT}", log)
        self.assertIn(" I: wWinMain: Wardline mode is active", log)
        self.assertEqual(data[self.tool.Image(data).image_size:], payload, "wl.ini is everything behind the image")
        self.assertIn(b"Velmora Payload Test Signer", payload, "the certificate table is copied too")

    def test_tool_refuses_with_one_line_and_writes_nothing(self):
        done = self.program("refusals")
        appended = self.complete(done)[len(self.image):]
        self.assertIn(f"\r\nServerAddress={SERVER}\r\n".encode(), appended, "unsigned: the profile is appended")
        settings = ["--server-address", SERVER, "--url-path", "/", "--public-key", "TWFu"]
        cases = [
            ("a second payload", done, settings),
            ("a key that is not Base64", self.program("refusals-key"), settings[:-1] + ["TWFuT"]),
            ("non-ASCII settings", self.program("refusals-ascii"),
             ["--server-address", "https://\u00fcber.example"] + settings[2:]),
            ("not a program", self.public_key, settings),
        ]
        # Cut anywhere in the headers, or before the end of the image.
        for cut in [*range(0, 1024, 12), len(self.image) - 1]:
            cases.append((f"cut at {cut}", self.program(f"cut-{cut}", self.image[:cut]), settings))
        for name, source, options in cases:
            with self.subTest(name):
                code, stderr = self.tool_main(source, self.work + "/out.exe", *options)
                self.assertEqual(1, code)
                self.assertRegex(stderr, r"^wardline_payload: error: [^\n]+\n$")
                self.assertFalse(os.path.exists(self.work + "/out.exe"))


if __name__ == "__main__":
    BUILD = sys.argv.pop(1)
    unittest.main(argv=[sys.argv[0], "-v", *sys.argv[1:]])
