#!/usr/bin/env python3
"""Lays out the demo back end for one port:

    layout.py STATE PORT

STATE/root/stubconfiguration/<operator id>.xml  the stub configuration (nginx maps the request)
STATE/root/packages/...                         the packages it names: zips of demo/packages/, the MSI
                                                built from demo/msi/ ($VM_DEMO_MSI instead, if set)
STATE/root/support/...                          pages the installer links to
STATE/nginx.conf                                from demo/nginx.conf.in

Offers for the hand-overs, when set (tests; the demo offers neither):
$VM_DEMO_UPGRADE=VERSION=PATH  a newer installer: stubUpgradeVersion, stubUpgradeUrl to PATH's copy
$VM_DEMO_SCAN_TOOL=PATH        the scanning tool: trawlUrl to PATH's copy

The operator and its languages are the installer's own (resources/customization.properties),
so the document offers exactly the languages the installer can choose. Files whose bytes did
not change are left alone: their Last-Modified stays, and a resumed download stays valid."""

import io
import os
import sys
import xml.etree.ElementTree as ET
import zipfile

DEMO = os.path.dirname(os.path.abspath(__file__))
PACKAGES = os.path.join(DEMO, "packages")
PROPERTIES = os.path.join(DEMO, "..", "resources", "customization.properties")
# The product package, built by wixl from demo/msi/ in the test build (the demo runs that build).
MSI = os.environ.get("VM_DEMO_MSI") or os.path.join(DEMO, "..", "build", "win64", "demo", "msi", "linkwell.msi")


def operator(path):
    """The operator id and the language tags, in the order the file names them."""
    operator_id, languages = "", []
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            key, _, value = line.partition("=")
            tag, colon, key = key.rpartition(":")
            if colon and tag not in languages:
                languages.append(tag)
            elif not colon and key == "OperatorID":
                operator_id = value
    return operator_id, languages


def write(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def zipped(files):
    """A zip of {name: bytes} with fixed times, so that the same sources give the same bytes."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in sorted(files.items()):
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            info.external_attr = 0o644 << 16
            z.writestr(info, data, zipfile.ZIP_DEFLATED)
    return out.getvalue()


def folder(name):
    base = os.path.join(PACKAGES, name)
    files = {}
    for parent, _, names in os.walk(base):
        for n in names:
            path = os.path.join(parent, n)
            with open(path, "rb") as f:
                files[os.path.relpath(path, base).replace(os.sep, "/")] = f.read()
    return files


def offers():
    """The hand-overs on offer: [(URL element, path under packages/, source file, other elements)]."""
    found = []
    if os.environ.get("VM_DEMO_UPGRADE"):
        version, _, source = os.environ["VM_DEMO_UPGRADE"].partition("=")
        found.append(("stubUpgradeUrl", "upgrade/VmNetworkInstaller.exe", source, {"stubUpgradeVersion": version}))
    if os.environ.get("VM_DEMO_SCAN_TOOL"):
        found.append(("trawlUrl", "scan/CleanupTool.exe", os.environ["VM_DEMO_SCAN_TOOL"], {}))
    return found


def document(base, languages):
    response = ET.Element("response")
    ET.SubElement(response, "tolviInstallerDownloadURL").text = f"{base}/packages/linkwell.msi"
    ET.SubElement(response, "ORLBasicSettingsUrl").text = f"{base}/packages/settings.zip"
    # Without an offer this installer is the newest, and a scan is not asked for.
    for element, name, _, more in offers():
        for key, value in more.items():
            ET.SubElement(response, key).text = value
        ET.SubElement(response, element).text = f"{base}/packages/{name}"
    entries = ET.SubElement(response, "stubCustomizations")
    for language in languages:
        entry = ET.SubElement(entries, "stubCustomization")
        ET.SubElement(entry, "language").text = language
        ET.SubElement(entry, "ORLBasicLocalizationUrl").text = \
            f"{base}/packages/{language}/localization.zip"
        ET.SubElement(entry, "ORLBasicCustomizationUrl").text = f"{base}/packages/customization.zip"
        ET.SubElement(entry, "ORLBasicHelpUrl").text = f"{base}/packages/help.zip"
    ET.indent(response)
    text = ET.tostring(response, encoding="unicode")
    return f'<?xml version="1.0" encoding="UTF-8"?>\n{text}\n'.encode()


def main(state, port):
    root = os.path.join(state, "root")
    base = f"http://127.0.0.1:{port}"
    operator_id, languages = operator(PROPERTIES)
    write(os.path.join(root, "stubconfiguration", f"{operator_id}.xml"), document(base, languages))

    packages = os.path.join(root, "packages")
    try:
        with open(MSI, "rb") as f:
            write(os.path.join(packages, "linkwell.msi"), f.read())
    except OSError as e:
        sys.exit(f"layout.py: no product MSI ({e.strerror}: {MSI}); build the win64 preset first")
    for _, name, source, _ in offers():
        with open(source, "rb") as f:
            write(os.path.join(packages, name), f.read())
    for name in ("settings", "customization", "help"):
        write(os.path.join(packages, f"{name}.zip"), zipped(folder(name)))
    # One localization package per language; languages without texts of their own get English.
    texts = folder("localization")
    for language in languages:
        own = texts.get(f"{language}.properties", texts["en.properties"])
        write(os.path.join(packages, language, "localization.zip"),
              zipped({f"{language}.properties": own}))

    for name in os.listdir(os.path.join(DEMO, "support")):
        with open(os.path.join(DEMO, "support", name), "rb") as f:
            write(os.path.join(root, "support", name), f.read())

    with open(os.path.join(DEMO, "nginx.conf.in"), encoding="utf-8") as f:
        conf = f.read()
    for key, value in (("STATE", state), ("ROOT", root), ("PORT", str(port))):
        conf = conf.replace(f"@{key}@", value)
    write(os.path.join(state, "nginx.conf"), conf.encode())
    for name in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
        os.makedirs(os.path.join(state, "tmp", name), exist_ok=True)


if __name__ == "__main__":
    if len(sys.argv) != 3 or not sys.argv[2].isdigit():
        sys.exit("usage: layout.py STATE PORT")
    main(os.path.abspath(sys.argv[1]), int(sys.argv[2]))
