"""Paths that name no file to read or write: a named pipe without a writer, a device
that never ends, a folder and a missing file. Every program must refuse them at
once, with the reason; one that blocks fails on the subprocess time-out instead of
hanging the suite."""
import os
import subprocess
import time

# A refusal comes well inside this; a blocked open never does.
LIMIT_SECONDS = 1.0


def make(folder, extension):
    """(case, path, reason) for each kind, the path ending in `extension`."""
    fifo = os.path.join(folder, "pipe" + extension)
    os.mkfifo(fifo)
    # Through a link to /dev/zero, so that a program that writes where it should not
    # replaces the link and never the device node itself.
    device = os.path.join(folder, "zero" + extension)
    os.symlink("/dev/zero", device)
    directory = os.path.join(folder, "folder" + extension)
    os.mkdir(directory)
    return [
        ("named pipe", fifo, "Not a regular file (a named pipe)"),
        ("device", device, "Not a regular file (a character device)"),
        ("folder", directory, "Is a directory"),
        ("missing", os.path.join(folder, "missing" + extension), "No such file or directory"),
    ]


def sparse(path, size=1536 << 20, head=b"this is a log file, not a model\n"):
    """A file of `size` bytes that takes no disk: `head`, then a hole."""
    with open(path, "wb") as f:
        f.write(head)
        f.truncate(size)
    return path


def run(command):
    """(status, stdout, stderr, seconds) of `command`."""
    started = time.monotonic()
    proc = subprocess.run(command, capture_output=True, timeout=LIMIT_SECONDS * 20)
    return proc.returncode, proc.stdout, proc.stderr, time.monotonic() - started
