"""Installations that hand the run on under Wine: to a newer build of the installer, to the
scanning tool and back, past an earlier product, and across a restart.

Usage: handover_test.py WINE_RUN PREFIX PROGRAM DEMO_MSI NEWER_PROGRAM SCAN_TOOL MATERIAL
(MATERIAL: the folder for make_signed.sh's certificates and signed programs)

Silent where the silent answers lead the way; with dialogs on a private display where a scan or a
restart has to be chosen (a silent run skips both). The installations run as Wine's own user, as
in install_test.py. A restart is shown up to Windows' part: the knob SkipExitWindows keeps Wine's
prefix alive, and the RunOnce command is then started as the logon would."""
import filecmp
import glob
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import AGENT_KEY, SHARED_KEY  # noqa: E402
from e2e_handover import NEWER_VERSION, Maker, Offering  # noqa: E402

WINE_RUN, PREFIX, PROGRAM, MSI, NEWER, SCAN_TOOL, MATERIAL = sys.argv[1:8]
RUN_ONCE = r"\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce"
SUCCESS = "wWinMain: Exiting with code: 0 (Success)"
# Keys per dialog type: language (Next has the focus), reboot and confirmation (Tab to the
# affirmative button from the focused Cancel).
KEYS = {1: ["Return"], 7: ["Tab", "Return"], 8: ["Tab", "Return"]}


def answers(dialog_type, _):
    return KEYS[dialog_type]


class HandoverTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.enterClassContext(Maker(WINE_RUN, PREFIX, SCAN_TOOL, MATERIAL))

    def start(self, dialogs=False, **offers):
        self.env = self.enterContext(Offering(WINE_RUN, PREFIX, PROGRAM, MSI, MATERIAL, **offers))
        self.env.knob("Installer", "StubExitTimeoutMs", 60000)
        if dialogs:
            self.enterContext(self.env.dialogs())
        return self.env

    def assertInstalled(self):
        self.assertEqual({"6910": "6910"}, self.env.values(AGENT_KEY + r"\Operators"))
        self.assertEqual({}, self.env.values(SHARED_KEY))

    def test_self_upgrade_runs_the_newer_build_which_copies_itself_back(self):
        env = self.start(upgrade=NEWER)
        run = env.run("--silent")
        self.assertEqual(100, run.code, run.log)
        for line in ("Downloader::ShouldSelfUpgrade: Self-upgrade is needed, current: 3.17.127, available: "
                     + NEWER_VERSION, "Installer::HandleUpgrade: User accepted self-upgrade",
                     "Installer::HandleUpgrade: Self-upgrade launched", "wWinMain: Exiting with code: 100 (Pending)"):
            self.assertIn(line, run.log)
        # The newer build was started detached and works on after the older one ended.
        log = env.wait_for_log(SUCCESS)
        self.assertIn(f"Binary version: {NEWER_VERSION}.0", log)
        copied = log.split("Installer::CopyInstallerBack: Copied self to '", 1)[1].split("'", 1)[0]
        older = os.path.join(env.prefix, "drive_c", *copied[3:].split("\\"))
        self.assertTrue(filecmp.cmp(env.newer, older, shallow=False), "the older file holds the newer build")
        self.assertInstalled()
        # It ran from the older run's work directory and removes itself there a moment after its end;
        # the older run's folders stay, as after every run that ended Pending.
        self.assertTrue(env.wait(lambda: not glob.glob(os.path.join(env.prefix, "drive_c", "users", "*", "Temp",
                                                                    "vm*.tmp", "*Upgrade.exe")), 60))
        for directory in env.work_directories():
            shutil.rmtree(directory)

    def test_scan_hands_over_and_the_resumed_instance_wakes_the_first(self):
        env = self.start(dialogs=True, scan=True)
        run = env.run(answers=answers)
        self.assertEqual(0, run.code, run.log)
        # The tool started the program without options: it took the saved resume parameters.
        for line in ("Installer::HandleTrawl: Trawl launched", "(saved): ", " --noscan --resume ",
                     "wWinMain: Resumed waiting stub. Exiting.", "InstallerExt::WaitForResume: Received resume event",
                     "Installer::RunAdminSequence: Admin helper exited with code: 0 (Success)", SUCCESS):
            self.assertIn(line, run.log)
        self.assertNotIn("ResumeParams", env.values(SHARED_KEY))
        self.assertInstalled()

    def test_a_scanning_tool_that_starts_nothing_leaves_the_run_to_the_next_start(self):
        # Closed by the user, the tool ends without starting the program: the hidden first instance
        # gives up a moment later, and the next start of the program resumes the run.
        env = self.start(dialogs=True, scan=True)
        env.knob("ScanTool", "Launch", 0)
        env.knob("Installer", "ResumeAfterToolMs", 2000)
        first = env.run(answers=answers)
        self.assertEqual(100, first.code, first.log)
        self.assertIn("InstallerExt::WaitForResume: No resumed instance after the scanning tool ended", first.log)
        resumed = env.run(answers=answers)
        self.assertEqual(0, resumed.code, resumed.log)
        for line in ("(saved): ", "Installer::SetupWorkDirectory: Resume with directory", SUCCESS):
            self.assertIn(line, resumed.log)
        self.assertInstalled()
        for directory in env.work_directories():  # the first instance's own copy
            shutil.rmtree(directory)

    def test_earlier_product_is_removed_by_hand_or_by_the_administrative_installer(self):
        env = self.start()
        for operators, code, lines in (
                (["1234", "5678"], 2, ["Multiple operators installed - manual removal required",
                                       "User clicked 'Cancel' at manual removal page"]),
                (["1234"], 0, ["Operator '1234' is not migratable - remove if user allows",
                               "User clicked 'Next' at auto-removal page", SUCCESS])):
            with self.subTest(operators=operators):
                env.earlier_product(operators)
                env.admin_log(clear=True)
                run = env.run("--silent")
                self.assertEqual(code, run.code, run.log)
                for line in lines:
                    self.assertIn(line, run.log)
                # The earlier agent's uninstaller ran in the removing step, or nothing was started.
                self.assertEqual(code == 0, "AdminInstaller::RemovePrevious: Exit code: 0" in env.admin_log())
                env.remove_product()

    def test_restart_is_registered_and_the_run_after_it_installs(self):
        env = self.start(dialogs=True)
        env.knob("AdminInstaller", "Fail", 99)
        env.knob("Reboot", "SkipExitWindows", 1)
        run = env.run(answers=answers)
        self.assertEqual(99, run.code, run.log)
        self.assertIn("Reboot::RebootWindows: Test knob set: ExitWindowsEx not called", run.log)
        command = env.values(f"HKU\\{env.user_sid()}{RUN_ONCE}")["VelmoraNetworkInstallerAutoRestart"]
        self.assertIn("--resume", env.values(SHARED_KEY)["ResumeParams"])
        self.assertTrue(env.work_directories(), "the work directory waits for the run after the restart")

        env.wine("reg", "delete", r"HKCU\Software\Velmora\Test\AdminInstaller", "/f")
        for path in env.logs():
            os.remove(path)
        code = env.answer([command.strip('"')], answers, 600)
        log = env.log()
        self.assertEqual(0, code, log)
        self.assertIn("Installer::SetupWorkDirectory: Resume with directory", log)
        self.assertIn(SUCCESS, log)
        self.assertInstalled()
        for directory in env.work_directories():
            shutil.rmtree(directory)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
