#!/usr/bin/env python3
"""The management-server payload end to end: tools/wardline_payload.py writes settings behind the
built installer (plain and Authenticode-signed with osslsigncode), the program runs under Wine,
and its log and "wl.ini" show what it made of them."""

import argparse
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
        cls.build = ARGS.build_dir
        cls.source = ARGS.source_dir
        cls.prefix = os.path.join(cls.build, "wineprefix")
        cls.work = tempfile.mkdtemp(prefix="wardline-", dir=cls.build)
        cls.tool = os.path.join(cls.source, "tools", "wardline_payload.py")
        sys.path.insert(0, os.path.join(cls.source, "tools"))

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

    def sign(self, path):
        signed = path + ".signed"
        run(["osslsigncode", "sign", "-certs", self.cert, "-key", self.key, "-n", "Tolvi",
             "-in", path, "-out", signed])
        os.replace(signed, path)

    def verify(self, path):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", path],
                              capture_output=True, text=True)

    def append(self, path, *options):
        result = subprocess.run([sys.executable, self.tool, path, path + ".new", *options],
                                capture_output=True, text=True)
        self.assertEqual(0, result.returncode, result.stderr)
        os.replace(path + ".new", path)

    def complete(self, path, ucrt=True):
        options = ["--server-address", SERVER, "--url-path", "/wdms/",
                   "--public-key-file", self.public_key]
        self.append(path, *options, *(["--ucrt-url", UCRT] if ucrt else []))

    def launch(self, path):
        """Runs the program under Wine; returns (exit code, its log lines, wl.ini bytes or None)."""
        log = os.path.join(self.prefix, "drive_c", "ProgramData", "Velmora", "Log", "Tolvi",
                           "stub.log")
        if os.path.exists(log):
            os.remove(log)
        windows_path = "Z:" + os.path.abspath(path).replace("/", "\\")
        result = subprocess.run([os.path.join(self.source, "scripts", "wine-run.sh"),
                                 self.prefix, windows_path, "--nocopy"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=120)
        with open(log, "rb") as f:
            lines = f.read().decode("utf-16").splitlines()
        ini = os.path.join(os.path.dirname(path), "wl.ini")
        payload = None
        if os.path.exists(ini):
            with open(ini, "rb") as f:
                payload = f.read()
        return result.returncode, lines, payload

    def assertLogged(self, lines, text):
        self.assertTrue(any(line.endswith(text) for line in lines),
                        f"no line ending in {text!r} in:\n" + "\n".join(lines))

    def assertNotLogged(self, lines, text):
        self.assertFalse(any(text in line for line in lines),
                         f"unexpected {text!r} in:\n" + "\n".join(lines))

    def image_end(self, path):
        import wardline_payload
        with open(path, "rb") as f:
            return wardline_payload.Image(f.read()).image_size

    def test_plain_program_has_no_payload_and_says_nothing(self):
        path = self.program("plain")
        _, lines, payload = self.launch(path)
        self.assertIsNone(payload)
        for text in ("Payload found", "Wardline", "payload", "image", "ExtractImagePayload"):
            self.assertNotLogged(lines, text)
        self.assertLogged(lines, "Exiting with code: 1 (Failed)")

    def test_complete_payload_turns_the_mode_on(self):
        path = self.program("complete")
        self.complete(path)
        _, lines, payload = self.launch(path)
        self.assertLogged(lines, "SettingProvider::ParsePayload: Payload found; reading Wardline settings...")
        self.assertLogged(lines, f"SettingProvider::ParsePayload: Using Wardline at {SERVER}, ucrt: {UCRT}")
        self.assertLogged(lines, " I: wWinMain: Wardline mode is active")
        with open(path, "rb") as f:
            self.assertEqual(f.read()[self.image_end(path):], payload)

    def test_key_of_wrong_length_keeps_the_normal_mode(self):
        path = self.program("bad-key")
        profile = os.path.join(self.work, "bad-key.ini")
        with open(profile, "w", newline="") as f:
            f.write(f"[Wardline]\r\nServerAddress={SERVER}\r\nUrlPath=/wdms/\r\nPublicKey=TWFuT\r\n"
                    f"UniversalCRTUrl={UCRT}\r\n")
        self.append(path, "--profile", profile)
        _, lines, payload = self.launch(path)
        self.assertIsNotNone(payload)
        self.assertLogged(lines, "SettingProvider::ParsePayload: Couldn't parse payload; ignoring.")
        self.assertNotLogged(lines, "Wardline mode is active")
        self.assertNotLogged(lines, "Using Wardline")

    def test_payload_without_ucrt_address_empties_it(self):
        path = self.program("no-ucrt")
        self.complete(path, ucrt=False)
        _, lines, _ = self.launch(path)
        self.assertLogged(lines, f"SettingProvider::ParsePayload: Using Wardline at {SERVER}, ucrt: ")
        self.assertLogged(lines, "wWinMain: Wardline mode is active")

    def test_payload_after_a_signature_is_found_and_the_signature_still_verifies(self):
        path = self.program("signed")
        self.sign(path)
        image_end = self.image_end(path)
        self.complete(path)
        verified = self.verify(path)
        self.assertEqual(0, verified.returncode, verified.stdout + verified.stderr)

        _, lines, payload = self.launch(path)
        self.assertLogged(lines, f"SettingProvider::ParsePayload: Using Wardline at {SERVER}, ucrt: {UCRT}")
        self.assertLogged(lines, "wWinMain: Wardline mode is active")
        with open(path, "rb") as f:
            behind = f.read()[image_end:]
        self.assertEqual(behind, payload, "wl.ini is everything behind the image")
        self.assertIn(b"Velmora Payload Test Signer", payload, "the certificate table is copied too")

    def test_signature_without_settings_is_not_a_payload(self):
        path = self.program("signed-only")
        self.sign(path)
        _, lines, payload = self.launch(path)
        self.assertIn(b"Velmora Payload Test Signer", payload)
        self.assertLogged(lines, "SettingProvider::ParsePayload: Couldn't parse payload; ignoring.")
        self.assertNotLogged(lines, "Wardline mode is active")

    def test_program_without_the_marker_ignores_a_payload(self):
        path = self.program("unmarked", source="VmNetworkInstaller.exe")
        # The test build of this program keeps its symbols behind the image, which the tool
        # refuses to append to; a payload written by hand serves as well here.
        with open(path, "ab") as f:
            f.write(f"\r\n[Wardline]\r\nServerAddress={SERVER}\r\nUrlPath=/\r\nPublicKey=TWFu\r\n".encode())
        _, lines, payload = self.launch(path)
        self.assertIsNone(payload)
        self.assertNotLogged(lines, "Payload found")
        self.assertNotLogged(lines, "Wardline")

    def test_tool_refuses_what_it_cannot_do_safely(self):
        path = self.program("refusals")
        self.complete(path)
        cases = [
            ("a second payload", [path, path + ".x", "--server-address", SERVER, "--url-path", "/",
                                  "--public-key", "TWFu"]),
            ("a key that is not Base64", [self.program("refusals-key"), path + ".y",
                                          "--server-address", SERVER, "--url-path", "/",
                                          "--public-key", "TWFuT"]),
            ("non-ASCII settings", [self.program("refusals-ascii"), path + ".z",
                                    "--server-address", "https://\u00fcber.example", "--url-path", "/",
                                    "--public-key", "TWFu"]),
        ]
        for name, arguments in cases:
            with self.subTest(name):
                result = subprocess.run([sys.executable, self.tool, *arguments],
                                        capture_output=True, text=True)
                self.assertEqual(1, result.returncode)
                self.assertIn("wardline_payload: error:", result.stderr)
                self.assertFalse(os.path.exists(arguments[1]))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v", *rest])
