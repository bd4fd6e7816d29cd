"""Whole runs under Wine that a check ends or holds up: a broken installation, too little disk
space, a back end that does not answer, and a management server whose signed certificate list
pins another server while its clock is 8 days ahead of ours.

Usage (inside tests/download/servers.py and tests/trust/make_material.sh):
    checks_test.py WINE_RUN PREFIX PROGRAM DEMO_MSI WARDLINE_PROGRAM MATERIAL

Silent runs answer every retry question with Cancel; the runs that press Retry show their windows
on a private X display. The broken installation needs no elevation and runs as a standard user;
the others run as Wine's own user (Wine 8 never elevates a standard user's token)."""
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import AGENT_KEY, REPO, SHARED_KEY, Installation  # noqa: E402

ARGS = sys.argv[1:5]
WARDLINE, MATERIAL = sys.argv[5:7]
LANGUAGE, RETRY_QUESTION = 1, 6
RETRY, CANCEL = ["Tab", "Return"], ["Return"]  # the retry question opens with the focus on Cancel
SERVER_AHEAD = 8 * 24 * 3600


class ChecksTest(unittest.TestCase):
    def start(self, program=ARGS[2]):
        return self.enterContext(Installation(ARGS[0], ARGS[1], program, ARGS[3]))

    def assertEnded(self, run, code, *lines):
        self.assertEqual(code, run.code, run.log)
        for line in lines:
            self.assertIn(line, run.log)

    def assertNothingLeft(self, env, agent=None):
        self.assertEqual([], env.work_directories())
        self.assertEqual({}, env.values(SHARED_KEY))
        self.assertEqual(agent or {}, env.values(AGENT_KEY))

    def test_one_trace_of_the_agent_is_a_broken_installation(self):
        env = self.start()
        trace = {"InstallPath": r"C:\Program Files (x86)\Velmora\Tolvi"}
        env.wine("reg", "add", AGENT_KEY, "/v", "InstallPath", "/d", trace["InstallPath"], "/f")
        self.addCleanup(env.wine, "reg", "delete", AGENT_KEY, "/f")
        run = env.run("--silent", standard_user=True)
        self.assertEnded(run, 1, "Installer::CheckExistingAgent: Broken installation detected",
                         "wWinMain: Exiting with code: 1 (Failed)")
        self.assertIn("some important files are missing", run.output)
        self.assertEqual([], env.requests(), "nothing is downloaded")
        self.assertNothingLeft(env, agent=trace)

    def test_too_little_disk_space_is_measured_again_until_cancelled(self):
        env = self.start()
        env.customize("RequiredDiskSpace", "2000000000")
        silent = env.run("--silent")
        self.assertIn("You need at least 2000000000 MB", silent.output)
        with env.dialogs():
            shown = env.run(answers=lambda kind, n: RETRY if n == 0 else CANCEL)
        for run, questions in ((silent, 1), (shown, 2)):
            with self.subTest(questions=questions):
                self.assertEnded(run, 2, "Installer::CheckEnvironment: User cancelled at disk space dialog")
                self.assertEqual(questions, run.log.count("Not enough disk space: required: 2000000000MB"))
                self.assertEqual(questions - 1, run.log.count("User retries disk space check"))
        self.assertEqual([], env.requests())
        self.assertNothingLeft(env)

    def test_a_back_end_that_does_not_answer_is_tried_again_on_retry(self):
        env = self.start()
        env.backend("stop")
        silent = env.run("--silent")
        self.assertEnded(silent, 2, "Download finished, result = DownloadFailedRetryable")
        self.assertIn("Could not download the required files. Check that your network", silent.output)
        self.assertNothingLeft(env)

        def answer(kind, n):
            if kind == LANGUAGE:
                return ["Return"]
            self.assertEqual(RETRY_QUESTION, kind)
            env.backend("start")
            return RETRY
        with env.dialogs():
            run = env.run(answers=answer)
        self.assertEnded(run, 0, "Installer::FinalizeDownload: User selected to retry download",
                         "Download finished, result = DownloadSuccess", "wWinMain: Exiting with code: 0 (Success)")
        self.assertEqual("2.4.112", env.values(AGENT_KEY).get("Version"))
        self.assertEqual([], env.work_directories())

    def test_a_certificate_refused_with_the_server_clock_8_days_off(self):
        # The management server is the fault back end over TLS, its Date header 8 days ahead; its
        # signed list pins a certificate that is not the server's own.
        docroot = os.environ["VMDL_DOCROOT_UNIX"]
        os.makedirs(os.path.join(docroot, "wdms"), exist_ok=True)
        shutil.copy(os.path.join(MATERIAL, "signed.txt"), os.path.join(docroot, "wdms", "wdmsh.dll"))
        env = self.start(WARDLINE)
        server = f"https://127.0.0.1:{os.environ['VMDL_FAULT_TLS_PORT']}/fault/clock/date={SERVER_AHEAD}"
        subprocess.run([sys.executable, os.path.join(REPO, "tools", "wardline_payload.py"), env.exe, env.exe + ".wl",
                        "--server-address", server, "--url-path", "/mgmt",
                        "--public-key-file", os.path.join(MATERIAL, "key.der")], check=True)
        os.replace(env.exe + ".wl", env.exe)
        run = env.run("--silent")
        self.assertEnded(run, 2, "wWinMain: Wardline mode is active",
                         "Downloader::ConfigureCertVerifier: Wardline certificates aquired",
                         "Download finished, result = DownloadFailedCertificateClock")
        difference = re.search(r"Local time differs from server time by (\d+) seconds", run.log)
        self.assertTrue(difference and 604800 < int(difference[1]) <= SERVER_AHEAD + 600, run.log)
        self.assertIn("Your computer's date and time are not accurate.", run.output)
        self.assertNothingLeft(env)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
