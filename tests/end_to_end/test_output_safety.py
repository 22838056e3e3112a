#!/usr/bin/env python3
"""End to end: quillon-cli never destroys a file it was not clearly asked to replace, and
says what is so.

Swapped arguments, an index named after the source, the device or the fragment file, two
scans writing one output at once, sources without a size, and - on a loop device holding a
mounted file system - outputs on the very device being scanned: named by its node, as the
file behind the loop device, and through a dangling link. Every fragment file is checked
with Python's zlib, independently of the program's own reader.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import zlib

from quillon_test_support import (
    fragment_count, run_tests, start_and_hold, use_chinese_texts)

use_chinese_texts()

ARGS = None


def run(*args, **kwargs):
    return subprocess.run([ARGS.cli, *args], capture_output=True, text=True, timeout=300,
                          **kwargs)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class OutputSafety(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillon-safety-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        with open(os.path.join(ARGS.samples, "sample-jet4.mdb"), "rb") as f:
            self.database = f.read()

    def path(self, name):
        return os.path.join(self.dir, name)

    def image(self, name, copies=1):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(os.urandom(65536))
            for _ in range(copies):
                f.write(self.database)
        return path

    def test_force_replaces_only_fragment_files_and_the_index_is_checked_like_them(self):
        image = self.image("copy.img")
        frag = self.path("sample.frag")
        self.assertEqual(run("scan", "--quiet", image, frag).returncode, 0)
        original = read(image)

        # The arguments swapped: the image is not a fragment file, so --force leaves it.
        result = run("scan", "--force", frag, image)
        self.assertEqual(result.returncode, 1)
        self.assertIn("is not a fragment file, so --force does not replace it", result.stderr)
        self.assertIn("the arguments look swapped", result.stderr)
        self.assertEqual(read(image), original)

        # The index may be neither the source, nor the fragment file, nor a device.
        for index, reason in ((image, "is the source of this scan"),
                              (self.path("out.frag"), "is also the output file of this run"),
                              ("/dev/null", "is a device")):
            result = run("scan", "--force", "--index", index, image, self.path("out.frag"))
            self.assertEqual(result.returncode, 1, index)
            self.assertIn(reason, result.stderr)
            self.assertNotIn("fragments", result.stdout)
        self.assertEqual(read(image), original)
        self.assertFalse(os.path.exists(self.path("out.frag")))
        self.assertFalse(os.path.exists(self.path("out.frag.partial")))

        # --force replaces a fragment file and an index file; the replacement is complete.
        index = self.path("index.tsv")
        result = run("scan", "--quiet", "--index", index, image, self.path("out.frag"))
        self.assertEqual(result.returncode, 0, result.stderr)
        result = run("scan", "--quiet", "--force", "--index", index, image, frag)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(fragment_count(frag), 235)
        with open(index) as f:
            self.assertEqual(len(f.read().splitlines()), 235)
        self.assertEqual(sorted(os.listdir(self.dir)),
                         ["copy.img", "index.tsv", "out.frag", "sample.frag"])

    def test_two_scans_writing_one_output_at_once(self):
        # Enough pages to keep the first scan busy for a while, also on every core.
        image = self.path("busy.img")
        with open(image, "wb") as f:
            for _ in range(256 * 1024 ** 2 // len(self.database)):
                f.write(self.database)
        out = self.path("shared.frag")
        # The first is held still in the middle of its work (its partial file made, its lock
        # taken) while the second tries: on a slow or loaded machine a fixed wait could see
        # the first end before the second began, or the second start before the first did.
        first = start_and_hold([ARGS.cli, "scan", "--force", image, out],
                               lambda: os.path.exists(out + ".partial"),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.assertIsNotNone(first, "the first scan ended before it made its partial file")
        try:
            second = run("scan", "--force", image, out)
        finally:
            first.send_signal(signal.SIGCONT)
        stdout, stderr = first.communicate(timeout=300)
        self.assertEqual(first.returncode, 0, stderr)
        self.assertEqual(second.returncode, 1, second.stdout + second.stderr)
        # Refused by the lock the first one holds, which it names (in the session's language).
        self.assertIn('"%s" 正被另一个扫描或恢复使用' % out, second.stderr)
        self.assertIn(out + ".lock", second.stderr)
        self.assertNotIn("fragments", second.stdout)
        self.assertEqual(fragment_count(out), 256 * 1024 ** 2 // len(self.database) * 235)
        self.assertEqual(run("inspect", out).returncode, 0)
        self.assertFalse(os.path.exists(out + ".partial"))

    def test_sources_without_a_size_are_refused_before_anything_is_created(self):
        fifo = self.path("pipe")
        os.mkfifo(fifo)
        for source in ("/dev/zero", "/dev/urandom", "/dev/null", fifo):
            if not os.path.exists(source):
                continue
            out = self.path("never.frag")
            result = run("scan", source, out)
            self.assertEqual(result.returncode, 1, source)
            self.assertIn('"%s"' % source, result.stderr)
            self.assertNotIn("完成！", result.stdout)
            self.assertFalse(os.path.exists(out))
            self.assertFalse(os.path.exists(out + ".partial"))

    def test_inspect_says_what_is_so(self):
        empty = self.path("empty.frag")
        open(empty, "wb").close()
        result = run("inspect", empty)
        self.assertEqual(result.returncode, 1)
        self.assertIn("empty (0 bytes)", result.stdout)
        self.assertNotIn("not a fragment file", result.stdout)

        # A body of one fragment and a half, with a sound trailer after it.
        body = zlib.compress(bytes(4096 + 100), 1)
        header = read(self.path_of_scan())[:512]
        data = header + body + bytes(4 + (4 - (512 + len(body) + 4) % 4) % 4) + b"TEMP"
        odd = self.path("odd.frag")
        with open(odd, "wb") as f:
            f.write(data)
        result = run("inspect", odd)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Trailer:        valid", result.stdout)
        self.assertIn("100 bytes beyond its last whole 4096-byte fragment", result.stdout)

        # One page of one table: counted in the singular.
        page = bytearray(4096)
        page[0:16] = bytes([1, 1, 0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x00, 0x0F])
        one = self.path("one.img")
        with open(one, "wb") as f:
            f.write(bytes(page) + bytes(65536))
        single = self.path("one.frag")
        self.assertEqual(run("scan", "--quiet", one, single).returncode, 0)
        result = run("rows", single)
        self.assertIn("(complete, 1 fragment)", result.stdout)
        self.assertIn("1 data page of 1 table,", result.stdout)

    def path_of_scan(self):
        out = self.path("plain.frag")
        if not os.path.exists(out):
            self.assertEqual(run("scan", "--quiet", self.image("plain.img"), out).returncode, 0)
        return out


def snapshot(folder):
    """Every entry below folder with its bytes (files) or its target (links)."""
    found = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(root, name)
            key = os.path.relpath(path, folder)
            if os.path.islink(path):
                found[key] = "-> " + os.readlink(path)
            elif os.path.isfile(path):
                found[key] = read(path)
            else:
                found[key] = "folder"
    return found


class RecoverSafety(unittest.TestCase):
    """recover never destroys what is there: not the source it reads, not a file reached
    through a link, not an earlier recovery when the new one fails, and a refusal or a
    failure leaves nothing behind."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillon-recover-safety-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.sample = self.path("s.mdb")
        shutil.copy(os.path.join(ARGS.samples, "sample-jet4.mdb"), self.sample)
        self.user = self.path("user")
        os.mkdir(self.user)
        with open(os.path.join(self.user, "thesis.docx"), "wb") as f:
            f.write(b"the only copy")

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def rescue(self, name="rescue"):
        out = self.path(name)
        result = run("recover", "-q", self.sample, out)
        self.assertEqual(result.returncode, 0, result.stderr)
        return out

    def assertUserFileIntact(self):
        self.assertEqual(snapshot(self.user), {"thesis.docx": b"the only copy"})

    def test_force_never_removes_the_source_under_another_name(self):
        out = self.rescue()
        before = snapshot(out)
        os.symlink(out, self.path("out-link"))
        os.symlink(os.path.join(out, "fragments.frag"), self.path("frag-link.frag"))
        for source, folder in ((os.path.join(out, "fragments.frag"), out + "/"),
                               (os.path.join(out, "fragments.frag"), self.path("out-link")),
                               (self.path("frag-link.frag"), out),
                               (os.path.join(out, ".", "fragments.frag"), out + "//")):
            result = run("recover", "--force", source, folder)
            self.assertEqual(result.returncode, 1, (source, folder, result.stderr))
            self.assertIn("lies inside the output folder", result.stderr)
            self.assertEqual(snapshot(out), before, (source, folder))

    def test_force_never_follows_a_link_in_the_folder(self):
        out = self.rescue()
        # A manifest that lists a file behind a link to the person's folder.
        with open(os.path.join(out, "quillon-recover.manifest"), "a") as f:
            f.write("link/thesis.docx\n")
        os.symlink(self.user, os.path.join(out, "link"))
        result = run("recover", "--force", self.sample, out)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn('"link"', result.stderr)
        self.assertUserFileIntact()
        os.remove(os.path.join(out, "link"))

        # A listed table replaced by a link to the person's file.
        table = os.path.join(out, "database-1", "Authors.csv")
        os.remove(table)
        os.symlink(os.path.join(self.user, "thesis.docx"), table)
        result = run("recover", "--force", self.sample, out)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertUserFileIntact()
        self.assertTrue(os.path.islink(table))

    def test_links_planted_while_recover_runs_are_never_written_through(self):
        # A source that takes a while, and links planted as soon as the run has begun.
        image = self.path("slow.img")
        with open(image, "wb") as f:
            for _ in range(24):
                f.write(read(self.sample))
        out = self.path("planted")
        # Planted once the run has checked the folder and begun to write (its staging folder
        # is there), while it is held still: on a loaded machine a run left going could be
        # further on than the planting, or not yet at its checks.
        run_ = start_and_hold([ARGS.cli, "recover", "-q", image, out],
                              lambda: os.path.isdir(os.path.join(out, ".quillon-recover.partial")),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.assertIsNotNone(run_, "the run ended before anything could be planted")
        try:
            os.symlink(os.path.join(self.user, "thesis.docx"),
                       os.path.join(out, "database-1.sqlite"))
            os.symlink(self.user, os.path.join(out, "database-1"))
        finally:
            run_.send_signal(signal.SIGCONT)
        _, stderr = run_.communicate(timeout=300)
        self.assertUserFileIntact()
        self.assertEqual(run_.returncode, 1, stderr)
        self.assertIn("was changed by another program", stderr)
        self.assertUserFileIntact()
        self.assertEqual(sorted(os.listdir(out)), ["database-1", "database-1.sqlite"])

    def test_a_failing_or_refused_run_leaves_the_folder_as_it_was(self):
        out = self.rescue()
        before = snapshot(out)
        fifo = self.path("pipe")
        os.mkfifo(fifo)
        folder_source = self.path("a-folder")
        os.mkdir(folder_source)
        for source in ("/dev/zero", "/dev/null", fifo, folder_source, self.path("missing.img")):
            result = run("recover", "--force", source, out)
            self.assertEqual(result.returncode, 1, source)
            self.assertNotIn(".partial", result.stderr)
            self.assertEqual(snapshot(out), before, source)
            # Into a new folder: nothing is created at all.
            fresh = self.path("fresh", "out")
            result = run("recover", source, fresh)
            self.assertEqual(result.returncode, 1, source)
            self.assertFalse(os.path.exists(self.path("fresh")), source)

        # A fragment file whose page map is a pipe or a folder.
        frag = self.path("copy.frag")
        shutil.copy(os.path.join(out, "fragments.frag"), frag)
        for make in (os.mkfifo, os.mkdir):
            make(self.path("copy.pagemap"))
            result = run("recover", frag, self.path("fresh"))
            self.assertEqual(result.returncode, 1)
            self.assertFalse(os.path.exists(self.path("fresh")))
            os.rmdir(self.path("copy.pagemap")) if os.path.isdir(self.path("copy.pagemap")) \
                else os.remove(self.path("copy.pagemap"))

    def test_a_dead_disk_never_replaces_an_earlier_recovery(self):
        if not ARGS.faulty_file:
            self.skipTest("quillon-faulty-file was not built (no libfuse3)")
        import test_failing_disk as failing
        failing.ARGS = ARGS
        os.makedirs(ARGS.work, exist_ok=True)
        out = self.rescue()
        before = snapshot(out)
        with failing.FaultyMount(self.sample, "--gone-after=65536") as mount:
            result = run("recover", "--force", mount.path, out)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn("does not replace the earlier recovery", result.stderr)
        staging = os.path.join(out, ".quillon-recover.partial")
        self.assertIn(os.path.join(staging, "fragments.frag"), result.stderr)
        self.assertEqual({key: value for key, value in snapshot(out).items()
                          if not key.startswith(".quillon-recover.partial")}, before)
        # What was read is whole up to the loss, and decodes elsewhere.
        decoded = run("recover", "-q", os.path.join(staging, "fragments.frag"), self.path("d"))
        self.assertIn("the source was read only up to there", decoded.stderr)
        self.assertTrue(os.path.isfile(self.path("d", "report.html")), decoded.stderr)
        # The kept folder blocks the output folder until it is moved away.
        again = run("recover", "--force", self.sample, out)
        self.assertEqual(again.returncode, 1)
        self.assertIn(".quillon-recover.partial", again.stderr)

    def test_two_runs_into_one_folder(self):
        image = self.path("busy.img")
        with open(image, "wb") as f:
            for _ in range(8):
                f.write(read(self.sample))
        out = self.path("shared")
        runs = [subprocess.Popen([ARGS.cli, "recover", "-q", image, out], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True) for _ in range(2)]
        results = [(p.wait(timeout=300), p.stderr.read()) for p in runs]
        for p in runs:
            p.stdout.close()
            p.stderr.close()
        self.assertEqual(sorted(code for code, _ in results), [0, 1], results)
        failed = [text for code, text in results if code == 1][0]
        self.assertNotIn("kept as", failed)
        self.assertNotIn(".partial\"", failed.replace(".quillon-recover.partial", ""))
        # The manifest lists every file in the folder.
        listed = set(read(os.path.join(out, "quillon-recover.manifest")).decode().split("\n")[1:])
        present = {key for key, value in snapshot(out).items() if value != "folder"}
        self.assertEqual(present - listed, {"quillon-recover.manifest"})

    def test_a_full_disk_leaves_no_result_and_the_earlier_one_whole(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to mount a small file system")
        mount = self.path("small")
        os.mkdir(mount)
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=900k", "tmpfs", mount],
                                capture_output=True, text=True)
        if result.returncode != 0:
            self.skipTest("cannot mount a tmpfs: " + result.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", mount], check=False)
        small = os.path.join(ARGS.samples, "sample-jet4-small.mdb")
        out = os.path.join(mount, "out")
        result = run("recover", "-q", small, out)
        self.assertEqual(result.returncode, 0, result.stderr)
        before = snapshot(out)
        for folder, force in ((os.path.join(mount, "new"), []), (out, ["--force"])):
            result = run("recover", *force, self.sample, folder)
            self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
            self.assertIn("Nothing of this run was kept", result.stderr)
            self.assertNotIn("Report:", result.stdout)
        self.assertFalse(os.path.exists(os.path.join(mount, "new")))
        self.assertEqual(snapshot(out), before)
        self.assertEqual(sorted(os.listdir(mount)), ["out"])


class UnreadableFragmentFile(unittest.TestCase):
    """A fragment file on a failing disk (quillon-faulty-file): inspect and rows say that it
    could not be read, and where, rather than that its scan did not finish."""

    def test_a_read_error_is_named_with_its_offset(self):
        if not ARGS.faulty_file:
            self.skipTest("quillon-faulty-file was not built (no libfuse3)")
        import test_failing_disk as failing
        failing.ARGS = ARGS
        os.makedirs(ARGS.work, exist_ok=True)
        with open(os.path.join(ARGS.samples, "sample-jet4.mdb"), "rb") as f:
            database = f.read()
        image = os.path.join(ARGS.work, "source.img")
        with open(image, "wb") as f:
            f.write(database * 4)
        frag = os.path.join(ARGS.work, "on-a-failing-disk.frag")
        if os.path.exists(frag):
            os.remove(frag)
        self.assertEqual(run("scan", "--quiet", image, frag).returncode, 0)
        with failing.FaultyMount(frag, "--bad=131072:512") as mount:
            for command in (["inspect", mount.path], ["rows", mount.path]):
                result = run(*command)
                self.assertEqual(result.returncode, 1, command)
                self.assertIn("could not be read at offset 131072: Input/output error",
                              result.stdout + result.stderr)
                self.assertNotIn("did not finish", result.stdout + result.stderr)


class SameDevice(unittest.TestCase):
    """A loop device holding a mounted ext2 file system: no output may land on it."""

    def setUp(self):
        if os.geteuid() != 0 or not shutil.which("losetup") or not shutil.which("mkfs.ext2"):
            self.skipTest("needs root, losetup and mkfs.ext2")
        self.dir = tempfile.mkdtemp(prefix="quillon-device-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.image = os.path.join(self.dir, "disk.img")
        with open(self.image, "wb") as f:
            f.truncate(8 * 1024 * 1024)
        subprocess.run(["mkfs.ext2", "-q", "-F", self.image], check=True)
        with open(os.path.join(ARGS.samples, "sample-jet4-small.mdb"), "rb") as f:
            database = f.read()
        with open(self.image, "r+b") as f:
            f.seek(4 * 1024 * 1024)
            f.write(database)
        result = subprocess.run(["losetup", "--find", "--show", self.image],
                                capture_output=True, text=True)
        if result.returncode != 0:
            self.skipTest("no loop device can be attached: " + result.stderr.strip())
        self.node = result.stdout.strip()
        self.addCleanup(subprocess.run, ["losetup", "-d", self.node], check=False)
        self.mount = os.path.join(self.dir, "mnt")
        os.mkdir(self.mount)
        result = subprocess.run(["mount", self.node, self.mount], capture_output=True, text=True)
        if result.returncode != 0:
            self.skipTest("cannot mount the loop device: " + result.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", self.mount], check=False)

    def test_outputs_on_the_scanned_device_are_refused(self):
        size = os.path.getsize(self.image)
        original = read(self.image)
        dangling = os.path.join(self.dir, "dangling.frag")
        os.symlink(os.path.join(self.mount, "not-yet.frag"), dangling)
        for output in (os.path.join(self.mount, "out.frag"), dangling):
            result = run("scan", self.node, output)
            self.assertEqual(result.returncode, 1, output + result.stdout + result.stderr)
            self.assertIn("the device being scanned", result.stderr)
            self.assertNotIn("完成！", result.stdout)
            self.assertEqual(sorted(os.listdir(self.mount)), ["lost+found"])
        # The file behind the loop device is the device's content.
        result = run("scan", "--force", self.node, self.image)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(os.path.getsize(self.image), size)
        self.assertEqual(read(self.image), original)
        # The index is held to the same rule.
        result = run("scan", "--index", os.path.join(self.mount, "index.tsv"), self.node,
                     os.path.join(self.dir, "elsewhere.frag"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("the device being scanned", result.stderr)
        self.assertEqual(sorted(os.listdir(self.mount)), ["lost+found"])
        # Elsewhere the device scans as usual.
        out = os.path.join(self.dir, "elsewhere.frag")
        result = run("scan", "--quiet", self.node, out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertGreater(fragment_count(out), 0)

    def test_the_file_behind_the_scanned_loop_device_is_refused(self):
        # A fragment file attached as a loop device: --force would replace it, but it is
        # the very bytes being scanned.
        backing = os.path.join(self.dir, "backing.frag")
        self.assertEqual(run("scan", "--quiet", self.image, backing).returncode, 0)
        with open(backing, "ab") as f:
            f.write(bytes(-os.path.getsize(backing) % 512))  # whole sectors for the loop device
        original = read(backing)
        result = subprocess.run(["losetup", "--find", "--show", backing],
                                capture_output=True, text=True)
        if result.returncode != 0:
            self.skipTest("no second loop device: " + result.stderr.strip())
        node = result.stdout.strip()
        try:
            result = run("scan", "--force", node, backing)
        finally:
            subprocess.run(["losetup", "-d", node], check=False)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn("the device being scanned", result.stderr)
        self.assertEqual(read(backing), original)

    def test_recover_writes_nothing_onto_the_device_it_reads(self):
        link = os.path.join(self.dir, "node-link")
        os.symlink(self.node, link)
        for source in (self.node, link):
            result = run("recover", "--force", source, os.path.join(self.mount, "out"))
            self.assertEqual(result.returncode, 1, source + result.stdout + result.stderr)
            self.assertIn("the device being read", result.stderr)
            self.assertEqual(sorted(os.listdir(self.mount)), ["lost+found"])
        # Elsewhere the device is recovered as usual.
        out = os.path.join(self.dir, "recovered")
        result = run("recover", "-q", self.node, out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.isfile(os.path.join(out, "database-1.sqlite")))

    def test_a_detached_loop_device_is_refused(self):
        result = subprocess.run(["losetup", "--find"], capture_output=True, text=True)
        free = result.stdout.strip()
        if result.returncode != 0 or not os.path.exists(free):
            self.skipTest("no free loop device node")
        out = os.path.join(self.dir, "never.frag")
        result = run("scan", free, out)
        self.assertEqual(result.returncode, 1)
        self.assertIn("reports no size", result.stderr)
        self.assertFalse(os.path.exists(out))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--faulty-file", default="")
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "quillon-safety"))
    ARGS, rest = parser.parse_known_args()
    run_tests([sys.argv[0], *rest])


if __name__ == "__main__":
    main()
