#!/usr/bin/env python3
"""End to end: quillon-cli scanning a failing disk, served by quillon-faulty-file (FUSE).

The disk is the sample image with unreadable sectors: one in a database page's header, one
in the middle of a page, the image's last sector and one whole 256 KiB chunk. The scan must
read around them, treat them as zeros and say so; its fragments, inflated with Python's
zlib, must be those of a scan of the same image with those bytes zeroed, and those an
independent candidate test finds there. A disk that goes away, and one that shrinks, end
the scan with a failure and a complete fragment file holding what was found before. A
stop while a dead chunk is read again, slowly, takes effect at once.
"""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from quillon_test_support import parse_arguments, read_fragment_file, run_tests, use_chinese_texts  # noqa: E402
from test_scan import CHUNK, FRAGMENT, expected_fragments  # noqa: E402

use_chinese_texts()

SECTOR = 512
ARGS = None


def fuse_unusable_reason():
    """Why a FUSE file system cannot be mounted here, or None."""
    if not shutil.which("fusermount3"):
        return "fusermount3 is not installed"
    try:
        os.close(os.open("/dev/fuse", os.O_RDWR))
    except OSError as error:
        return "/dev/fuse cannot be used: %s" % error
    return None


class FaultyMount:
    """quillon-faulty-file serving image at <mountpoint>/disk.img for the with-block; always
    unmounted afterwards. Raises SkipTest where this machine does not allow the mount."""

    def __init__(self, image, *options):
        self.image, self.options = image, options

    def __enter__(self):
        reason = fuse_unusable_reason()
        if reason:
            raise unittest.SkipTest(reason)
        self.mountpoint = tempfile.mkdtemp(prefix="quillon-faulty-", dir=ARGS.work)
        self.path = os.path.join(self.mountpoint, "disk.img")
        self.stderr = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [ARGS.faulty_file, "--image=" + self.image, *self.options, self.mountpoint, "-f"],
            stdout=subprocess.DEVNULL, stderr=self.stderr)
        deadline = time.monotonic() + 15
        while not (os.path.ismount(self.mountpoint) and os.path.exists(self.path)):
            if self.process.poll() is not None:
                self.stderr.seek(0)
                message = self.stderr.read().decode(errors="replace").strip()
                os.rmdir(self.mountpoint)
                if any(text in message for text in ("not permitted", "Permission denied",
                                                     "device not found")):
                    raise unittest.SkipTest("FUSE mounts are not allowed here: " + message)
                raise AssertionError("quillon-faulty-file ended: " + message)
            if time.monotonic() > deadline:
                self._unmount()
                raise AssertionError("quillon-faulty-file did not mount within 15 s")
            time.sleep(0.05)
        return self

    def __exit__(self, *exc):
        self._unmount()
        return False

    def _unmount(self):
        for attempt in range(50):
            if not os.path.ismount(self.mountpoint):
                break
            lazy = ["-z"] if attempt >= 20 else []  # a reader still holds it: detach
            subprocess.run(["fusermount3", "-u", *lazy, self.mountpoint],
                           capture_output=True, check=False)
            time.sleep(0.1)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.stderr.close()
        os.rmdir(self.mountpoint)


def run(*args):
    return subprocess.run([ARGS.cli, *args], capture_output=True, text=True, timeout=300)


def unreadable_summary(total_bytes, ranges):
    return "无法读取 %d 字节（共 %d 处），已按零处理；其余数据均已扫描。" % (total_bytes, ranges)


class FailingDisk(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(ARGS.work, exist_ok=True)
        image = os.path.join(ARGS.work, "failing.img")
        layout_path = os.path.join(ARGS.work, "failing.layout.json")
        database = "sample-jet4.mdb"
        subprocess.run([ARGS.make_image, image, layout_path, os.path.join(ARGS.samples, database),
                        "--seed", "11"], check=True, capture_output=True)
        with open(image, "rb") as f:
            data = f.read()
        # Whole sectors, so that "the last sector" is a full one.
        data += bytes(-len(data) % SECTOR)
        with open(image, "wb") as f:
            f.write(data)
        with open(layout_path) as f:
            layout = json.load(f)
        with open(os.path.join(ARGS.samples, database + ".manifest.json")) as f:
            candidates = set(json.load(f)["candidate_pages"])
        pages = sorted(r["offset"] + (p - r["first_page"]) * FRAGMENT
                       for r in layout["runs"]
                       for p in range(r["first_page"], r["first_page"] + r["pages"])
                       if p in candidates)
        cls.image, cls.data, cls.pages = image, data, pages

    def bad_ranges(self):
        """(offset, length) of the unreadable ranges, in offset order, none adjacent."""
        chunks = len(self.data) // CHUNK
        # The whole chunk with the most database pages, not the last one.
        chunk = max(range(chunks - 1),
                    key=lambda c: sum(1 for p in self.pages if c * CHUNK <= p < (c + 1) * CHUNK))
        last = len(self.data) - SECTOR
        ranges = [(chunk * CHUNK, CHUNK), (last, SECTOR)]

        def clear(offset):
            return all(offset + SECTOR < start or offset > start + length
                       for start, length in ranges)

        outside = [p for p in self.pages if clear(p) and clear(p + 2048)]
        ranges.append((outside[0], SECTOR))                    # a page's header
        ranges.append((outside[len(outside) // 2] + 2048, SECTOR))  # the middle of a page
        return sorted(ranges)

    def zeroed_image(self, ranges):
        zeroed = bytearray(self.data)
        for start, length in ranges:
            zeroed[start:start + length] = bytes(length)
        path = os.path.join(ARGS.work, "failing-zeroed.img")
        with open(path, "wb") as f:
            f.write(zeroed)
        return path, bytes(zeroed)

    def output(self, name):
        path = os.path.join(ARGS.work, name)
        if os.path.exists(path):
            os.remove(path)
        return path

    def fragments_of(self, path):
        with open(path, "rb") as f:
            return read_fragment_file(f.read())

    def assert_inspect_complete(self, path, fragments):
        result = run("inspect", "--json", path)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        report = json.loads(result.stdout)
        self.assertEqual(report["state"], "complete")
        self.assertEqual(report["fragments"], fragments)

    def test_unreadable_sectors_are_scanned_as_zeros(self):
        ranges = self.bad_ranges()
        zeroed_path, zeroed = self.zeroed_image(ranges)
        expected = [page for _, page in expected_fragments(zeroed)]
        self.assertLess(len(expected), len(expected_fragments(self.data)),
                        "the bad sectors should hide some database pages")

        reference_out = self.output("failing-zeroed.frag")
        reference = run("scan", zeroed_path, reference_out)
        self.assertEqual(reference.returncode, 0, reference.stderr)
        _, _, reference_fragments = self.fragments_of(reference_out)
        self.assertEqual(reference_fragments, expected)

        options = ["--bad=%d:%d" % r for r in ranges]
        with FaultyMount(self.image, *options) as disk:
            out = self.output("failing.frag")
            result = run("scan", disk.path, out)
            verbose_out = self.output("failing-verbose.frag")
            verbose = run("scan", "--verbose", disk.path, verbose_out)

        self.assertEqual(result.returncode, 3, result.stdout + result.stderr)
        summary = unreadable_summary(sum(length for _, length in ranges), len(ranges))
        self.assertEqual(result.stdout.splitlines().count(summary), 1, result.stdout)
        self.assertNotIn("unreadable\t", result.stdout)
        path, length, fragments = self.fragments_of(out)
        self.assertEqual((path, length), (disk.path, len(self.data)))
        self.assertEqual(len(fragments), len(expected))
        for k, (got, want) in enumerate(zip(fragments, expected)):
            self.assertEqual(got, want, "fragment %d" % k)
        self.assert_inspect_complete(out, len(expected))

        self.assertEqual(verbose.returncode, 3, verbose.stdout + verbose.stderr)
        self.assertIn(summary, verbose.stdout.splitlines())
        self.assertEqual([line for line in verbose.stdout.splitlines()
                          if line.startswith("unreadable\t")],
                         ["unreadable\t%d\t%d" % r for r in ranges])
        self.assertEqual(self.fragments_of(verbose_out)[2], expected)

    def test_a_failing_disk_can_be_stopped(self):
        # A dead chunk on a disk whose failed reads take 50 ms each: reading it again piece
        # by piece and sector by sector takes half a minute. Ctrl-C must not wait for that.
        bad = ((self.pages[0] // CHUNK + 1) * CHUNK, CHUNK)  # after the first database pages
        _, zeroed = self.zeroed_image([bad])
        expected = [page for _, page in expected_fragments(zeroed)]
        log = os.path.join(ARGS.work, "stopped.log")
        if os.path.exists(log):
            os.remove(log)
        with FaultyMount(self.image, "--bad=%d:%d" % bad, "--slow=50", "--log=" + log) as disk:
            out = self.output("stopped.frag")
            process = subprocess.Popen([ARGS.cli, "scan", disk.path, out], stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE, text=True)
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and process.poll() is None:
                with open(log) as f:
                    if sum(1 for line in f if line.rstrip().endswith("EIO")) >= 10:
                        break  # the re-reading is well under way
                time.sleep(0.05)
            started = time.monotonic()
            process.send_signal(signal.SIGINT)
            stdout, stderr = process.communicate(timeout=120)
            waited = time.monotonic() - started
        self.assertEqual(process.returncode, 130, stdout + stderr)
        self.assertLess(waited, 5, "the stop waited for the dead chunk")
        _, _, fragments = self.fragments_of(out)
        self.assertGreater(len(fragments), 0)
        self.assertEqual(fragments, expected[:len(fragments)])
        self.assert_inspect_complete(out, len(fragments))

    def check_ended_early(self, result, out, disk_path):
        """A failed run's file is complete and holds a prefix of what a whole scan finds."""
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        path, length, fragments = self.fragments_of(out)
        self.assertEqual((path, length), (disk_path, len(self.data)))
        everything = [page for _, page in expected_fragments(self.data)]
        self.assertTrue(0 < len(fragments) < len(everything), len(fragments))
        self.assertEqual(fragments, everything[:len(fragments)])
        self.assert_inspect_complete(out, len(fragments))

    def test_a_disk_that_goes_away_ends_the_scan(self):
        gone_after = len(self.data) // 2
        with FaultyMount(self.image, "--gone-after=%d" % gone_after) as disk:
            out = self.output("gone.frag")
            result = run("scan", disk.path, out)
        self.check_ended_early(result, out, disk.path)
        self.assertIn("can no longer be read", result.stderr)

    def test_a_disk_that_shrinks_ends_the_scan(self):
        # A chunk boundary with no candidate page in the 4096 bytes before it, so that every
        # fragment found before the end moves is whole either way.
        offsets = [offset for offset, _ in expected_fragments(self.data)]
        chunks = len(self.data) // CHUNK
        smaller = next(c * CHUNK for c in range(chunks // 2, chunks)
                       if not any(c * CHUNK - FRAGMENT <= o < c * CHUNK for o in offsets))
        with FaultyMount(self.image, "--shrink-to=%d" % smaller,
                         "--shrink-after=%d" % CHUNK) as disk:
            out = self.output("shrunk.frag")
            result = run("scan", disk.path, out)
        self.check_ended_early(result, out, disk.path)
        self.assertIn(disk.path, result.stderr)


def main():
    global ARGS
    ARGS, argv = parse_arguments(("--make-image", {"required": True}),
                                 ("--faulty-file", {"required": True}))
    run_tests(argv)


if __name__ == "__main__":
    main()
