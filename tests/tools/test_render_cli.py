#!/usr/bin/env python3
"""lumbrix-render as a script would run it: exit status, the messages, and what it
writes (checked with ffprobe and ffmpeg, never with our own code)."""
import os
import re
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import special_paths

RENDER = sys.argv[1] if len(sys.argv) > 1 else "build/bin/lumbrix-render"
DEMO = sys.argv[2] if len(sys.argv) > 2 else "demo"
FAKE_NDI = sys.argv[3] if len(sys.argv) > 3 else ""

# A square in the plane x = 0 facing the default camera (eye on -X): +Z is screen
# right, +Y up; u grows to the right and v upwards.
SQUARE_OBJ = """o square
v 0 -1 -1
v 0 -1 1
v 0 1 1
v 0 1 -1
vt 0 0
vt 1 0
vt 1 1
vt 0 1
f 1/1 2/2 3/3 4/4
"""


def run(*args, env=None, timeout=300):
    proc = subprocess.run([RENDER, *args], capture_output=True, timeout=timeout, env=env)
    return proc.returncode, proc.stdout.decode(), proc.stderr.decode()


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-v", "error", "-y", *args], check=True, timeout=300)


def probe(path, entries):
    out = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-show_entries", entries,
                          "-of", "default=nw=1", path], capture_output=True, check=True, timeout=120)
    return out.stdout.decode()


def pixels(png):
    """The picture as rows of (r, g, b), top row first."""
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=width,height",
                          "-of", "csv=p=0", png], capture_output=True, check=True).stdout.decode()
    width, height = (int(v) for v in out.strip().split(","))
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", png, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         capture_output=True, check=True).stdout
    return width, height, lambda x, y: tuple(raw[(y * width + x) * 3:(y * width + x) * 3 + 3])


def near(color, expected, tolerance=50):
    return all(abs(a - b) <= tolerance for a, b in zip(color, expected))


class Arguments(unittest.TestCase):
    def test_bad_arguments_say_what_is_wrong(self):
        cases = [
            ([], "--model is required"),
            (["--model", "m.obj"], "nothing to write"),
            (["--model", "m.obj", "--out", "o.mp4", "--fps", "0"], "--fps needs a whole number"),
            (["--model", "m.obj", "--out", "o.mp4", "--size", "12x9000"], "--size needs"),
            (["--model", "m.obj", "--out", "o.mp4", "--image", "a.png", "--source", "b.mp4"], "at most one of --source"),
            (["--model", "m.obj", "--out", "o.mp4", "--seconds", "1", "--frames", "3"], "--seconds or --frames"),
            (["--model", "m.obj", "--out", "o.mp4", "--faces", "sideways"], "--faces needs"),
            (["--model", "m.obj", "--out", "o.mp4", "--bogus"], "unknown option --bogus"),
            (["--model"], "--model needs a value"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                code, _, err = run(*args)
                self.assertEqual(code, 2, err)
                self.assertIn(message, err)
                self.assertIn("Usage: lumbrix-render", err)

    def test_help(self):
        code, out, _ = run("--help")
        self.assertEqual(code, 0)
        self.assertIn("Usage: lumbrix-render", out)

    def test_gl_info_needs_no_model(self):
        code, out, err = run("--gl-info")
        self.assertEqual(code, 0, err)
        for line in ("vendor: ", "renderer: ", "version: ", "egl platform: "):
            self.assertRegex(out, "(?m)^" + line + r"\S", out)


class Files(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.dir = self.folder.name
        self.square = os.path.join(self.dir, "square.obj")
        with open(self.square, "w") as f:
            f.write(SQUARE_OBJ)
        # Quadrants, top row first: red | green over blue | white.
        self.image = os.path.join(self.dir, "quadrants.png")
        ffmpeg("-f", "lavfi", "-i", "color=red:s=64x64", "-f", "lavfi", "-i", "color=lime:s=64x64",
               "-f", "lavfi", "-i", "color=blue:s=64x64", "-f", "lavfi", "-i", "color=white:s=64x64",
               "-filter_complex", "[0][1]hstack[t];[2][3]hstack[b];[t][b]vstack", "-frames:v", "1", self.image)

    def tearDown(self):
        self.folder.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def test_bad_models_print_the_viewers_messages(self):
        two = self.path("two.obj")
        with open(two, "w") as f:
            f.write(SQUARE_OBJ + "o second\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 5 6 7\n")
        garbage = self.path("garbage.fbx")
        with open(garbage, "wb") as f:
            f.write(b"not an fbx file at all" * 10)
        for model, message in [(self.path("missing.obj"), "No such file"),
                               (two, "object"),
                               (garbage, "FBX"),
                               (self.path("model.stl"), "Not an OBJ or FBX file")]:
            with self.subTest(model=model):
                code, _, err = run("--model", model, "--screenshot", self.path("x.png"))
                self.assertEqual(code, 1, err)
                self.assertIn("cannot load", err)
                self.assertIn(message, err)
        code, _, err = run("--model", self.square, "--image", self.path("nope.png"), "--screenshot", self.path("x.png"))
        self.assertEqual(code, 1)
        self.assertIn("cannot read the image", err)
        code, _, err = run("--model", self.square, "--source", self.image + ".mp4", "--screenshot", self.path("x.png"))
        self.assertEqual(code, 1)
        self.assertIn("cannot play", err)

    def test_paths_that_are_no_file_are_refused_at_once_with_the_reason(self):
        shot = self.path("x.png")
        for name in ("obj", "fbx", "media", "pictures", "cameras"):
            os.mkdir(self.path(name))
        cases = []
        for ext, prefix in ((".obj", ""), (".fbx", "Failed to read FBX file. ")):
            for case, path, reason in special_paths.make(self.path(ext[1:]), ext):
                cases.append((f"model {case}{ext}", ["--model", path],
                              f"cannot load {path}:\n  {prefix}Cannot open {path}: {reason}\n"))
                cases.append((f"venue {case}{ext}", ["--model", self.square, "--venue", path],
                              f"cannot load venue {path}:\n  {prefix}Cannot open {path}: {reason}\n"))
        for case, path, reason in special_paths.make(self.path("media"), ".mp4"):
            cases.append((f"video {case}", ["--model", self.square, "--source", path],
                          f"cannot play {path}: cannot open the file: {reason}\n"))
        for case, path, reason in special_paths.make(self.path("pictures"), ".png"):
            cases.append((f"image {case}", ["--model", self.square, "--image", path],
                          f"cannot read the image {path}: {reason}\n"))
        for case, path, reason in special_paths.make(self.path("cameras"), ".json"):
            cases.append((f"camera state {case}", ["--model", self.square, "--camera-state", path],
                          f"cannot read {path}: Cannot open {path}: {reason}\n"))
        for label, args, message in cases:
            with self.subTest(label):
                code, _, err, seconds = special_paths.run([RENDER, *args, "--frames", "1", "--size", "64x36",
                                                           "--screenshot", shot])
                # Every path is judged before the OpenGL context starts.
                limit = special_paths.LIMIT_SECONDS
                self.assertLess(seconds, limit)
                self.assertEqual(code, 1, err)
                self.assertIn(message, err.decode())
        self.assertFalse(os.path.exists(shot))

    def test_screenshot_targets_that_are_no_file_are_left_alone(self):
        os.mkdir(self.path("shots"))
        cases = [(case, path, reason) for case, path, reason in special_paths.make(self.path("shots"), ".png")
                 if case != "missing"]
        for case, path, reason in cases:
            with self.subTest(case):
                code, _, err, seconds = special_paths.run([RENDER, "--model", self.square, "--frames", "1",
                                                           "--size", "64x36", "--screenshot", path])
                self.assertLess(seconds, special_paths.LIMIT_SECONDS)
                self.assertEqual(code, 1, err)
                self.assertIn(f"lumbrix-render: Cannot write {path}: {reason}", err.decode())
        self.assertEqual(os.readlink(self.path("shots/zero.png")), "/dev/zero")
        self.assertTrue(os.path.isdir(self.path("shots/folder.png")))
        # A link to a picture is written through and stays a link.
        real = self.path("shots/real.png")
        with open(real, "wb") as f:
            f.write(b"old")
        link = self.path("link.png")
        os.symlink(real, link)
        code, _, err = run("--model", self.square, "--frames", "1", "--size", "64x36", "--screenshot", link)
        self.assertEqual(code, 0, err)
        self.assertEqual(os.readlink(link), real)
        self.assertEqual(pixels(real)[:2], (64, 36))

    def test_image_shows_upright_on_the_model(self):
        shot = self.path("shot.png")
        code, _, err = run("--model", self.square, "--image", self.image, "--frames", "1", "--size", "320x240",
                           "--no-floor-grid", "--screenshot", shot)
        self.assertEqual(code, 0, err)
        width, height, at = pixels(shot)
        self.assertEqual((width, height), (320, 240))
        dx, dy = width // 12, height // 10
        cx, cy = width // 2, height // 2
        self.assertTrue(near(at(cx - dx, cy - dy), (255, 0, 0)), at(cx - dx, cy - dy))
        self.assertTrue(near(at(cx + dx, cy - dy), (0, 255, 0)), at(cx + dx, cy - dy))
        self.assertTrue(near(at(cx - dx, cy + dy), (0, 0, 255)), at(cx - dx, cy + dy))
        self.assertTrue(near(at(cx + dx, cy + dy), (255, 255, 255)), at(cx + dx, cy + dy))

    def make_clip(self):
        clip = self.path("seconds.mp4")
        ffmpeg("-f", "lavfi", "-i", "color=red:s=64x48:r=30:d=1", "-f", "lavfi", "-i", "color=lime:s=64x48:r=30:d=1",
               "-f", "lavfi", "-i", "color=blue:s=64x48:r=30:d=1", "-f", "lavfi", "-i", "sine=f=440:d=3:r=48000",
               "-filter_complex", "[0][1][2]concat=n=3:v=1:a=0[v]", "-map", "[v]", "-map", "3",
               "-c:v", "libx264", "-pix_fmt", "yuv420p", "-preset", "ultrafast", "-c:a", "aac", "-ac", "2", clip)
        return clip

    def test_video_start_lands_on_the_frame_due(self):
        clip = self.make_clip()
        for start, color in [("0.5", (255, 0, 0)), ("1.5", (0, 255, 0)), ("2.5", (0, 0, 255))]:
            shot = self.path("at-" + start + ".png")
            code, _, err = run("--model", self.square, "--source", clip, "--start", start, "--frames", "1",
                               "--size", "160x120", "--no-floor-grid", "--screenshot", shot)
            with self.subTest(start=start):
                self.assertEqual(code, 0, err)
                _, _, at = pixels(shot)
                self.assertTrue(near(at(80, 60), color), at(80, 60))

    def test_movie_has_every_frame_the_size_and_the_sound(self):
        clip = self.make_clip()
        movie = self.path("out.mp4")
        code, _, err = run("--model", self.square, "--source", clip, "--seconds", "2", "--fps", "10",
                           "--size", "176x144", "--out", movie)
        self.assertEqual(code, 0, err)
        info = probe(movie, "stream=codec_name,width,height,nb_read_frames,sample_rate,channels")
        self.assertIn("codec_name=h264\nwidth=176\nheight=144\nnb_read_frames=20", info)
        self.assertIn("codec_name=aac", info)
        self.assertIn("sample_rate=48000\nchannels=2", info)
        code, _, err = run("--model", self.square, "--source", clip, "--frames", "5", "--no-audio",
                           "--size", "176x144", "--out", movie)
        self.assertEqual(code, 0, err)
        self.assertNotIn("codec_name=aac", probe(movie, "stream=codec_name"))

    def test_camera_state_file_and_its_errors(self):
        state = self.path("camera.json")
        with open(state, "w") as f:
            f.write('{"position":[-3,0,0],"target":[0,0,0],"yaw":0,"pitch":0,"distance":3,"fov":60}')
        code, _, err = run("--model", self.square, "--camera-state", state, "--frames", "1", "--screenshot",
                           self.path("cam.png"))
        self.assertEqual(code, 0, err)
        with open(state, "w") as f:
            f.write('{"position":[1,2],"target":[0,0,0]}')
        code, _, err = run("--model", self.square, "--camera-state", state, "--frames", "1", "--screenshot",
                           self.path("cam.png"))
        self.assertEqual(code, 1)
        self.assertIn("position must be an array of three numbers", err)

    def test_unwritable_output_fails_cleanly(self):
        code, _, err = run("--model", self.square, "--frames", "2", "--out", self.path("no/such/dir/out.mp4"))
        self.assertEqual(code, 1)
        self.assertIn("No such file or directory", err)


class Venues(unittest.TestCase):
    """Venues with content, drawn over the model: the venue square sits just in front
    of the model square, so the view fitted to the model shows only the venue."""
    setUp, tearDown, path, make_clip = Files.setUp, Files.tearDown, Files.path, Files.make_clip

    def test_each_content_kind_shows_its_picture_upright(self):
        near_square = self.path("near.obj")
        with open(near_square, "w") as f:
            f.write(SQUARE_OBJ.replace("v 0 ", "v -0.01 "))
        clip = self.make_clip()
        red, green, blue, white, black = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255), (0, 0, 0)
        # The image is 128 x 128: red | green over blue | white, 64 pixels each.
        cases = [
            ("right half", ["--image", self.image], "@region=64,0,64,128", [green, green, white, white]),
            ("bottom half", ["--image", self.image], "@region=0,64,128,64", [blue, white, blue, white]),
            ("past the edges", ["--image", self.image], "@region=64,64,128,128", [white, black, black, black]),
            ("own image", [], "@image=" + self.image, [red, green, blue, white]),
            ("own video on the clock", ["--start", "1.5"], "@video=" + clip, [green] * 4),
        ]
        for label, source, content, expected in cases:
            with self.subTest(label):
                shot = self.path("venue.png")
                code, _, err = run("--model", self.square, *source, "--venue", near_square + content, "--frames", "1",
                                   "--size", "320x240", "--no-floor-grid", "--screenshot", shot)
                self.assertEqual(code, 0, err)
                _, _, at = pixels(shot)
                points = [(160 - 26, 120 - 24), (160 + 26, 120 - 24), (160 - 26, 120 + 24), (160 + 26, 120 + 24)]
                for (x, y), colour in zip(points, expected):
                    self.assertTrue(near(at(x, y), colour), (x, y, at(x, y), colour))

    def test_bad_venue_contents_are_usage_errors(self):
        for spec, message in [("v.obj@region=1,2,3", "X,Y,WIDTH,HEIGHT"),
                              ("v.obj@region=0,0,0,10", "width and height at least 1"),
                              ("v.obj@region=a,b,c,d", "X,Y,WIDTH,HEIGHT"),
                              ("v.obj@colour=red", "region, image, video or ndi"),
                              ("v.obj@image=", "needs a file"),
                              ("v.obj@ndi=", "needs a sender name"),
                              ("@video=a.mp4", "needs a mesh file")]:
            with self.subTest(spec):
                code, _, err = run("--model", self.square, "--venue", spec, "--screenshot", self.path("x.png"))
                self.assertEqual(code, 2, err)
                self.assertIn(message, err)


class Demo(unittest.TestCase):
    def test_demo_movie_has_every_frame_and_the_sound(self):
        fbx = os.path.join(DEMO, "venue.fbx")
        if not os.path.exists(fbx):
            self.skipTest("no demo content")
        with tempfile.TemporaryDirectory() as folder:
            movie = os.path.join(folder, "demo.mp4")
            code, _, err = run("--model", fbx, "--fbx-camera", "FOH", "--source", os.path.join(DEMO, "content.mp4"),
                               "--seconds", "1.5", "--fps", "12", "--size", "320x180", "--out", movie)
            self.assertEqual(code, 0, err)
            info = probe(movie, "stream=codec_name,width,height,nb_read_frames,sample_rate,channels")
            self.assertIn("codec_name=h264\nwidth=320\nheight=180\nnb_read_frames=18", info)
            self.assertIn("codec_name=aac", info)

    def test_fbx_venue_with_its_cameras(self):
        fbx = os.path.join(DEMO, "venue.fbx")
        if not os.path.exists(fbx):
            self.skipTest("no demo content")
        with tempfile.TemporaryDirectory() as folder:
            shot = os.path.join(folder, "foh.png")
            code, _, err = run("--model", fbx, "--fbx-camera", "FOH", "--image", os.path.join(DEMO, "still.png"),
                               "--frames", "1", "--size", "320x180", "--screenshot", shot)
            self.assertEqual(code, 0, err)
            code, _, err = run("--model", fbx, "--fbx-camera", "Nobody", "--frames", "1", "--screenshot", shot)
            self.assertEqual(code, 1)
            self.assertIn("no FBX camera Nobody", err)


class LiveNDI(unittest.TestCase):
    def setUp(self):
        if not FAKE_NDI or not os.path.exists(os.path.join(FAKE_NDI, "libndi.so.6")):
            self.skipTest("no fake NDI runtime")
        self.folder = tempfile.TemporaryDirectory()
        self.square = os.path.join(self.folder.name, "square.obj")
        with open(self.square, "w") as f:
            f.write(SQUARE_OBJ)

    def tearDown(self):
        self.folder.cleanup()

    @staticmethod
    def live_env(senders, **variables):
        # Under AddressSanitizer, LeakSanitizer's own tracer has crashed (signal 11 in the
        # tracer, after a clean render) at the exit of live renders, whose runtime threads
        # are still winding down; the leak check is left out of these, the other sanitizer
        # checks stay (and every other render keeps the leak check).
        asan = os.environ.get("ASAN_OPTIONS", "")
        variables.setdefault("ASAN_OPTIONS", (asan + ":" if asan else "") + "detect_leaks=0")
        return dict(os.environ, NDI_RUNTIME_DIR_V6=FAKE_NDI, FAKE_NDI_SENDERS=senders, **variables)

    def render(self, senders, name, *args, **variables):
        env = self.live_env(senders, **variables)
        started = time.monotonic()
        code, _, err = run("--model", self.square, "--ndi", name, "--size", "128x96", *args, env=env)
        return code, err, time.monotonic() - started

    def mean_colour(self, senders, name):
        shot = os.path.join(self.folder.name, "shot.png")
        code, err, _ = self.render(senders, name, "--frames", "1", "--screenshot", shot)
        self.assertEqual(code, 0, err)
        width, height, at = pixels(shot)
        inner = [at(x, y) for x in range(width // 4, 3 * width // 4) for y in range(height // 4, 3 * height // 4)]
        return tuple(sum(c[i] for c in inner) / len(inner) for i in range(3))

    def test_a_venue_shows_its_own_sender_over_the_model(self):
        # The sender's picture on a venue in front of the grey model, as --ndi shows it.
        near_square = os.path.join(self.folder.name, "near.obj")
        with open(near_square, "w") as f:
            f.write(SQUARE_OBJ.replace("v 0 ", "v -0.01 "))
        shot = os.path.join(self.folder.name, "venue.png")
        env = self.live_env("Stage Cam@64x32@30")
        code, _, err = run("--model", self.square, "--venue", near_square + "@ndi=Stage Cam", "--size", "128x96",
                           "--frames", "1", "--no-floor-grid", "--screenshot", shot, env=env)
        self.assertEqual(code, 0, err)
        _, _, at = pixels(shot)
        inner = [at(x, y) for x in range(48, 80) for y in range(36, 60)]
        venue = tuple(sum(c[i] for c in inner) / len(inner) for i in range(3))
        # The sender's stripes are its tint at full and quarter strength, so whatever
        # part of them is in view, the shares of red, green and blue are the tint's.
        shares = lambda c: [v / sum(c) for v in c]
        sender = self.mean_colour("Stage Cam@64x32@30", "Stage Cam")
        self.assertTrue(all(abs(a - b) < 0.03 for a, b in zip(shares(venue), shares(sender))), (venue, sender))

    def test_renders_the_newest_frames_of_a_sender(self):
        movie = os.path.join(self.folder.name, "ndi.mp4")
        code, err, _ = self.render("Stage Cam@64x32@30", "Stage Cam", "--frames", "6", "--out", movie)
        self.assertEqual(code, 0, err)
        self.assertIn("nb_read_frames=6", probe(movie, "stream=nb_read_frames"))

    def test_the_sender_named_is_the_one_shown_behind_unnamed_senders(self):
        alone = self.mean_colour("B@64x32@30", "B")
        other = self.mean_colour("A@64x32@30", "A")
        self.assertFalse(near(alone, other, 10), "the two senders look alike; the test cannot tell them apart")
        for senders in ["@64x32@30;A@64x32@30;B@64x32@30", "@64x32@30;@64x32@30;B@64x32@30;A@64x32@30"]:
            with self.subTest(senders=senders):
                self.assertTrue(near(self.mean_colour(senders, "B"), alone, 10))

    def test_a_live_render_takes_as_long_as_its_movie_lasts(self):
        movie = os.path.join(self.folder.name, "paced.mp4")
        code, err, elapsed = self.render("Cam@64x32@25", "Cam", "--seconds", "2", "--fps", "10", "--out", movie)
        self.assertEqual(code, 0, err)
        self.assertGreaterEqual(elapsed, 1.9)
        self.assertIn("nb_read_frames=20", probe(movie, "stream=nb_read_frames"))
        self.assertRegex(err, r"20 frames taken, \d+ repeated")

    def test_a_sender_that_falls_silent_is_reported_and_its_repeats_counted(self):
        movie = os.path.join(self.folder.name, "stall.mp4")
        code, err, _ = self.render("Cam@64x32@25", "Cam", "--seconds", "4", "--fps", "10", "--out", movie,
                                   FAKE_NDI_SEND_FOR_MS="1000")
        self.assertEqual(code, 0, err)
        self.assertIn("NDI sender Cam sent no new frame for 2 seconds", err)
        repeats = int(re.search(r"40 frames taken, (\d+) repeated", err).group(1))
        self.assertGreaterEqual(repeats, 25)

    def test_the_senders_sound_is_the_movies_sound(self):
        cases = [("Cam@64x32@25@1000", [], 1000), ("Cam@64x32@30@440", [], 440),
                 ("Cam@64x32@25", [], None), ("Cam@64x32@25@1000", ["--no-audio"], None)]
        for senders, extra, hz in cases:
            with self.subTest(senders=senders, extra=extra):
                movie = os.path.join(self.folder.name, "sound.mp4")
                code, err, _ = self.render(senders, "Cam", "--seconds", "3", "--fps", "25", "--out", movie, *extra)
                self.assertEqual(code, 0, err)
                streams = probe(movie, "stream=codec_type,duration")
                if hz is None:
                    self.assertNotIn("codec_type=audio", streams)
                    continue
                self.assertIn("codec_type=audio", streams)
                raw = subprocess.run(["ffmpeg", "-v", "error", "-i", movie, "-map", "0:a", "-ac", "1", "-ar", "48000",
                                      "-f", "f32le", "-"], capture_output=True, check=True, timeout=120).stdout
                samples = struct.unpack("%df" % (len(raw) // 4), raw)
                self.assertAlmostEqual(len(samples) / 48000, 3.0, delta=0.1)
                # The last two seconds: past the start, where the first blocks may come late.
                tail = samples[48000:3 * 48000]
                crossings = sum(1 for a, b in zip(tail, tail[1:]) if (a < 0) != (b < 0))
                self.assertAlmostEqual(crossings / 2 / (len(tail) / 48000), hz, delta=hz * 0.02)
                quiet = sum(1 for v in tail if abs(v) < 0.01)
                self.assertLess(quiet, len(tail) * 0.2, "the sound has gaps")

    def test_a_missing_or_mute_sender_fails_within_the_ten_seconds(self):
        cases = [("Cam@64x32@25", "Nobody", {}, "no NDI sender named Nobody appeared within 10 seconds"),
                 ("Cam@64x32@25", "Cam", {"FAKE_NDI_SEND_FOR_MS": "0"}, "NDI sender Cam sent no frame within 10 seconds")]
        for senders, name, variables, message in cases:
            with self.subTest(name=name):
                code, err, elapsed = self.render(senders, name, "--frames", "2",
                                                 "--out", os.path.join(self.folder.name, "none.mp4"), **variables)
                self.assertEqual(code, 1)
                self.assertIn(message, err)
                self.assertLess(elapsed, 16)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
