#!/usr/bin/env python3
"""The Debian package as `make package` makes it: built with cpack into a scratch folder,
unpacked with dpkg-deb, and the unpacked programs run from there without a display.

Arguments: CPACK CPACK_CONFIG VERSION TEST_DATA_DIR"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

CPACK, CONFIG, VERSION, DATA = sys.argv[1:5]
PROGRAMS = ["Lumbrix", "Varnel", "lumbrix-inspect", "lumbrix-render"]
ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256, 512]
ENV = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}


def run(*args, **kwargs):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=240, **kwargs)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", head[16:24])


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        out = os.path.join(cls.scratch.name, "out")
        proc = run(CPACK, "--config", CONFIG, "-B", out)
        assert proc.returncode == 0, proc.stdout + proc.stderr
        arch = run("dpkg", "--print-architecture").stdout.strip()
        cls.deb = os.path.join(out, "lumbrix_%s_%s.deb" % (VERSION, arch))
        assert os.path.isfile(cls.deb), os.listdir(out)
        cls.root = os.path.join(cls.scratch.name, "root")
        proc = run("dpkg-deb", "-x", cls.deb, cls.root)
        assert proc.returncode == 0, proc.stderr
        cls.files = sorted(os.path.relpath(os.path.join(d, n), cls.root)
                           for d, _, names in os.walk(cls.root) for n in names)

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def field(self, name):
        return run("dpkg-deb", "-f", self.deb, name).stdout.strip()

    def test_control_fields(self):
        self.assertEqual((self.field("Package"), self.field("Version"), self.field("Section")),
                         ("lumbrix", VERSION, "graphics"))
        self.assertTrue(self.field("Maintainer"))
        self.assertTrue(self.field("Description"))
        # Found by dpkg-shlibdeps from the programs, not listed by hand.
        depends = self.field("Depends")
        for library in ("libqt6widgets6", "libavcodec", "libsdl2", "libc6"):
            self.assertIn(library, depends)

    def test_only_the_programs_and_desktop_files_under_usr(self):
        self.assertEqual([f for f in self.files if not f.startswith("usr/")], [])
        self.assertEqual(sorted(f for f in self.files if f.startswith("usr/bin/")),
                         sorted("usr/bin/" + p for p in PROGRAMS))
        self.assertEqual([f for f in self.files if f.endswith((".a", ".h", ".cmake"))], [])
        expected = ["usr/share/applications/lumbrix.desktop", "usr/share/mime/packages/lumbrix.xml",
                    "usr/share/icons/hicolor/scalable/apps/lumbrix.svg"]
        expected += ["usr/share/icons/hicolor/%dx%d/apps/lumbrix.png" % (s, s) for s in ICON_SIZES]
        for name in expected:
            self.assertIn(name, self.files)
        metainfo = [f for f in self.files if f.startswith("usr/share/metainfo/")]
        self.assertEqual(len(metainfo), 1)
        self.assertTrue(metainfo[0].endswith(".metainfo.xml"), metainfo)
        pages = [f for f in self.files if f.startswith("usr/share/man/man1/")]
        self.assertEqual(sorted(os.path.basename(f).split(".")[0] for f in pages), sorted(PROGRAMS))
        for page in pages:
            with open(os.path.join(self.root, page), encoding="utf-8") as f:
                self.assertIn('"Lumbrix %s"' % VERSION, f.readline(), page)

    def test_each_icon_is_drawn_at_its_size(self):
        for size in ICON_SIZES:
            path = os.path.join(self.root, "usr/share/icons/hicolor/%dx%d/apps/lumbrix.png" % (size, size))
            self.assertEqual(png_size(path), (size, size))

    def test_unpacked_programs_answer_version_without_a_display(self):
        for program in PROGRAMS:
            with self.subTest(program):
                proc = run(os.path.join(self.root, "usr/bin", program), "--version", env=ENV)
                self.assertEqual((proc.returncode, proc.stdout), (0, "%s %s\n" % (program, VERSION)), proc.stderr)

    def test_unpacked_render_checks_fbx_with_the_unpacked_varnel(self):
        # lumbrix-render runs Varnel from its own folder: from the package, that is /usr/bin.
        with tempfile.TemporaryDirectory() as folder:
            shot = os.path.join(folder, "shot.png")
            proc = run(os.path.join(self.root, "usr/bin/lumbrix-render"), "--model",
                       os.path.join(DATA, "generated", "blender", "bl_j_three_meshes.fbx"),
                       "--frames", "1", "--size", "64x64", "--screenshot", shot, env=ENV)
            self.assertEqual(proc.returncode, 1, proc.stderr)
            self.assertIn("Multiple meshes (3)", proc.stderr)
            self.assertFalse(os.path.exists(shot))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
