#!/usr/bin/env python3
"""Varnel as the viewer runs it: one JSON line on standard output, the exit
status, and the mesh counts of every test file against the catalogue."""
import json
import os
import random
import re
import subprocess
import sys
import tempfile
import unittest

import cli_test_files
import special_paths

ARGS = cli_test_files.Arguments(sys.argv, "build/bin/Varnel")
VARNEL = ARGS.program

READ_FAILURE = b'{"ok":false,"error":"Failed to read FBX file"}\n'
ONE_MESH = b'{"ok":true,"meshCount":1}\n'
BLENDER = os.path.join(ARGS.data, "generated", "blender")
UFBX = os.path.join(ARGS.corpus, "third_party", "ufbx", "data")


def run(*args, timeout=120):
    proc = subprocess.run([VARNEL, *args], capture_output=True, timeout=timeout)
    return proc.returncode, proc.stdout, proc.stderr


def failure_line(message):
    return b'{"ok":false,"error":"' + message.encode() + b'"}\n'


def parse_line(test, out):
    """The one line, checked for shape; returns (keys in order, values)."""
    test.assertTrue(out.endswith(b"\n"), out)
    test.assertEqual(out.count(b"\n"), 1, out)
    test.assertNotIn(b"\r", out)
    pairs = json.loads(out.decode("utf-8"), object_pairs_hook=lambda p: p)
    keys = [k for k, _ in pairs]
    values = dict(pairs)
    if values.get("ok") is True:
        test.assertEqual(keys, ["ok", "meshCount"], out)
        test.assertEqual(out, b'{"ok":true,"meshCount":%d}\n' % values["meshCount"])
    else:
        test.assertEqual(keys, ["ok", "error"], out)
        test.assertIs(values["ok"], False)
        test.assertIsInstance(values["error"], str)
        test.assertTrue(values["error"], out)
        # No spaces between tokens: the frame around the text is fixed.
        test.assertTrue(out.startswith(b'{"ok":false,"error":"') and out.endswith(b'"}\n'), out)
    return keys, values


def fbx_files(top):
    found = []
    for root, _, names in os.walk(top):
        for name in names:
            if name.lower().endswith(".fbx"):
                found.append(os.path.relpath(os.path.join(root, name), top))
    return sorted(found)


def expected_from_catalogue(scan):
    """(kind, mesh count) for a file, from the catalogue's own parse of it.

    kind "old": a version before 7.0 (or no readable header), which the reader
    refuses; otherwise the count of Models of class Mesh that carry a Geometry.
    """
    version = scan.get("version")
    if version is None or version < 7000:
        return "old", None
    count = sum(len(mesh.get("models", [])) for mesh in scan.get("meshes", []))
    return "mesh", count


def outcome_for(count):
    if count == 1:
        return 0, ONE_MESH
    if count == 0:
        return 1, failure_line("FBX has no meshes")
    return 1, failure_line("Multiple meshes (%d). Export as single mesh." % count)


class Arguments(unittest.TestCase):
    def test_no_argument_prints_usage_on_standard_error_only(self):
        code, out, err = run()
        self.assertEqual((code, out, err), (2, b"", b"Usage: Varnel <path-to-fbx>\n"))

    def test_only_the_first_argument_counts(self):
        one = os.path.join(BLENDER, "bl_e_mesh_3cams.fbx")
        three = os.path.join(BLENDER, "bl_j_three_meshes.fbx")
        self.assertEqual(run(one, three, "--bogus")[:2], (0, ONE_MESH))
        self.assertEqual(run(three, one)[:2], (1, failure_line("Multiple meshes (3). Export as single mesh.")))
        self.assertEqual(run("/nonexistent/venue.fbx", one)[:2], (1, READ_FAILURE))
        code, out, err = run("", one)
        self.assertEqual((code, out, err), (1, READ_FAILURE, b""))


class Scratch(unittest.TestCase):
    """A fresh folder for files a case writes."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def path(self, name):
        return os.path.join(self.dir.name.encode(), name if isinstance(name, bytes) else name.encode())

    def write(self, name, data):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def bytes_of(self, *parts):
        with open(os.path.join(*parts), "rb") as f:
            return f.read()


class Files(Scratch):
    def test_paths_that_are_no_file_and_huge_non_fbx_files_are_answered_at_once(self):
        folder = self.dir.name
        cases = [(case, path, READ_FAILURE) for case, path, _ in special_paths.make(folder, ".fbx")]
        # The header decides: neither a 1.5 GB log nor 1.5 GB of zeros is read whole.
        not_fbx = b'{"ok":false,"error":"Not an FBX file"}\n'
        cases += [("huge text file", special_paths.sparse(os.path.join(folder, "log.fbx")), not_fbx),
                  ("huge hole", special_paths.sparse(os.path.join(folder, "hole.fbx"), head=b""), not_fbx)]
        for case, path, line in cases:
            with self.subTest(case):
                code, out, err, seconds = special_paths.run([VARNEL, path])
                self.assertLess(seconds, special_paths.LIMIT_SECONDS)
                self.assertEqual((code, out, err), (1, line, b""))

    def test_unreadable_inputs_give_the_read_failure_line(self):
        os.mkdir(self.path("folder.fbx"))
        os.mkfifo(self.path("pipe.fbx"))
        cases = {
            "empty file": self.write("empty.fbx", b""),
            "missing file": self.path("missing.fbx"),
            "directory": self.path("folder.fbx"),
            "FIFO without a writer": self.path("pipe.fbx"),
            "character device": "/dev/null",
        }
        if os.geteuid() != 0:  # root reads mode-0 files anyway
            locked = self.write("locked.fbx", self.bytes_of(BLENDER, "bl_a_plane_uv.fbx"))
            os.chmod(locked, 0)
            cases["no read permission"] = locked
        for case, path in cases.items():
            with self.subTest(case):
                self.assertEqual(run(path, timeout=20), (1, READ_FAILURE, b""))

    def test_random_bytes_give_the_readers_error(self):
        rng = random.Random(1234)
        for size in (1, 27, 4096, 100000):
            data = bytes(rng.randrange(256) for _ in range(size))
            code, out, err = run(self.write("noise%d.fbx" % size, data))
            with self.subTest(size=size):
                self.assertEqual((code, err), (1, b""))
                _, report = parse_line(self, out)
                self.assertEqual(report["error"], "Not an FBX file")

    def test_a_quote_in_the_readers_error_is_escaped(self):
        path = self.write("quote.fbx", b'; FBX 7.4.0 project file\n"oops\n')
        code, out, err = run(path)
        self.assertEqual((code, err), (1, b""))
        self.assertEqual(out, b'{"ok":false,"error":"Unexpected character \'\\"\' at byte 25"}\n')
        self.assertEqual(parse_line(self, out)[1]["error"], "Unexpected character '\"' at byte 25")

    def test_one_mesh_with_three_cameras_passes(self):
        self.assertEqual(run(os.path.join(BLENDER, "bl_e_mesh_3cams.fbx")), (0, ONE_MESH, b""))

    def test_three_meshes(self):
        self.assertEqual(run(os.path.join(BLENDER, "bl_j_three_meshes.fbx")),
                         (1, failure_line("Multiple meshes (3). Export as single mesh."), b""))

    def test_cameras_without_meshes(self):
        self.assertEqual(run(os.path.join(BLENDER, "bl_i_cameras_only.fbx")),
                         (1, failure_line("FBX has no meshes"), b""))

    def test_hostile_file_names_are_opened_as_given(self):
        data = self.bytes_of(BLENDER, "bl_a_plane_uv.fbx")
        for name in (b'we"ird\\\nna\xe9me.fbx', b"-venue.fbx", b" spaced .FBX"):
            with self.subTest(name=name):
                self.assertEqual(run(self.write(name, data)), (0, ONE_MESH, b""))

    def test_symbolic_links_are_followed(self):
        # Exporters and asset folders often hand over links; the target is what counts.
        data = self.bytes_of(BLENDER, "bl_j_three_meshes.fbx")
        target = self.write("three.fbx", data)
        os.symlink(target, self.path("link.fbx"))
        self.assertEqual(run(self.path("link.fbx"))[:2],
                         (1, failure_line("Multiple meshes (3). Export as single mesh.")))

    def test_files_past_4_gib_are_read_whole(self):
        # A length cut to 32 bits would show the reader only the first `tail`
        # bytes of this file; read whole, it is a complete FBX file followed by zeros.
        with open("/proc/meminfo") as f:
            available_kib = int(re.search(r"MemAvailable:\s+(\d+)", f.read()).group(1))
        if available_kib < 7 << 20:
            self.skipTest("needs about 7 GiB of free memory")
        data = self.bytes_of(BLENDER, "bl_a_plane_uv.fbx")
        tail = 4096
        assert tail < len(data)
        cut = run(self.write("cut.fbx", data[:tail]))
        big = self.write("big.fbx", data)
        with open(big, "r+b") as f:
            f.truncate((1 << 32) + tail)  # sparse: the zeros take no disk space
        code, out, err = run(big, timeout=300)
        self.assertEqual(err, b"")
        parse_line(self, out)
        self.assertNotEqual((code, out), cut[:2])
        self.assertNotEqual(out, READ_FAILURE, "refused although memory was available")


class SharedFiles(Scratch):
    """Files from other tools' repositories, in the shared corpus."""
    shared_corpus = True

    def test_files_cut_short_anywhere_give_one_valid_line(self):
        data = self.bytes_of(UFBX, "max_unicode_7500_binary.fbx")
        errors = set()
        for cut in list(range(1, 400, 7)) + list(range(400, len(data), 997)):
            code, out, err = run(self.write("cut.fbx", data[:cut]))
            with self.subTest(cut=cut):
                self.assertEqual(err, b"")
                _, report = parse_line(self, out)
                self.assertEqual(code, 0 if report["ok"] else 1)
                if not report["ok"]:
                    errors.add(report["error"])
        self.assertIn("Not an FBX file", errors)
        self.assertTrue(any(e.startswith("Truncated file at byte ") for e in errors), errors)

    def test_instances_count_as_meshes(self):
        # One Geometry shared by eight Models: eight meshes for the viewer.
        self.assertEqual(run(os.path.join(UFBX, "blender_293_instancing_7400_binary.fbx"))[:2],
                         (1, failure_line("Multiple meshes (8). Export as single mesh.")))

    def test_old_versions_give_the_readers_version_error(self):
        for name, version in (("blender_279_default_6100_ascii.fbx", 6100),
                              ("maya_cube_6100_binary.fbx", 6100),
                              ("maya_cube_6100_ascii.fbx", 6100),
                              ("max_geometry_transform_6100_binary.fbx", 6100)):
            with self.subTest(name):
                self.assertEqual(run(os.path.join(UFBX, name)),
                                 (1, failure_line("Unsupported FBX version %d" % version), b""))


def check_every_fbx(test, top):
    """Every FBX file under `top` against the catalogue there; returns (files, compared)."""
    with open(os.path.join(top, "catalog.json")) as f:
        catalogue = {entry["path"]: entry for entry in json.load(f)}
    files = fbx_files(top)
    compared = 0
    for rel in files:
        code, out, err = run(os.path.join(top, rel))
        with test.subTest(path=rel):
            test.assertEqual(err, b"")
            _, report = parse_line(test, out)
            test.assertEqual(code, 0 if report["ok"] else 1)
            test.assertNotEqual(out, READ_FAILURE)
            scan = catalogue.get(rel, {}).get("scan")
            if scan is None:
                continue
            kind, count = expected_from_catalogue(scan)
            if kind == "old":
                test.assertEqual(code, 1, out)
                if scan.get("version") is not None:
                    test.assertEqual(report["error"], "Unsupported FBX version %d" % scan["version"])
            else:
                test.assertEqual((code, out), outcome_for(count))
                compared += 1
    return len(files), compared


class CatalogueAgreement(unittest.TestCase):
    def test_every_fbx_of_ours_gives_one_line_that_matches_the_catalogue(self):
        self.assertEqual(check_every_fbx(self, ARGS.data), (25, 25))


class SharedCatalogueAgreement(unittest.TestCase):
    shared_corpus = True

    def test_every_corpus_fbx_gives_one_line_that_matches_the_catalogue(self):
        files, compared = check_every_fbx(self, ARGS.corpus)
        self.assertGreater(files, 80)
        self.assertGreater(compared, 70)


if __name__ == "__main__":
    cli_test_files.run(sys.modules[__name__], ARGS)
