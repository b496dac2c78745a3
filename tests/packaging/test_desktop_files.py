#!/usr/bin/env python3
"""The files a desktop reads: the menu entry and the metainfo as their validators see
them, and the FBX file type as the MIME database compiles it, against the test files and
every extension the viewer opens.

Arguments: VERSION DESKTOP_ENTRY METAINFO MIME_XML SOURCE_DIR"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

VERSION, DESKTOP, METAINFO, MIME_XML, SOURCE = sys.argv[1:6]
SYSTEM_MIME = "/usr/share/mime"
FBX_TYPE = "model/x-fbx"


def tool(name):
    path = shutil.which(name)
    assert path, name + " missing: scripts/install-deps installs it"
    return path


def desktop_mime_types():
    with open(DESKTOP, encoding="utf-8") as f:
        line = next(l for l in f if l.startswith("MimeType="))
    return [t for t in line.strip()[len("MimeType="):].split(";") if t]


def compiled_database(folder):
    """Our MIME package alone, compiled as update-mime-database does on install."""
    os.makedirs(os.path.join(folder, "packages"))
    shutil.copy(MIME_XML, os.path.join(folder, "packages", "lumbrix.xml"))
    proc = subprocess.run([tool("update-mime-database"), folder], capture_output=True, text=True)
    assert proc.returncode == 0 and "rror" not in proc.stderr, proc.stderr
    return folder


def magic_rules(path):
    """(type, offset, bytes) of each match in a compiled `magic` file (no masks or ranges)."""
    with open(path, "rb") as f:
        data = f.read()
    rules, kind, i = [], None, data.index(b"\n") + 1
    while i < len(data):
        if data[i:i + 1] == b"[":
            end = data.index(b"]\n", i)
            kind = data[i + 1:end].split(b":", 1)[1].decode()
            i = end + 2
            continue
        gt = data.index(b">", i)
        eq = data.index(b"=", gt)
        length = int.from_bytes(data[eq + 1:eq + 3], "big")
        rules.append((kind, int(data[gt + 1:eq]), data[eq + 3:eq + 3 + length]))
        i = data.index(b"\n", eq + 3 + length) + 1
    return rules


def globs(folder):
    """{lower-case extension: set of types} from a database's globs2."""
    found = {}
    with open(os.path.join(folder, "globs2"), encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\n").split(":")
            if len(parts) >= 3 and re.fullmatch(r"\*\.[\w+-]+", parts[2]):
                found.setdefault(parts[2][2:].lower(), set()).add(parts[1])
    return found


def viewer_extensions():
    """Model extensions, and the movie and picture ones from the viewer's own lists: the
    brace lists in its source that hold "mp4" or "png"."""
    found = set()
    for path in glob.glob(os.path.join(SOURCE, "sources", "*.[ch]*")) + glob.glob(os.path.join(SOURCE, "viewer", "*.[ch]*")):
        with open(path, encoding="utf-8") as f:
            for block in re.findall(r"\{([^{}]*)\}", f.read()):
                words = re.findall(r'"(\w+)"', block)
                if "mp4" in words or "png" in words:
                    found.update(words)
    assert {"mp4", "png"} <= found, "the viewer's extension lists were not found"
    return {"obj", "fbx"} | found


class Validators(unittest.TestCase):
    def test_desktop_entry_passes_desktop_file_validate(self):
        proc = subprocess.run([tool("desktop-file-validate"), DESKTOP], capture_output=True, text=True)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        self.assertNotIn("error:", proc.stdout + proc.stderr)

    def test_metainfo_passes_appstreamcli_and_names_this_release_and_entry(self):
        proc = subprocess.run([tool("appstreamcli"), "validate", "--no-net", "--strict", METAINFO],
                              capture_output=True, text=True)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        root = ET.parse(METAINFO).getroot()
        self.assertEqual(root.find("launchable").text, os.path.basename(DESKTOP))
        self.assertEqual([r.get("version") for r in root.iter("release")][0], VERSION)


class FileTypes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.ours = compiled_database(os.path.join(cls.scratch.name, "mime"))

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_fbx_magic_tells_every_test_fbx_and_no_obj(self):
        rules = [(o, v) for kind, o, v in magic_rules(os.path.join(self.ours, "magic")) if kind == FBX_TYPE]
        self.assertTrue(rules)
        data = os.path.join(SOURCE, "tests", "data")
        files = glob.glob(os.path.join(data, "**", "*.fbx"), recursive=True)
        files += glob.glob(os.path.join(data, "**", "*.obj"), recursive=True)
        heads = []
        for path in files:
            with open(path, "rb") as f:
                head = f.read(64)
            with self.subTest(os.path.relpath(path, data)):
                matched = any(head.startswith(value, offset) for offset, value in rules)
                self.assertEqual(matched, path.endswith(".fbx"))
                heads.append(head)
        for start in (b"Kaydara FBX Binary", b"; FBX "):  # binary and ASCII files both met
            self.assertTrue(any(h.startswith(start) for h in heads), start)

    def test_the_entry_declares_a_known_type_for_every_extension_the_viewer_opens(self):
        declared = desktop_mime_types()
        known = set()
        for folder in (SYSTEM_MIME, self.ours):
            with open(os.path.join(folder, "types"), encoding="utf-8") as f:
                known |= set(f.read().split())
        self.assertEqual([t for t in declared if t not in known], [])
        by_extension = globs(SYSTEM_MIME)
        for extension, types in globs(self.ours).items():
            by_extension.setdefault(extension, set()).update(types)
        for extension in sorted(viewer_extensions()):
            with self.subTest(extension):
                self.assertTrue(by_extension.get(extension, set()) & set(declared),
                                "*.%s is %s" % (extension, by_extension.get(extension)))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
