"""The demo back end on a free port: the operator's document at the URL the installer asks for (also
with a provisioning group), each package it names as demo/ has it; start, stop and a taken port."""
import io, os, re, socket, subprocess, tempfile, unittest, urllib.error, urllib.request, zipfile
import xml.etree.ElementTree as ET

REPO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
PACKAGES = os.path.join(REPO, "demo", "packages")
PROPERTIES = open(os.path.join(REPO, "resources", "customization.properties"), encoding="utf-8").read()
OPERATOR = re.search(r"^OperatorID=(\d+)", PROPERTIES, re.M).group(1)
LANGUAGES = list(dict.fromkeys(re.findall(r"^([\w-]+):", PROPERTIES, re.M)))


def fetch(url):
    return urllib.request.urlopen(url, timeout=10).read()  # raises on anything but 2xx


def unzip(url):
    with zipfile.ZipFile(io.BytesIO(fetch(url))) as z:
        return {n: z.read(n) for n in z.namelist()}


def tree(name):
    return {n: open(os.path.join(PACKAGES, name, n), "rb").read() for n in os.listdir(os.path.join(PACKAGES, name))}


class DemoBackendTest(unittest.TestCase):
    def setUp(self):
        self.env = {**os.environ, "DEMO_BACKEND_DIR": self.enterContext(tempfile.TemporaryDirectory())}
        msi = self.env["VM_DEMO_MSI"] = os.path.join(self.env["DEMO_BACKEND_DIR"], "linkwell.msi")
        open(msi, "wb").write(b"an MSI")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]

    def script(self, action, port=None):
        return subprocess.run([os.path.join(REPO, "scripts", "demo-backend.sh"), action,
                               str(port or self.port)], env=self.env, capture_output=True, text=True)

    def url(self, operator=OPERATOR, group=""):  # LWBEAddress with this port, as BuildStubConfigUrl puts it
        return (f"http://127.0.0.1:{self.port}/packaging/services/spi/stubconfiguration?operatorId={operator}"
                f"&version=55{group and '&provisioningGroup=' + group}")

    def test_serves_the_document_and_its_packages(self):
        self.assertEqual([0, 0], [self.script("start").returncode for _ in range(2)])
        self.addCleanup(self.script, "stop")
        document = fetch(self.url())
        self.assertEqual(document, fetch(self.url(group="east&west")))
        self.assertRaisesRegex(urllib.error.HTTPError, "404", fetch, self.url("1"))
        response = ET.fromstring(document)
        self.assertEqual(tree("settings"), unzip(response.findtext("ORLBasicSettingsUrl")))
        entries = response.findall("stubCustomizations/stubCustomization")
        self.assertEqual(LANGUAGES, [e.findtext("language") for e in entries])
        texts = tree("localization")
        for e in entries:
            name = e.findtext("language") + ".properties"
            for kind, expected in (("Localization", {name: texts.get(name, texts["en.properties"])}),
                                   ("Customization", tree("customization")), ("Help", tree("help"))):
                self.assertEqual(expected, unzip(e.findtext(f"ORLBasic{kind}Url")), name)

    def test_refuses_a_taken_port_and_stops_idempotently(self):
        with socket.create_server(("127.0.0.1", 0)) as taken:
            refused = self.script("start", taken.getsockname()[1])
        self.assertEqual((1, 1), (refused.returncode, len(refused.stderr.splitlines())), refused.stderr)
        for action, code in (("start", 0), ("stop", 0), ("stop", 0), ("status", 3)):
            self.assertEqual(code, self.script(action).returncode, action)


if __name__ == "__main__":
    unittest.main()
