"""Whole installations of the demo operator under Wine, silent, against the demo back end and the
reference administrative installer: a fresh install and the start after it, then each result of
the administrative installer to the program's exit code.

Usage: install_test.py WINE_RUN PREFIX PROGRAM DEMO_MSI

The installations run as Wine's own user: Wine never elevates a process started with a standard
user's token, so the administrative installer could not run from one. The start that finds the
product installed needs no elevation and runs as a standard user."""
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import AGENT_KEY, SHARED_KEY, Installation  # noqa: E402

ARGS = sys.argv[1:5]
NAMES = {0: "Success", 1: "Failed", 2: "Cancelled", 3: "Communication", 4: "Privileges", 5: "Integrity",
         6: "MsiServiceBusy", 7: "DiskFull", 8: "IncompatibleVersion", 99: "PendingReboot", 100: "Pending",
         101: "SuccessRebootRequired"}


class InstallTest(unittest.TestCase):
    def setUp(self):
        self.env = self.enterContext(Installation(*ARGS))

    def assertLogged(self, run, *lines):
        for line in lines:
            self.assertIn(line, run.log)

    def test_fresh_install_then_the_next_start_opens_the_agent(self):
        run = self.env.run("--silent")
        self.assertEqual(0, run.code, run.log)
        self.assertLogged(run, "Installer::FinalizeDownload: Download finished, result = DownloadSuccess",
                          "Installer::RunAdminSequence: Admin helper exited with code: 0 (Success)",
                          "Installer::MainLogic: Waiting for product install complete event from Agent",
                          "Installer::MainLogic: Product install complete event received from Agent",
                          "wWinMain: Exiting with code: 0 (Success)")
        agent = self.env.values(AGENT_KEY)
        self.assertEqual("2.4.112", agent.get("Version"))
        self.assertEqual({"6910": "6910"}, self.env.values(AGENT_KEY + r"\Operators"))
        folder = os.path.join(self.env.prefix, "drive_c", *agent["InstallPath"][3:].rstrip("\\").split("\\"))
        self.assertEqual(["TolviAgent.exe", "trigger.exe", "vmuninstall.exe"], sorted(os.listdir(folder)))
        # What the run leaves: neither its work directory nor the shared parameters.
        self.assertEqual([], self.env.work_directories())
        self.assertEqual({}, self.env.values(SHARED_KEY))

        asked = len(self.env.requests())
        again = self.env.run("--silent", standard_user=True)
        self.assertEqual(0, again.code, again.log)
        self.assertLogged(again, "Installer::CheckExistingAgent: Product already installed for operator '6910'")
        self.assertNotIn("Download finished", again.log)
        self.assertEqual(asked, len(self.env.requests()), "nothing is downloaded")
        self.assertEqual([], self.env.work_directories(), "the agent's window holds no folder of ours")

    def test_each_administrative_installer_result_is_the_exit_code(self):
        # Fail: the administrative installer's result instead of msiexec; a restart is declined
        # in a silent run, so 99 ends as Failed. With 0 no agent is installed, which signals
        # nothing: the bounded wait ends, and the installation's result stands.
        self.env.knob("Installer", "StubExitTimeoutMs", 1000)
        for fail, code in ((0, 0), (1, 1), (2, 2), (3, 3), (4, 4), (5, 5), (6, 6), (7, 7), (8, 8), (99, 1),
                           (100, 100), (101, 101)):
            with self.subTest(fail=fail):
                self.env.knob("AdminInstaller", "Fail", fail)
                run = self.env.run("--silent")
                self.assertEqual(code, run.code, run.log)
                self.assertLogged(run, f"Admin helper exited with code: {fail} ({NAMES[fail]})",
                                  f"wWinMain: Exiting with code: {code} ({NAMES[code]})")
                self.assertEqual(fail == 0, "the Agent did not confirm the installation" in run.log, run.log)
                # A run handed on (100) keeps its work directory for the run that follows.
                self.assertEqual(fail == 100, bool(self.env.work_directories()))
                for directory in self.env.work_directories():
                    shutil.rmtree(directory)
        self.assertEqual({}, self.env.values(AGENT_KEY))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
