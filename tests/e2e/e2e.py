"""The end-to-end harness: the test build of the installer run under Wine against the demo back end.

    with Installation(wine_run, prefix, program) as env:
        run = env.run("--silent")                  # exit code, this run's log and printed text
        env.knob("AdminInstaller", "Fail", 5)      # test knobs of the user's hive
        env.customize("RequiredDiskSpace", "9")    # a customization setting of the program copy
        with env.dialogs():                        # the windows on a private X display
            run = env.run(answers=lambda dialog_type, index: ["Return"])

The back end's address is built into the program (LWBEAddress, http://127.0.0.1:18080). So that
tests never meet `make demo` or each other on that port, each Installation serves the demo back end
on a free port and runs a copy of the program whose address names that port: the digits of the
port are replaced in place, which keeps every offset of the image. The prefix is the test's own
(created once and reused) and holds one installation at a time."""
import contextlib
import glob
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "gui"))
from program_testui import press  # noqa: E402
from xsession import XSession  # noqa: E402

DEMO_PORT = b"127.0.0.1:18080"
AGENT_KEY = r"HKLM\SOFTWARE\Wow6432Node\Velmora\Tolvi"  # the 32-bit view, as the agent writes it
SHARED_KEY = r"HKCU\SOFTWARE\Velmora\NetworkInstallerShared"
TEST_KEY = "HKCU\\Software\\Velmora\\Test\\"
SHOWN = re.compile(r"GuiManager::OpenDialog: Showing dialog type (\d+)")
PROGRESS = 0  # the only dialog that asks nothing


class Run:
    def __init__(self, code, log, output=""):
        self.code, self.log, self.output = code, log, output


class Installation:
    def __init__(self, wine_run, prefix, program, msi):
        self.wine_run, self.prefix, self.program, self.msi = wine_run, prefix, program, msi
        self.session = None

    def __enter__(self):
        self.temp = tempfile.mkdtemp(prefix="vm-e2e-")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        assert len(str(self.port)) == 5, self.port  # same length as 18080: the image keeps its layout
        with open(self.program, "rb") as f:
            image = f.read()
        assert image.count(DEMO_PORT) >= 1, "the program does not name the demo back end"
        self.exe = os.path.join(self.temp, os.path.basename(self.program))
        with open(self.exe, "wb") as f:
            f.write(image.replace(DEMO_PORT, b"127.0.0.1:%d" % self.port))
        self.backend_env = dict(os.environ, DEMO_BACKEND_DIR=os.path.join(self.temp, "backend"), VM_DEMO_MSI=self.msi)
        self.backend("start")
        try:
            self.wine("--start")
            self.uninstall_agent()
            for directory in self.work_directories():  # what a failed test left
                shutil.rmtree(directory, ignore_errors=True)
        except BaseException:
            self.__exit__()  # the back end and the copy go also when the start fails
            raise
        return self

    def __exit__(self, *_):
        self.uninstall_agent()
        for key in (SHARED_KEY, TEST_KEY.rstrip("\\")):
            self.wine("reg", "delete", key, "/f")
        self.backend("stop")
        self.wine("--stop")
        shutil.rmtree(self.temp, ignore_errors=True)

    def backend(self, action):
        subprocess.run([os.path.join(REPO, "scripts", "demo-backend.sh"), action, str(self.port)],
                       env=self.backend_env, check=True, stdout=subprocess.DEVNULL)

    def wine(self, *args, timeout=300):
        return subprocess.run([self.wine_run, self.prefix, *args], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=timeout, env=self.session and self.session.env)

    def customize(self, key, value):
        """Gives a customization setting of the program copy another value (its resource rewritten)."""
        tool = os.path.join(os.path.dirname(self.program), "tools", "SetCustomization.exe")
        done = self.wine(tool, self.windows_path(self.exe), key, value)
        assert done.returncode == 0, f"{key} cannot be set: {done.stderr[-300:]!r}"

    @contextlib.contextmanager
    def dialogs(self):
        """Runs inside show their windows on a private X display (no window manager)."""
        with XSession(self.wine_run, self.prefix) as session:
            self.session = session
            try:
                yield session
            finally:
                self.session = None

    def requests(self):
        """The paths the back end was asked for, in order."""
        with open(os.path.join(self.backend_env["DEMO_BACKEND_DIR"], str(self.port), "access.log")) as f:
            return [line.split('"')[1].split()[1] for line in f if '"' in line]

    def run(self, *args, standard_user=False, timeout=600, answers=None):
        """Runs the installer to its end; the log is that of this run (per user or machine-wide).
        With answers (inside dialogs()), answers(dialog type, n) gives the keys for the n-th
        dialog that asks something, when it is shown."""
        for path in self.logs():
            os.remove(path)
        command = [self.windows_path(self.exe), *args]
        if standard_user:
            command.insert(0, os.path.join(os.path.dirname(self.program), "tools", "RunAsStandardUser.exe"))
        if answers is None:
            done = self.wine(*command, timeout=timeout)
            return Run(done.returncode, self.log(), done.stdout.decode(errors="replace").replace("\r", ""))
        return Run(self.answer(command, answers, timeout), self.log())

    def answer(self, command, answers, timeout):
        assert self.session, "dialogs are answered inside dialogs()"
        process = self.session.popen_wine(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL)
        answered, deadline = 0, time.monotonic() + timeout
        try:
            while process.poll() is None and time.monotonic() < deadline:
                questions = [int(t) for t in SHOWN.findall(self.log()) if int(t) != PROGRESS]
                if len(questions) > answered:
                    time.sleep(1)  # the dialog is mapped and has its focus
                    press(self.session, answers(questions[answered], answered))
                    answered += 1
                time.sleep(0.25)
            return process.wait(timeout=30)
        finally:
            if process.poll() is None:
                process.kill()

    def log(self, paths=None):
        """The log as it is now, also while the program still writes to it."""
        text = ""
        for path in paths or self.logs():
            with open(path, "rb") as f:
                text += f.read().decode("utf-16-le", errors="ignore").lstrip("\ufeff").replace("\r", "")
        return text

    def logs(self):
        return glob.glob(os.path.join(self.prefix, "drive_c", "ProgramData", "Velmora", "Log", "Tolvi", "stub.log")) + \
            glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "AppData", "Local", "Velmora", "Log",
                                   "Tolvi", "stub.log"))

    def knob(self, program, name, value):
        self.wine("reg", "add", TEST_KEY + program, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f")

    def values(self, key):
        """The values of a key as {name: data}; empty when the key is missing."""
        out = self.wine("reg", "query", key).stdout.decode(errors="replace").replace("\r", "")
        return {parts[0]: parts[2] if len(parts) > 2 else "" for parts in
                (line.split(None, 2) for line in out.splitlines() if line.startswith("    "))}

    def work_directories(self):
        return glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "Temp", "vm*.tmp"))

    def uninstall_agent(self):
        self.wine("msiexec", "/x", self.windows_path(self.msi), "/qn")

    @staticmethod
    def windows_path(path):
        return "Z:" + path.replace("/", "\\")
