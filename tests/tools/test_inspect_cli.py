#!/usr/bin/env python3
"""lumbrix-inspect as a pipeline would call it: one JSON line, exit status, and
agreement with an independent scan of the test files (catalog.json)."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

import cli_test_files
import special_paths

ARGS = cli_test_files.Arguments(sys.argv, "build/bin/lumbrix-inspect")
INSPECT = ARGS.program


def run(*args):
    proc = subprocess.run([INSPECT, *args], capture_output=True, timeout=120)
    return proc.returncode, proc.stdout, proc.stderr


def run_json(*args):
    code, out, err = run("--json", *args)
    lines = out.decode("utf-8").splitlines()
    assert len(lines) == 1, f"expected one line, got {out!r}"
    return code, json.loads(lines[0]), err


def expected_outcome(scan):
    """What the loader must do with a file, from the catalogue's own scan."""
    if scan.get("encoding") != "utf-8":
        return "invalid-utf8", None
    sizes = {int(k): v for k, v in scan.get("face_sizes", {}).items()}
    if scan["counts"].get("o", 0) >= 2 or any(n >= 5 for n in sizes):
        return "validation", None
    triangles = sum(count * (n - 2) for n, count in sizes.items() if n >= 3)
    if triangles == 0:
        return "parse", None
    return "ok", triangles


def catalogue(root):
    with open(os.path.join(root, "catalog.json")) as f:
        return json.load(f)


def check_every_obj(test, root):
    """Every OBJ file the catalogue under `root` lists; returns how many."""
    checked = 0
    for entry in catalogue(root):
        if not entry["path"].endswith(".obj") or "scan" not in entry:
            continue
        path = os.path.join(root, entry["path"])
        kind, triangles = expected_outcome(entry["scan"])
        code, report, _ = run_json(path)
        with test.subTest(path=entry["path"]):
            if kind == "ok":
                test.assertEqual(code, 0, report)
                test.assertTrue(report["ok"])
                test.assertEqual(report["format"], "obj")
                test.assertEqual(report["triangles"], triangles)
                test.assertEqual(report["indices"], 3 * triangles)
                test.assertLessEqual(report["vertices"], report["indices"])
                for lo, hi in zip(report["min"], report["max"]):
                    if lo is not None and hi is not None:
                        test.assertLessEqual(lo, hi)
            else:
                test.assertEqual(code, 1, report)
                test.assertFalse(report["ok"])
                test.assertEqual(report["kind"], kind)
                test.assertTrue(report["messages"])
                if kind == "parse":
                    test.assertEqual(report["messages"], ["No geometry found"])
        checked += 1
    return checked


class ObjAgreement(unittest.TestCase):
    def test_every_obj_of_ours_matches_the_catalogue(self):
        self.assertEqual(check_every_obj(self, ARGS.data), 8)


class SharedObjAgreement(unittest.TestCase):
    shared_corpus = True

    def test_every_corpus_obj_matches_the_catalogue(self):
        self.assertGreater(check_every_obj(self, ARGS.corpus), 40)


def expected_fbx(scan):
    """What the importer must report for a file, from the catalogue's own scan."""
    if scan.get("version") is None:  # not readable as FBX at all (a corrupt copy)
        return "import", None
    if scan["version"] < 7000:
        return "import", [f"Unsupported FBX version {scan['version']}"]
    meshes = scan.get("meshes", [])
    models = sum(len(m.get("models", [])) for m in meshes)
    if models >= 2:
        return "import", [f"Multiple meshes found: {models}. Export as a single mesh."]
    if models == 0:
        return "ok", None
    sizes = {int(k): v for k, v in meshes[0].get("polygon_sizes", {}).items()}
    if any(n >= 5 for n in sizes):
        return "import", None
    return "ok", meshes[0]["triangles"]


def check_every_fbx(test, root):
    """Every FBX file the catalogue under `root` lists; returns how many."""
    checked = 0
    for entry in catalogue(root):
        scan = entry.get("scan")
        if not entry["path"].endswith(".fbx") or not scan:
            continue
        kind, detail = expected_fbx(scan)
        code, report, _ = run_json(os.path.join(root, entry["path"]))
        with test.subTest(path=entry["path"]):
            if kind == "import":
                test.assertEqual((code, report["kind"]), (1, "import"), report)
                if detail:
                    test.assertEqual(report["messages"], detail)
                continue
            test.assertEqual(code, 0, report)
            test.assertEqual(report["format"], "fbx")
            if detail is None:
                test.assertEqual(report["status"], "FBX loaded: no meshes")
                test.assertNotIn("min", report)
            elif detail == 0:
                test.assertEqual(report["status"], "FBX loaded: no valid geometry")
                test.assertNotIn("min", report)
            else:
                test.assertEqual(report["triangles"], detail)
                test.assertEqual(report["vertices"], 3 * detail)
                test.assertEqual(report["status"],
                                 f"FBX loaded: 1 mesh(es), {3 * detail} vertices, {detail} triangles")
            cameras = [c for c in scan.get("cameras", [])
                       if any(m.get("in_scene_graph") for m in c.get("models", []))]
            test.assertEqual(len(report["cameras"]), len(cameras))
            for found, wanted in zip(report["cameras"], cameras):
                model = next(m for m in wanted["models"] if m.get("in_scene_graph"))
                test.assertEqual(found["name"], wanted["attribute"] or model["model"])
                for axis in range(3):
                    test.assertAlmostEqual(found["position"][axis], model["world_translation"][axis], delta=1e-3)
                test.assertAlmostEqual(found["focalLengthMm"], wanted["FocalLength"], places=3)
        checked += 1
    return checked


class FBXAgreement(unittest.TestCase):
    def test_every_fbx_of_ours_matches_the_catalogue(self):
        self.assertEqual(check_every_fbx(self, ARGS.data), 17)


class SharedFBXAgreement(unittest.TestCase):
    shared_corpus = True

    def test_every_corpus_fbx_matches_the_catalogue(self):
        self.assertGreater(check_every_fbx(self, ARGS.corpus), 30)


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir.name.encode(), name if isinstance(name, bytes) else name.encode())
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_validation_messages_word_for_word(self):
        path = self.write("ngons.obj", b"o a\no b\nv 0 0 0\nf 1 1 1 1 1\nf 1 1 1 1 1 1 1\n")
        code, report, _ = run_json(path)
        self.assertEqual(code, 1)
        self.assertEqual(report, {"ok": False, "kind": "validation", "messages": [
            "File contains multiple objects (2). Please export as single object.",
            "N-gons found: 2 (max 7 vertices). Export triangulated/quads. Examples: 5 vertices, 7 vertices"]})

    def test_read_errors_carry_the_system_message(self):
        code, report, _ = run_json(os.path.join(self.dir.name, "missing.obj"))
        self.assertEqual((code, report["kind"]), (1, "read"))
        self.assertIn("No such file or directory", report["messages"][0])
        folder = os.path.join(self.dir.name, "folder.obj")
        os.mkdir(folder)
        code, report, _ = run_json(folder)
        self.assertEqual((code, report["kind"]), (1, "read"))
        self.assertIn("Is a directory", report["messages"][0])

    def test_hostile_file_names_still_give_parseable_json(self):
        name = b'we"ird\\\nna\xe9me.obj'
        path = self.write(name, b"\xff")
        code, report, _ = run_json(path)
        self.assertEqual((code, report["kind"]), (1, "invalid-utf8"))
        missing = os.path.join(self.dir.name.encode(), b'gone"\x01\xe9.obj')
        code, report, _ = run_json(missing)
        self.assertEqual(report["kind"], "read")
        self.assertIn('gone"\x01\ufffd.obj', report["messages"][0])

    def test_unsupported_types(self):
        for name in ("venue.txt", "venue"):
            code, report, _ = run_json(self.write(name, b"x"))
            self.assertEqual((code, report["kind"]), (1, "unsupported"), name)

    def test_fbx_failures(self):
        empty = self.write("empty.fbx", b"")
        code, report, _ = run_json(empty)
        self.assertEqual((code, report), (1, {"ok": False, "kind": "read", "messages": [
            f"Failed to read FBX file. Cannot read {empty.decode()}: The file is empty"]}))
        code, report, _ = run_json(self.write("junk.fbx", b"not a model"))
        self.assertEqual((code, report["kind"]), (1, "import"))
        self.assertEqual(len(report["messages"]), 1)

    def test_paths_that_are_no_file_are_refused_at_once_with_the_reason(self):
        sparse = special_paths.sparse(os.path.join(self.dir.name, "huge.fbx"))
        cases = [(case + " " + ext, path, "read", [prefix + f"Cannot open {path}: {reason}"])
                 for ext, prefix in ((".obj", ""), (".fbx", "Failed to read FBX file. "))
                 for case, path, reason in special_paths.make(self.dir.name, ext)]
        # Judged by its first bytes: 1.5 GB are not read to learn that.
        cases.append(("huge non-FBX file", sparse, "import", ["Not an FBX file"]))
        for case, path, kind, messages in cases:
            with self.subTest(case):
                code, out, err, seconds = special_paths.run([INSPECT, "--json", path])
                self.assertLess(seconds, special_paths.LIMIT_SECONDS)
                self.assertEqual((code, json.loads(out)), (1, {"ok": False, "kind": kind, "messages": messages}))

    def test_usage_errors(self):
        for args in ((), ("a.obj", "b.obj"), ("--bogus", "a.obj")):
            code, report, err = run_json(*args)
            self.assertEqual((code, report["ok"], report["kind"]), (2, False, "usage"), args)
            self.assertIn(b"Usage: lumbrix-inspect", err)
        code, out, err = run()
        self.assertEqual(code, 2)
        self.assertEqual(out, b"")
        self.assertIn(b"Usage", err)
        code, out, _ = run("--help")
        self.assertEqual(code, 0)
        self.assertIn(b"Usage", out)

    def test_option_terminator_allows_dash_names(self):
        path = self.write("-tri.obj", b"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n")
        os.chdir(self.dir.name)
        code, report, _ = run_json("--", "-tri.obj")
        self.assertEqual(code, 0, report)
        self.assertEqual(report["triangles"], 1)

    def test_human_summary(self):
        path = self.write("tri.obj", b"v 0 0 0\nv 1 0 0\nv 0 1 5\nf 1 2 3\n")
        code, out, _ = run(path)
        self.assertEqual(code, 0)
        text = out.decode()
        self.assertIn("triangles: 1", text)
        self.assertIn("vertices:  3", text)
        code, out, err = run(self.write("bad.obj", b"o a\no b\n"))
        self.assertEqual(code, 1)
        self.assertIn(b"multiple objects (2)", err)

    def test_non_finite_bounds_are_null(self):
        path = self.write("inf.obj", b"v inf 0 nan\nv 1 0 nan\nv 0 1 nan\nf 1 2 3\n")
        code, report, _ = run_json(path)
        self.assertEqual(code, 0)
        self.assertEqual(report["max"][0], None)
        self.assertEqual(report["min"][0], 0)
        self.assertEqual(report["min"][2], None)


if __name__ == "__main__":
    cli_test_files.run(sys.modules[__name__], ARGS)
