#!/usr/bin/env python3
"""The management-server payload end to end: tools/wardline_payload.py writes settings behind the
built installer (plain and Authenticode-signed with osslsigncode), the program runs under Wine,
and its log and "wl.ini" show what it made of them. What needs no Wine (a bad key, no UCRT
address, nothing appended, a profile behind a certificate table) is SettingProviderTest's."""

import argparse
import contextlib
import io
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
SERVER = "https://wardline.example:8443"
UCRT = "https://wardline.example:8443/ucrt/ucrt.exe"


def run(command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, **kwargs)


class WardlinePayload(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.build, cls.source = ARGS.build_dir, ARGS.source_dir
        cls.prefix = os.path.join(cls.build, "wineprefix")
        cls.work = tempfile.mkdtemp(prefix="wardline-", dir=cls.build)
        sys.path.insert(0, os.path.join(cls.source, "tools"))
        import wardline_payload
        cls.tool = wardline_payload

        # A throw-away signer, and a public key the payload carries.
        cls.key = os.path.join(cls.work, "signer.key")
        cls.cert = os.path.join(cls.work, "signer.pem")
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
             "-subj", "/CN=Velmora Payload Test Signer", "-keyout", cls.key, "-out", cls.cert])
        cls.public_key = os.path.join(cls.work, "server.der")
        pem = run(["openssl", "x509", "-in", cls.cert, "-pubkey", "-noout"]).stdout
        run(["openssl", "pkey", "-pubin", "-outform", "DER", "-out", cls.public_key], input=pem)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def program(self, name, source="VmNetworkInstallerWardline.exe"):
        """A fresh folder with a copy of a built program; the program writes wl.ini there."""
        folder = os.path.join(self.work, name)
        os.makedirs(folder)
        target = os.path.join(folder, "installer.exe")
        shutil.copyfile(os.path.join(self.build, source), target)
        return target

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

    def sign(self, path):
        run(["osslsigncode", "sign", "-certs", self.cert, "-key", self.key, "-n", "Tolvi",
             "-in", path, "-out", path + ".signed"])
        os.replace(path + ".signed", path)

    def launch(self, path):
        """Runs the program under Wine; returns (its log text, wl.ini bytes or None)."""
        log = os.path.join(self.prefix, "drive_c", "ProgramData", "Velmora", "Log", "Tolvi", "stub.log")
        if os.path.exists(log):
            os.remove(log)
        subprocess.run([os.path.join(self.source, "scripts", "wine-run.sh"), self.prefix,
                        "Z:" + os.path.abspath(path).replace("/", "\\"), "--nocopy"],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=120)
        with open(log, "rb") as f:
            text = f.read().decode("utf-16")
        ini = os.path.join(os.path.dirname(path), "wl.ini")
        if not os.path.exists(ini):
            return text, None
        with open(ini, "rb") as f:
            return text, f.read()

    def behind_image(self, path):
        with open(path, "rb") as f:
            data = f.read()
        return data[self.tool.Image(data).image_size:]

    def test_complete_payload_turns_the_mode_on(self):
        path = self.program("complete")
        self.complete(path)
        log, payload = self.launch(path)
        self.assertIn(f"SettingProvider::ParsePayload: Using Wardline at {SERVER}, ucrt: {UCRT}", log)
        self.assertIn(" I: wWinMain: Wardline mode is active", log)
        self.assertEqual(self.behind_image(path), payload)

    def test_payload_after_a_signature_is_found_and_the_signature_still_verifies(self):
        path = self.program("signed")
        self.sign(path)
        self.complete(path)
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", path],
                                  capture_output=True, text=True)
        self.assertEqual(0, verified.returncode, verified.stdout + verified.stderr)

        log, payload = self.launch(path)
        self.assertIn(f"SettingProvider::ParsePayload: Using Wardline at {SERVER}, ucrt: {UCRT}", log)
        self.assertIn("wWinMain: Wardline mode is active", log)
        self.assertEqual(self.behind_image(path), payload, "wl.ini is everything behind the image")
        self.assertIn(b"Velmora Payload Test Signer", payload, "the certificate table is copied too")

    def test_program_without_the_marker_ignores_a_payload(self):
        path = self.program("unmarked", source="VmNetworkInstaller.exe")
        # The test build keeps its symbols behind the image, which the tool refuses to append
        # to; a payload written by hand serves as well here.
        with open(path, "ab") as f:
            f.write(f"\r\n[Wardline]\r\nServerAddress={SERVER}\r\nUrlPath=/\r\nPublicKey=TWFu\r\n".encode())
        log, payload = self.launch(path)
        self.assertIsNone(payload)
        self.assertNotIn("Payload found", log)
        self.assertNotIn("Wardline", log)

    def test_tool_refuses_with_one_line_and_writes_nothing(self):
        done = self.program("refusals")
        self.complete(done)
        with open(os.path.join(self.build, "VmNetworkInstallerWardline.exe"), "rb") as f:
            image = f.read()
        truncated = os.path.join(self.work, "truncated.exe")
        settings = ["--server-address", SERVER, "--url-path", "/", "--public-key", "TWFu"]
        cases = [
            ("a second payload", done, settings),
            ("a key that is not Base64", self.program("refusals-key"), settings[:-1] + ["TWFuT"]),
            ("non-ASCII settings", self.program("refusals-ascii"),
             ["--server-address", "https://\u00fcber.example"] + settings[2:]),
            ("not a program", self.public_key, settings),
        ]
        # Cut anywhere in the headers, or before the end of the image.
        cases += [(f"cut at {cut}", truncated, settings) for cut in [*range(0, 1024, 12), len(image) - 1]]
        for name, source, options in cases:
            with self.subTest(name):
                if source == truncated:
                    with open(truncated, "wb") as f:
                        f.write(image[:int(name.split()[-1])])
                code, stderr = self.tool_main(source, self.work + "/out.exe", *options)
                self.assertEqual(1, code)
                self.assertRegex(stderr, r"^wardline_payload: error: [^\n]+\n$")
                self.assertFalse(os.path.exists(self.work + "/out.exe"))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v", *rest])
