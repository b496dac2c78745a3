#!/usr/bin/env python3
"""The demo venue's UVs against the pixel map demo/README.md documents: every face of
each screen maps inside that screen's canvas rectangle and the screen fills it, the
rectangles stay apart, the stage with its separate side screens is the same venue, the
FBX carries the OBJ's UVs, and the still is canvas-sized.
Usage: test_demo_pixel_map.py [DEMO_DIR]"""
import os
import re
import struct
import sys
import unittest

DEMO = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "demo")
TOLERANCE = 0.01  # pixels; the files hold six decimals


def read(name, mode="r"):
    with open(os.path.join(DEMO, name), mode) as f:
        return f.read()


def documented_map():
    text = read("README.md")
    canvas = re.search(r"canvas of\s+(\d+) × (\d+) pixels", text)
    regions = {}
    for line in text.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) >= 5 and all(c.isdigit() for c in cells[1:5]):
            regions[cells[0]] = tuple(int(c) for c in cells[1:5])
    return (int(canvas.group(1)), int(canvas.group(2))), regions


def obj_faces(name="venue.obj"):
    """Each face as (corner positions, corner UVs, first normal)."""
    positions, uvs, normals, faces = [], [], [], []
    for line in read(name).splitlines():
        kind, *values = line.split() or [""]
        if kind == "v":
            positions.append(tuple(map(float, values)))
        elif kind == "vt":
            uvs.append(tuple(map(float, values)))
        elif kind == "vn":
            normals.append(tuple(map(float, values)))
        elif kind == "f":
            corners = [tuple(int(i) - 1 for i in corner.split("/")) for corner in values]
            faces.append(([positions[p] for p, _, _ in corners], [uvs[t] for _, t, _ in corners],
                          normals[corners[0][2]]))
    return uvs, faces


def screen_of(points, normal):
    x, y, z = (sum(p[i] for p in points) / len(points) for i in range(3))
    if normal[1] > 0.99:
        return "Stage deck"
    if normal[2] > 0.99 and z > 1.9:
        return "Stage skirt"
    if z < -3.1:  # the wall's ends are at z = -3.165, the side screens well in front
        return "LED wall"
    return "Side left" if x < 0 else "Side right"


class PixelMap(unittest.TestCase):
    def setUp(self):
        self.canvas, self.regions = documented_map()

    def test_readme_lists_every_screen_on_the_canvas_apart(self):
        self.assertEqual(sorted(self.regions), sorted(["LED wall", "Side left", "Side right", "Stage deck",
                                                       "Stage skirt"]))
        boxes = list(self.regions.values())
        for x, y, w, h in boxes:
            self.assertTrue(x >= 0 and y >= 0 and x + w <= self.canvas[0] and y + h <= self.canvas[1])
        for i, a in enumerate(boxes):
            for b in boxes[i + 1:]:
                self.assertTrue(a[0] + a[2] <= b[0] or b[0] + b[2] <= a[0] or
                                a[1] + a[3] <= b[1] or b[1] + b[3] <= a[1], f"{a} overlaps {b}")

    def test_each_screen_fills_its_own_rectangle(self):
        width, height = self.canvas
        reach = {}
        for points, corner_uvs, normal in obj_faces()[1]:
            screen = screen_of(points, normal)
            x, y, w, h = self.regions[screen]
            for u, v in corner_uvs:
                px, py = u * width, (1 - v) * height
                self.assertTrue(x - TOLERANCE <= px <= x + w + TOLERANCE and
                                y - TOLERANCE <= py <= y + h + TOLERANCE,
                                f"{screen} face reaches ({px:.2f}, {py:.2f}) outside {x, y, w, h}")
                low, high = reach.get(screen, ((px, py), (px, py)))
                reach[screen] = ((min(low[0], px), min(low[1], py)), (max(high[0], px), max(high[1], py)))
        self.assertEqual(sorted(reach), sorted(self.regions))
        for screen, ((x0, y0), (x1, y1)) in reach.items():
            x, y, w, h = self.regions[screen]
            for got, want in ((x0, x), (y0, y), (x1, x + w), (y1, y + h)):
                self.assertAlmostEqual(got, want, delta=TOLERANCE, msg=f"{screen} leaves part of its rectangle")

    def test_screens_are_upright_and_unmirrored(self):
        # Seen from the front, up the screen is up its picture (v grows) and left to
        # right is left to right (u grows); the deck's up is upstage (-Z).
        def dot(a, b):
            return sum(p * q for p, q in zip(a, b))

        for points, corner_uvs, normal in obj_faces()[1]:
            screen = screen_of(points, normal)
            up, right = ((0, 0, -1), (1, 0, 0)) if screen == "Stage deck" else ((0, 1, 0), (normal[2], 0, -normal[0]))
            for axis, direction in ((1, up), (0, right)):
                high = max(range(len(points)), key=lambda k: dot(points[k], direction))
                low = min(range(len(points)), key=lambda k: dot(points[k], direction))
                self.assertGreater(corner_uvs[high][axis], corner_uvs[low][axis], f"{screen}: {'uv'[axis]} runs backward")

    def test_stage_and_separate_side_screens_given_their_regions_are_the_venue(self):
        # The split scene: each side screen's UV square shows its README rectangle,
        # which must put the same picture where the whole venue's pixel map puts it.
        width, height = self.canvas
        split = obj_faces("stage.obj")[1]
        for name, screen in (("side_left.obj", "Side left"), ("side_right.obj", "Side right")):
            x, y, w, h = self.regions[screen]
            for points, corner_uvs, normal in obj_faces(name)[1]:
                # The file's v runs up, so the canvas row is y + (1 - v) h.
                mapped = [((x + u * w) / width, 1 - (y + (1 - v) * h) / height) for u, v in corner_uvs]
                split.append((points, mapped, normal))
        whole = obj_faces()[1]
        self.assertEqual(len(split), len(whole))
        for (p, uv, n), (wp, wuv, wn) in zip(sorted(split), sorted(whole)):
            for a, b in zip(sum(map(list, p + uv + [n]), []), sum(map(list, wp + wuv + [wn]), [])):
                self.assertAlmostEqual(a, b, delta=1e-5)

    def test_fbx_holds_the_same_uvs(self):
        text = read("venue.fbx")
        block = re.search(r"\bUV: \*\d+ \{\s*a: ([^}]*)\}", text).group(1)
        fbx = [float(v) for v in block.replace("\n", "").split(",")]
        obj = [c for uv in obj_faces()[0] for c in uv]
        self.assertEqual(len(fbx), len(obj))
        self.assertTrue(all(abs(a - b) < 1e-9 for a, b in zip(fbx, obj)))

    def test_still_is_the_canvas_size(self):
        header = read("still.png", "rb")[:24]
        self.assertEqual(header[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">II", header[16:24]), self.canvas)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
