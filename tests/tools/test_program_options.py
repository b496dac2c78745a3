#!/usr/bin/env python3
"""--help, --version and usage errors of every program, as a shell without a display
sees them, and each program's long options against its manual page.

Arguments: VERSION MAN_DIR NAME=PROGRAM..."""
import os
import re
import subprocess
import sys
import unittest

VERSION = sys.argv[1] if len(sys.argv) > 1 else "0.0.0"
MAN_DIR = sys.argv[2] if len(sys.argv) > 2 else "packaging/man"
PROGRAMS = dict(arg.split("=", 1) for arg in sys.argv[3:])

# No display of any kind: --help and --version must not need one, nor must a usage error.
ENV = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}

USAGE_ERRORS = {
    "Lumbrix": [("--bogus",), ("-platform",), ("-reverse", "--frobnicate"), ("-style=Fusion", "-x"),
                ("venue.obj", "--opn")],
    "Varnel": [()],
    "lumbrix-inspect": [(), ("--bogus", "a.obj"), ("a.obj", "b.obj")],
    "lumbrix-render": [(), ("--model",), ("--model", "m.obj", "--bogus")],
}

# What a reader of the help must learn besides the options.
HELP_MENTIONS = {"lumbrix-inspect": ["OBJ", "FBX"]}


def run(name, *args):
    proc = subprocess.run([PROGRAMS[name], *args], capture_output=True, env=ENV, timeout=30)
    return proc.returncode, proc.stdout.decode(), proc.stderr.decode()


def long_options(text):
    return set(re.findall(r"(?<![\w-])--[a-z][a-z-]*[a-z]", text))


def man_page(name):
    with open(os.path.join(MAN_DIR, name + ".1"), encoding="utf-8") as f:
        return f.read().replace("\\-", "-")


class Options(unittest.TestCase):
    def test_version_is_the_projects(self):
        for name in PROGRAMS:
            for args in (("--version",), ("--version", "--bogus")):
                with self.subTest(name, args=args):
                    self.assertEqual(run(name, *args), (0, "%s %s\n" % (name, VERSION), ""))

    def test_help_goes_to_standard_output_and_matches_the_manual_page(self):
        for name in PROGRAMS:
            with self.subTest(name):
                code, out, err = run(name, "--help")
                self.assertEqual((code, err), (0, ""))
                self.assertTrue(out.startswith("Usage: " + name), out)
                for word in HELP_MENTIONS.get(name, []):
                    self.assertIn(word, out)
                self.assertEqual(long_options(out), long_options(man_page(name)))

    def test_usage_errors_exit_2_with_the_usage(self):
        for name in PROGRAMS:
            for args in USAGE_ERRORS[name]:
                with self.subTest(name, args=args):
                    code, out, err = run(name, *args)
                    self.assertEqual(code, 2, err)
                    self.assertIn("Usage: " + name, err)
                    self.assertNotIn("Usage", out)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
