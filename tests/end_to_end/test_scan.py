#!/usr/bin/env python3
"""End to end: quillon-cli on disk images built around the bundled Jet 4 databases.

Every fragment file is read here with Python's own zlib, independently of the program's
reader, and compared with what an independent candidate test finds in the image; every
page that a database's manifest lists as a candidate must come back byte for byte.
"""

import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import time
import unittest

from quillon_test_support import parse_arguments, read_fragment_file, run_tests, use_chinese_texts

use_chinese_texts()

CHUNK = 262144
STEP = 512
RECORD = 526
FRAGMENT = 4096
LVAL = 0x4C41564C

ARGS = None


def is_candidate(record):
    """The page candidate test, written from the page format, not from the program."""
    if record[0] != 1 or record[1] != 1:
        return False
    free_space, owner, _, rows = struct.unpack_from("<HIIH", record, 2)
    if free_space >= 8192 or (owner >= 25600 and owner != LVAL) or rows >= 2048:
        return False
    if rows == 0 or rows > 256:
        return False
    table = struct.unpack_from("<%dH" % rows, record, 14)
    return table[-1] > rows + 14 and all(table)


def expected_fragments(image):
    """(offset, 4096 bytes) for every candidate step, as the scan must find them: each step
    judged on its own 526 bytes, wherever the chunks end; zeros only past the image's end."""
    found = []
    for at in range(0, len(image), STEP):
        if image[at] == 1 and is_candidate(image[at:at + RECORD].ljust(RECORD, b"\0")):
            found.append((at, image[at:at + FRAGMENT].ljust(FRAGMENT, b"\0")))
    return found


def short_row_page(owner, rows, row_length=14):
    """A Jet 4 data page of `rows` rows of row_length bytes each, stored from the page's end
    down, as a table of links or flags fills its pages."""
    page = bytearray(FRAGMENT)
    table_end = 14 + 2 * rows
    free = FRAGMENT - table_end - rows * row_length
    assert free >= 0
    struct.pack_into("<BBHIIH", page, 0, 1, 1, free, owner, 0, rows)
    for k in range(rows):
        offset = FRAGMENT - (k + 1) * row_length
        struct.pack_into("<H", page, 14 + 2 * k, offset)
        struct.pack_into("<H", page, offset, 2)  # two columns
        page[offset + 2:offset + row_length] = bytes([k % 256]) * (row_length - 2)
    return bytes(page)


def run(*args, **kwargs):
    return subprocess.run([ARGS.cli, *args], capture_output=True, text=True, **kwargs)


class EndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(ARGS.work, exist_ok=True)

    def work(self, name):
        path = os.path.join(ARGS.work, name)
        if os.path.lexists(path):
            os.remove(path)
        return path

    def make_image(self, name, databases, seed):
        image, layout = self.work(name + ".img"), self.work(name + ".layout.json")
        subprocess.run([ARGS.make_image, image, layout,
                        *[os.path.join(ARGS.samples, d) for d in databases],
                        "--seed", str(seed)], check=True, capture_output=True)
        with open(layout) as f:
            return image, json.load(f)

    def scan_and_check(self, name, databases, seed):
        image_path, layout = self.make_image(name, databases, seed)
        out = self.work(name + ".frag")
        index = self.work(name + ".index")
        result = run("scan", "--index", index, image_path, out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("扫描存储介质: " + os.path.abspath(image_path), result.stdout)
        self.assertIn("完成！", result.stdout)

        with open(image_path, "rb") as f:
            image = f.read()
        with open(out, "rb") as f:
            path, source_length, fragments = read_fragment_file(f.read())
        self.assertEqual(path, os.path.abspath(image_path))
        self.assertEqual(source_length, len(image))

        expected = expected_fragments(image)
        self.assertEqual(len(fragments), len(expected))
        for k, (offset, page) in enumerate(expected):
            self.assertEqual(fragments[k], page, "fragment %d from offset %d" % (k, offset))

        # The side index: number, offset, type, owner, rows of every fragment, in order.
        with open(index) as f:
            lines = [line.rstrip("\n").split("\t") for line in f]
        self.assertEqual(len(lines), len(expected))
        for k, (offset, page) in enumerate(expected):
            owner, _, rows = struct.unpack_from("<IIH", page, 4)
            self.assertEqual(lines[k], [str(k), str(offset), "LVAL" if owner == LVAL else "data",
                                        "-" if owner == LVAL else str(owner), str(rows)])

        # Every candidate page of every database is there, byte for byte.
        by_offset = {offset: k for k, (offset, _) in enumerate(expected)}
        for index, database in enumerate(databases):
            with open(os.path.join(ARGS.samples, database), "rb") as f:
                db = f.read()
            with open(os.path.join(ARGS.samples, database + ".manifest.json")) as f:
                candidates = set(json.load(f)["candidate_pages"])
            found = 0
            for r in layout["runs"]:
                if r["database"] != index:
                    continue
                for p in range(r["first_page"], r["first_page"] + r["pages"]):
                    if p not in candidates:
                        continue
                    offset = r["offset"] + (p - r["first_page"]) * FRAGMENT
                    self.assertIn(offset, by_offset, "%s page %d" % (database, p))
                    self.assertEqual(fragments[by_offset[offset]], db[p * FRAGMENT:(p + 1) * FRAGMENT])
                    found += 1
            self.assertEqual(found, len(candidates), database)

        # The program's own reader agrees.
        summary = run("inspect", "--json", out)
        self.assertEqual(summary.returncode, 0, summary.stderr)
        report = json.loads(summary.stdout)
        self.assertEqual(report["state"], "complete")
        self.assertEqual(report["fragments"], len(expected))
        pages = run("inspect", "--pages", out)
        self.assertEqual(pages.returncode, 0)
        self.assertEqual(sum(1 for line in pages.stdout.splitlines() if line.strip()[:1].isdigit()),
                         len(expected))
        return image_path, out

    def test_each_database_alone(self):
        for seed, database in enumerate(["sample-jet4-small.mdb", "sample-jet4.mdb"]):
            with self.subTest(database=database):
                self.scan_and_check("alone-%d" % seed, [database], 100 + seed)

    def test_two_databases_mixed(self):
        self.scan_and_check("mixed", ["sample-jet4.mdb", "sample-jet4-small.mdb"], 7)

    def test_a_page_at_the_last_step_of_a_chunk(self):
        # A database on a disk partitioned at sector 63: every page lies 3584 bytes past a
        # 4 KiB boundary, and page 56 starts at the last step of the first chunk. There lies
        # a page of 255 short rows, whose last row offsets are the next chunk's first bytes.
        with open(os.path.join(ARGS.samples, "sample-jet4.mdb"), "rb") as f:
            database = bytearray(f.read())
        page = short_row_page(owner=2, rows=255)
        database[56 * FRAGMENT:57 * FRAGMENT] = page
        image_path = self.work("sector-63.img")
        image = bytes(63 * 512) + bytes(database)
        with open(image_path, "wb") as f:
            f.write(image)
        self.assertEqual(63 * 512 + 56 * FRAGMENT, CHUNK - STEP)
        out = self.work("sector-63.frag")
        result = run("scan", "--quiet", image_path, out)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(out, "rb") as f:
            _, _, fragments = read_fragment_file(f.read())
        expected = expected_fragments(image)
        self.assertIn((CHUNK - STEP, page), expected)
        self.assertEqual(fragments, [fragment for _, fragment in expected])

    def test_existing_output_is_kept_unless_forced(self):
        image, out = self.scan_and_check("force", ["sample-jet4-small.mdb"], 3)
        with open(out, "rb") as f:
            before = f.read()
        result = run("scan", image, out)
        self.assertEqual(result.returncode, 1)
        self.assertIn("already exists", result.stderr)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), before)
        self.assertEqual(run("scan", "--force", "--quiet", image, out).returncode, 0)

    def test_output_that_is_the_source_is_refused(self):
        image, _ = self.make_image("self", ["sample-jet4-small.mdb"], 4)
        size = os.path.getsize(image)
        link = self.work("self-link.img")
        os.symlink(image, link)
        for target in (image, link):
            result = run("scan", "--force", image, target)
            self.assertEqual(result.returncode, 1)
            self.assertIn("is the source of this scan", result.stderr)
            self.assertEqual(os.path.getsize(image), size)

    def test_failures_and_usage(self):
        missing = self.work("missing.img")
        result = run("scan", missing, self.work("never.frag"))
        self.assertEqual(result.returncode, 1)
        self.assertIn('Cannot open file "%s". No such file or directory.' % missing, result.stderr)
        self.assertFalse(os.path.exists(self.work("never.frag")))
        self.assertEqual(run("scan", "only-one-argument").returncode, 2)
        self.assertEqual(run("frobnicate").returncode, 2)
        if os.path.exists("/dev/full"):
            image, _ = self.make_image("full", ["sample-jet4-small.mdb"], 5)
            result = run("scan", "--force", image, "/dev/full")
            self.assertEqual(result.returncode, 1)
            self.assertIn('"/dev/full" is a device', result.stderr)

    def test_inspect_finds_cut_and_damaged_files(self):
        _, out = self.scan_and_check("cut", ["sample-jet4-small.mdb"], 6)
        with open(out, "rb") as f:
            data = f.read()
        cut = self.work("cut-short.frag")
        with open(cut, "wb") as f:
            f.write(data[:len(data) // 2])
        result = run("inspect", cut)
        self.assertEqual(result.returncode, 1)
        self.assertIn("incomplete", result.stdout)
        damaged = self.work("damaged.frag")
        with open(damaged, "wb") as f:
            f.write(data[:1000] + bytes([data[1000] ^ 0xFF]) + data[1001:])
        self.assertEqual(run("inspect", damaged).returncode, 1)

    def test_ctrl_c_finishes_the_file_as_a_stopped_run(self):
        # Holes are skipped in no time, so the scan is kept busy by what takes longest:
        # compressing pages. 256 MiB of database pages, then a hole up to 64 GiB.
        image = self.work("large-sparse.img")
        with open(os.path.join(ARGS.samples, "sample-jet4.mdb"), "rb") as f:
            database = f.read()
        with open(image, "wb") as f:
            for _ in range(256 * 1024 ** 2 // len(database)):
                f.write(database)
            f.truncate(64 * 1024 ** 3)
        out = self.work("stopped.frag")
        process = subprocess.Popen([ARGS.cli, "scan", image, out], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        # The size message comes right before the chunk loop starts.
        for line in process.stdout:
            if line.strip() == str(64 * 1024 ** 3):
                break
        time.sleep(0.1)
        process.send_signal(signal.SIGINT)
        stdout, stderr = process.communicate(timeout=120)
        self.assertEqual(process.returncode, 130, stderr)
        self.assertIn("完成！", stdout)
        # Where it stopped, in the log and in the last line; never "everything was scanned".
        last = stdout.strip().splitlines()[-1]
        self.assertRegex(last, r"^stopped at \d+%% \(\d+ of %d bytes\): \d+ fragments written to "
                         % (64 * 1024 ** 3))
        self.assertRegex(stdout, r"扫描已停止于第 \d+ 字节（共 %d 字节，\d+%%）" % (64 * 1024 ** 3))
        self.assertNotIn("其余数据均已扫描", stdout)
        with open(out, "rb") as f:
            _, length, fragments = read_fragment_file(f.read())
        self.assertEqual(length, 64 * 1024 ** 3)
        every_page = 256 * 1024 ** 2 // len(database) * (len(database) // 4096)
        self.assertLess(len(fragments), every_page)  # stopped, not run to the end
        os.remove(image)


def attach_loop_device(image):
    """Attaches image as a loop device and returns its node, or None where that cannot be done."""
    if os.geteuid() != 0 or not shutil.which("losetup"):
        return None
    result = subprocess.run(["losetup", "--find", "--show", image], capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else None


class RealDevice(unittest.TestCase):
    """A loop device standing in for a disk with one unmounted ext2 volume, on which the
    database lies in free space: scanned through its drive letter and its drive number."""

    def test_volume_and_drive_of_a_loop_device(self):
        if not shutil.which("mkfs.ext2"):
            self.skipTest("no mkfs.ext2")
        os.makedirs(ARGS.work, exist_ok=True)
        image = os.path.join(ARGS.work, "loop-disk.img")
        label = "QE2E%d" % (os.getpid() % 100000)
        with open(image, "wb") as f:
            f.truncate(8 * 1024 * 1024)
        subprocess.run(["mkfs.ext2", "-q", "-F", "-L", label, image], check=True)
        with open(os.path.join(ARGS.samples, "sample-jet4-small.mdb"), "rb") as f:
            database = f.read()
        with open(image, "r+b") as f:
            f.seek(4 * 1024 * 1024 + 512)  # free space of the file system, off a page boundary
            f.write(database)
        node = attach_loop_device(image)
        if node is None:
            self.skipTest("no loop device can be attached here (needs root)")
        try:
            listing = run("sources", "--json")
            self.assertEqual(listing.returncode, 0, listing.stderr)
            volumes = [e for e in json.loads(listing.stdout) if e.get("label") == label]
            self.assertEqual(len(volumes), 1, listing.stdout)
            letter, disk = volumes[0]["source"], volumes[0]["disk_number"]
            with open(image, "rb") as f:
                expected = expected_fragments(f.read())
            self.assertEqual(len(expected), 71)
            for source, path in ((letter, "\\\\.\\" + letter),
                                 ("physicaldrive%d" % disk, "\\\\.\\physicaldrive%d" % disk)):
                out = os.path.join(ARGS.work, "loop-%s.frag" % source.strip(":"))
                if os.path.exists(out):
                    os.remove(out)
                result = run("scan", "--quiet", source, out)
                self.assertEqual(result.returncode, 0, result.stderr)
                with open(out, "rb") as f:
                    header_path, length, fragments = read_fragment_file(f.read())
                self.assertEqual(header_path, path)
                self.assertEqual(length, 8 * 1024 * 1024)
                self.assertEqual(fragments, [page for _, page in expected])
        finally:
            subprocess.run(["losetup", "-d", node], check=False)
            os.remove(image)


def main():
    global ARGS
    ARGS, argv = parse_arguments(("--make-image", {"required": True}))
    run_tests(argv)


if __name__ == "__main__":
    main()
