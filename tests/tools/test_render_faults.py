#!/usr/bin/env python3
"""lumbrix-render when a render does not end well: signals, a kill, a file size limit,
and targets that cannot take a movie. The movie named by --out is never touched by a
render that did not finish; what was made is kept beside it, playable (checked with
ffprobe and a full ffmpeg decode, never our own code)."""
import os
import resource
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from test_render_cli import SQUARE_OBJ

RENDER = sys.argv[1] if len(sys.argv) > 1 else "build/bin/lumbrix-render"

EARLIER = b"an earlier movie that must survive"


def decode_errors(path):
    proc = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"], capture_output=True, timeout=300)
    return proc.returncode, proc.stderr.decode()


def frame_count(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-count_packets", "-show_entries",
                          "stream=nb_read_packets", "-of", "csv=p=0", path], capture_output=True, timeout=120)
    text = out.stdout.decode().strip()
    return int(text) if text.isdigit() else 0


def top_level_boxes(path):
    boxes, at = [], 0
    with open(path, "rb") as f:
        while True:
            f.seek(at)
            head = f.read(8)
            if len(head) < 8:
                return boxes
            size = int.from_bytes(head[:4], "big")
            if size == 1:
                size = int.from_bytes(f.read(8), "big")
            boxes.append(head[4:8].decode("latin-1"))
            if size < 8:
                return boxes
            at += size


class Faults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.square = os.path.join(cls.folder.name, "square.obj")
        with open(cls.square, "w") as f:
            f.write(SQUARE_OBJ)
        # Twenty seconds with sound.
        cls.clip = os.path.join(cls.folder.name, "clip.mp4")
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=30",
                        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", "20", "-c:v", "libx264",
                        "-g", "30", "-c:a", "aac", "-movflags", "+faststart", cls.clip], check=True, timeout=300)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=self.folder.name)
        self.out = os.path.join(self.dir, "show.mp4")
        self.partial = os.path.join(self.dir, "show.partial.mp4")
        with open(self.out, "wb") as f:
            f.write(EARLIER)

    def start(self, *extra, limit=None):
        def limited():
            if limit:
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        args = [RENDER, "--model", self.square, "--source", self.clip, "--size", "320x240",
                "--out", self.out, *extra]
        return subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, preexec_fn=limited)

    def wait_for_partial(self, proc, size=150_000, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and proc.poll() is None:
            if os.path.exists(self.partial) and os.path.getsize(self.partial) >= size:
                return
            time.sleep(0.05)
        self.fail("the render never got going")

    def assert_earlier_movie_untouched(self):
        with open(self.out, "rb") as f:
            self.assertEqual(f.read(), EARLIER)

    def assert_playable(self, path, min_frames):
        code, errors = decode_errors(path)
        self.assertEqual((code, errors), (0, ""))
        self.assertGreaterEqual(frame_count(path), min_frames)

    def test_a_render_that_stops_early_keeps_its_frames_beside_the_target(self):
        # (what ends it, how, expected exit status, the words on standard error)
        cases = [
            ("SIGTERM", lambda p: p.send_signal(signal.SIGTERM), 128 + signal.SIGTERM, "stopped by SIGTERM"),
            ("SIGINT", lambda p: p.send_signal(signal.SIGINT), 128 + signal.SIGINT, "stopped by SIGINT"),
            ("SIGKILL", lambda p: p.kill(), -signal.SIGKILL, None),
            ("file size limit", None, 1, "File too large"),
        ]
        for name, end, status, words in cases:
            with self.subTest(name):
                self.setUp()
                limit = 400_000 if name == "file size limit" else None
                proc = self.start("--seconds", "20", limit=limit)
                if end:
                    self.wait_for_partial(proc)
                    end(proc)
                _, err = proc.communicate(timeout=120)
                err = err.decode()
                self.assertEqual(proc.returncode, status, err[-2000:])
                if words:
                    self.assertIn(words, err)
                    self.assertIn("the partial movie is at " + self.partial, err)
                self.assert_earlier_movie_untouched()
                self.assert_playable(self.partial, 15)
                if name != "SIGKILL" and name != "file size limit":
                    # Finished as far as it went: a regular movie, not fragments.
                    self.assertNotIn("moof", top_level_boxes(self.partial))

    def test_a_finished_render_replaces_the_target_in_one_go(self):
        link = os.path.join(self.dir, "link.mp4")
        os.symlink("show.mp4", link)
        proc = subprocess.run([RENDER, "--model", self.square, "--source", self.clip, "--size", "160x120",
                               "--frames", "12", "--out", link], capture_output=True, timeout=300)
        self.assertEqual(proc.returncode, 0, proc.stderr.decode()[-2000:])
        # The link stays a link; the movie it names is the new one, and nothing is left over.
        self.assertTrue(os.path.islink(link))
        self.assert_playable(self.out, 12)
        self.assertEqual(sorted(os.listdir(self.dir)), ["link.mp4", "show.mp4"])
        self.assertNotIn("moof", top_level_boxes(self.out))

    def test_targets_that_cannot_take_a_movie_are_refused_at_once(self):
        fifo = os.path.join(self.dir, "pipe.mp4")
        os.mkfifo(fifo)
        for target, words in [(self.dir, "Is a directory"), ("/dev/null", "Not a regular file (a character device)"),
                              (fifo, "Not a regular file (a named pipe)")]:
            with self.subTest(target=target):
                started = time.monotonic()
                proc = subprocess.run([RENDER, "--model", self.square, "--frames", "2", "--out", target],
                                      capture_output=True, timeout=10)
                self.assertLess(time.monotonic() - started, 5)
                self.assertEqual(proc.returncode, 1)
                self.assertIn(words, proc.stderr.decode())
        self.assertTrue(os.path.exists("/dev/null") and not os.path.isfile("/dev/null"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
