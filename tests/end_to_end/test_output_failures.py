#!/usr/bin/env python3
"""End to end: quillon-cli when the fragment file cannot be written.

An output medium that fills up during the scan (a small tmpfs) ends the scan with status 1,
"Stream write error" and a line naming the file and the system's reason; the earlier file at
the output path stays as it was, and what the scan wrote stays as NAME.partial, which never
passes as complete. An output folder the user may not write to ends it with status 1
and a message naming the file and the cause, before anything is created. Other files in the
output folder stay as they were.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from quillon_test_support import run_tests, use_chinese_texts

use_chinese_texts()

ARGS = None
NOBODY = 65534


def run(*args, as_user=None):
    command = [ARGS.cli, *args]
    if as_user is not None:
        command = ["setpriv", "--reuid=%d" % as_user, "--regid=%d" % as_user, "--clear-groups",
                   *command]
    return subprocess.run(command, capture_output=True, text=True, timeout=300)


def snapshot(folder):
    """Every file in folder with its bytes and modification time."""
    result = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        with open(path, "rb") as f:
            result[name] = (f.read(), os.stat(path).st_mtime_ns)
    return result


class OutputFailures(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="quillon-output-")
        os.chmod(self.scratch, 0o755)
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)

    def make_source(self, copies, name="source.img"):
        """An image holding the sample database copies times: 235 fragments each."""
        with open(os.path.join(ARGS.samples, "sample-jet4.mdb"), "rb") as f:
            database = f.read()
        path = os.path.join(self.scratch, name)
        with open(path, "wb") as f:
            f.write(os.urandom(65536))
            for _ in range(copies):
                f.write(database)
        os.chmod(path, 0o644)
        return path

    def mount_small_tmpfs(self, size):
        """A tmpfs of size bytes, unmounted at the end; None where mounting is not allowed."""
        folder = os.path.join(self.scratch, "small")
        os.mkdir(folder)
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d,mode=0755" % size,
                                 "quillon-test", folder], capture_output=True, text=True)
        if result.returncode != 0:
            print("cannot mount a tmpfs (%s): writing to /dev/full instead"
                  % result.stderr.strip(), file=sys.stderr)
            return None
        self.addCleanup(subprocess.run, ["umount", folder], check=False)
        return folder

    def test_output_medium_fills_up(self):
        source = self.make_source(3)  # about 530 KB of fragment file
        folder = self.mount_small_tmpfs(300 * 1024)
        if folder is None:
            self.skipTest("no tmpfs can be mounted here")
        with open(os.path.join(folder, "other.frag"), "wb") as f:
            f.write(b"another scan's file\n" * 100)
        # Yesterday's good file of the same name: a re-scan that fails must not cost it.
        out = os.path.join(folder, "scan.frag")
        result = run("scan", "--quiet", self.make_source(0, "small.img"), out)
        self.assertEqual(result.returncode, 0, result.stderr)
        before = snapshot(folder)

        result = run("scan", "--force", source, out)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn("Stream write error.\n", result.stderr)
        self.assertIn('Cannot write "%s.partial": No space left on device.' % out, result.stderr)
        self.assertIn('The unfinished fragment file stays as "%s.partial"' % out, result.stderr)
        self.assertIn("未完成的扫描文件保留为: %s.partial" % out, result.stdout)
        self.assertNotIn("fragments", result.stdout)
        inspect = run("inspect", "--json", out + ".partial")
        self.assertEqual(inspect.returncode, 1, inspect.stdout + inspect.stderr)
        self.assertEqual(json.loads(inspect.stdout)["state"], "incomplete")
        after = snapshot(folder)
        del after["scan.frag.partial"]
        # The failed scan can be resumed once there is room: its state stays beside it.
        del after["scan.frag.resume"]
        self.assertIn("--resume continues the scan from byte", result.stderr)
        self.assertEqual(after, before)

    def test_output_folder_without_write_permission(self):
        if os.geteuid() != 0 or not shutil.which("setpriv"):
            self.skipTest("needs root and setpriv to run the scan as an unprivileged user")
        source = self.make_source(1)
        folder = os.path.join(self.scratch, "locked")
        os.mkdir(folder, 0o755)  # root's: the unprivileged user may read but not write
        with open(os.path.join(folder, "other.frag"), "wb") as f:
            f.write(b"another scan's file\n")
        before = snapshot(folder)
        out = os.path.join(folder, "scan.frag")

        result = run("scan", source, out, as_user=NOBODY)
        if "setpriv:" in result.stderr:
            self.skipTest("setpriv cannot change the user here: " + result.stderr.strip())
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn(out, result.stderr)
        self.assertIn("Permission denied", result.stderr)
        self.assertEqual(snapshot(folder), before)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--samples", required=True)
    ARGS, rest = parser.parse_known_args()
    # The unprivileged user must be able to run the program: a copy where everyone may.
    with tempfile.TemporaryDirectory(prefix="quillon-cli-") as folder:
        os.chmod(folder, 0o755)
        ARGS.cli = shutil.copy2(ARGS.cli, os.path.join(folder, "quillon-cli"))
        os.chmod(ARGS.cli, 0o755)
        run_tests([sys.argv[0], *rest])


if __name__ == "__main__":
    main()
