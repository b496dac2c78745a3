#!/usr/bin/env python3
"""The Lumbrix program as a user starts it: with files named on the command line, under
a settings folder of the test's own; it restores and loads, then quits cleanly on
SIGTERM with the launch finished. Needs a display (make test provides one)."""
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

PROGRAM = sys.argv[1] if len(sys.argv) > 1 else "build/bin/Lumbrix"
DEMO = sys.argv[2] if len(sys.argv) > 2 else "demo"


def settings_text(config):
    path = os.path.join(config, "Lumbrix", "Lumbrix.conf")
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


class Program(unittest.TestCase):
    def start(self, config, *files, extra_env=None):
        env = dict(os.environ, XDG_CONFIG_HOME=config, SDL_AUDIODRIVER="dummy")
        env.pop("NDI_RUNTIME_DIR_V6", None)
        if extra_env:
            env.update(extra_env)
        return subprocess.Popen([PROGRAM, *files], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def wait_for(self, predicate, seconds=30):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if predicate():
                return True
            time.sleep(0.1)
        return False

    def stop(self, proc):
        proc.send_signal(signal.SIGTERM)
        try:
            out, err = proc.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            out, err = proc.communicate()
            self.fail("did not quit on SIGTERM: " + err.decode(errors="replace"))
        return proc.returncode, out.decode(errors="replace"), err.decode(errors="replace")

    def test_opens_the_named_model_and_remembers_it_for_the_next_start(self):
        with tempfile.TemporaryDirectory() as config:
            venue = os.path.abspath(os.path.join(DEMO, "venue.obj"))
            proc = self.start(config, venue, os.path.join(DEMO, "still.png"))
            try:
                loaded = self.wait_for(lambda: "lastModelRecord" in settings_text(config))
            finally:
                status, out, err = self.stop(proc)
            self.assertTrue(loaded, "the model was never stored: " + out + err)
            self.assertEqual(status, 0, err)
            text = settings_text(config)
            self.assertIn("lumbrix.launchInProgress=false", text)

            # The next start, with nothing named, restores the model and finishes its launch.
            proc = self.start(config)
            try:
                finished = self.wait_for(lambda: "lumbrix.launchInProgress=false" in settings_text(config), 20)
                time.sleep(1.0)
                running = proc.poll() is None
            finally:
                status, out, err = self.stop(proc)
            self.assertTrue(finished)
            self.assertTrue(running, "the program ended by itself: " + err)
            self.assertEqual(status, 0, err)

    def test_an_unfinished_launch_starts_in_safe_mode_and_forgets_the_model(self):
        with tempfile.TemporaryDirectory() as config:
            venue = os.path.abspath(os.path.join(DEMO, "venue.obj"))
            proc = self.start(config, venue)
            try:
                self.assertTrue(self.wait_for(lambda: "lastModelRecord" in settings_text(config)))
            finally:
                self.stop(proc)
            # As a crash during start-up would leave it.
            path = os.path.join(config, "Lumbrix", "Lumbrix.conf")
            with open(path, encoding="utf-8") as f:
                text = f.read()
            with open(path, "w", encoding="utf-8") as f:
                f.write(text.replace("lumbrix.launchInProgress=false", "lumbrix.launchInProgress=true"))
            proc = self.start(config)
            try:
                forgotten = self.wait_for(lambda: "lastModelRecord" not in settings_text(config)
                                          and "lumbrix.launchInProgress=false" in settings_text(config), 20)
            finally:
                status, _, err = self.stop(proc)
            self.assertTrue(forgotten, settings_text(config))
            self.assertEqual(status, 0, err)

    def test_without_opengl_it_says_so_and_exits_with_status_1(self):
        with tempfile.TemporaryDirectory() as config:
            # Qt's offscreen platform has no OpenGL at all.
            proc = self.start(config, extra_env={"QT_QPA_PLATFORM": "offscreen"})
            try:
                _, err = proc.communicate(timeout=15)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.communicate()
                self.fail("still running on a display without OpenGL")
            err = err.decode(errors="replace")
            self.assertEqual(proc.returncode, 1, err)
            self.assertIn("Lumbrix needs OpenGL 3.3, which this display does not provide.\n", err)
            self.assertIn('"offscreen"', err, "the reason names the display")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
