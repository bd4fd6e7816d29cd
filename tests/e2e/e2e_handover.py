"""What the hand-over scenarios add to the harness (e2e.py): the back end offering a newer
installer or the scanning tool signed as the maker, an earlier product's traces, and waits for the
instances a run leaves running behind it."""
import hashlib
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from e2e import AGENT_KEY, DEMO_PORT, Installation  # noqa: E402

NEWER_VERSION = "3.17.128"


class Maker:
    """make_signed.sh's material in folder (maker.exe: the scanning tool signed as the maker; the
    maker's certificate and key), with its root trusted in the prefix while the context is open."""

    def __init__(self, wine_run, prefix, scan_tool, folder):
        self.wine_run, self.prefix, self.scan_tool, self.folder = wine_run, prefix, scan_tool, folder

    def __enter__(self):
        # make_signed.sh runs a Windows test; ours is this Python process, so it runs none.
        subprocess.run([os.path.join(HERE, "..", "signature", "make_signed.sh"), self.folder, self.scan_tool,
                        self.wine_run, self.prefix, "cmd", "/c", "exit", "0"], check=True)
        root = os.path.join(self.folder, "root.pem")
        der = subprocess.run(["openssl", "x509", "-in", root, "-outform", "DER"], check=True,
                             capture_output=True).stdout
        self.fingerprint = hashlib.sha1(der).hexdigest().upper()
        with open(os.path.join(self.folder, "root.der"), "wb") as f:
            f.write(der)
        tool = os.path.join(os.path.dirname(self.scan_tool), "TrustTestRoot.exe")
        subprocess.run([self.wine_run, self.prefix, tool, Installation.windows_path(f.name)], check=True)
        return self

    def __exit__(self, *_):
        for hive in ("HKLM", "HKCU"):
            subprocess.run([self.wine_run, self.prefix, "reg", "delete",
                            hive + "\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + self.fingerprint,
                            "/f"], capture_output=True)


class Offering(Installation):
    """The demo back end offering the newer build (upgrade=its program) and/or the scanning tool.
    material is make_signed.sh's folder: maker.exe is the scanning tool signed as the maker, and
    the newer build is signed with the same certificate once the port is written into it."""

    def __init__(self, wine_run, prefix, program, msi, material, upgrade=None, scan=False):
        super().__init__(wine_run, prefix, program, msi)
        self.material, self.upgrade, self.scan = material, upgrade, scan

    def backend(self, action):
        if action == "start" and self.upgrade:
            with open(self.upgrade, "rb") as f:
                image = f.read().replace(DEMO_PORT, b"127.0.0.1:%d" % self.port)
            unsigned, self.newer = os.path.join(self.temp, "next.exe"), os.path.join(self.temp, "newer.exe")
            with open(unsigned, "wb") as f:
                f.write(image)
            subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(self.material, "maker.pem"),
                            "-key", os.path.join(self.material, "maker.key"), "-h", "sha256", "-in", unsigned,
                            "-out", self.newer], check=True, stdout=subprocess.DEVNULL)
            self.backend_env["VM_DEMO_UPGRADE"] = f"{NEWER_VERSION}={self.newer}"
        if action == "start" and self.scan:
            self.backend_env["VM_DEMO_SCAN_TOOL"] = os.path.join(self.material, "maker.exe")
        super().backend(action)

    @staticmethod
    def wait(done, limit):
        """Waits until done() holds, for instances that outlive the run; what done() says last."""
        deadline = time.monotonic() + limit
        while not done() and time.monotonic() < deadline:
            time.sleep(0.5)
        return done()

    def wait_for_log(self, line, limit=600):
        """The log once it holds line (or after limit seconds)."""
        self.wait(lambda: line in self.log(), limit)
        return self.log()

    def admin_log(self, clear=False):
        """The administrative installer's log (machine-wide: it runs elevated); clear removes it."""
        path = os.path.join(self.prefix, "drive_c", "ProgramData", "Velmora", "Log", "Tolvi", "admin.log")
        if clear and os.path.exists(path):
            os.remove(path)
        return self.log([path]) if os.path.exists(path) else ""

    def earlier_product(self, operators):
        """The demo agent installed for the first operator, the other operators registered beside it."""
        self.wine("msiexec", "/i", self.windows_path(self.msi), "OPERATORID=" + operators[0], "/qn")
        for operator in operators[1:]:
            self.wine("reg", "add", AGENT_KEY + r"\Operators", "/v", operator, "/d", operator, "/f")

    def remove_product(self):
        """The agent uninstalled, and what its package did not write with it."""
        self.uninstall_agent()
        self.wine("reg", "delete", AGENT_KEY, "/f")

    def user_sid(self):
        """Wine's own user's SID, the key of its hive under HKEY_USERS."""
        out = self.wine("reg", "query", "HKU").stdout.decode(errors="replace")
        return next(key.split("\\")[-1] for key in out.split() if re.search(r"\\S-1-5-21-[\d-]+$", key))
