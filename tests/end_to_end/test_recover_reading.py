#!/usr/bin/env python3
"""End to end: what quillon-cli recover keeps while it reads a source.

Images are built from the fixture databases (the two written by a library, and the three
Access wrote, where their folder is present): each whole between random bytes, once
at a 4096-byte offset and once at a 512-byte offset that is not a 4096-byte one. recover must
write the fragment file byte for byte as scan writes it, and a page map that this test reads
with its own parser (Python's zlib for the checksums): the offset of every fragment, and
every table-definition, header and usage-map page of the database at its place on the
image, nothing from the random bytes. Then the OUTDIR rules, --force, a cut or damaged
page map and a fragment file without its page map.
"""

import glob
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import unittest
import zlib

from quillon_test_support import FragmentFile, parse_arguments, run_tests, skip_part, use_chinese_texts

use_chinese_texts()

PAGE = 4096
ARGS = None
DEFINITION, HEADER, USAGE_MAP, CONTINUATION = 2, 3, 4, 5


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def run(*args):
    return subprocess.run([ARGS.cli, *args], capture_output=True, text=True)


def read_page_map(path):
    """(fragment offsets, {(kind, offset)}, closing) from the page map's own layout; raises
    AssertionError where a checksum or a count does not match."""
    data = read(path)
    assert data[:8] == b"QPAGEMAP", "magic"
    assert struct.unpack_from("<I", data, 28)[0] == zlib.crc32(data[:28]), "header checksum"
    assert struct.unpack_from("<II", data, 8) == (1, PAGE), "version"
    at, offsets, pages, closing = 32, [], set(), None
    while at < len(data):
        kind_of_record, kind = data[at], data[at + 1]
        count = struct.unpack_from("<I", data, at + 4)[0]
        length = {1: 8 * count, 2: 8 + PAGE, 3: 32}[kind_of_record]
        body = data[at + 8:at + 8 + length]
        crc = struct.unpack_from("<I", data, at + 8 + length)[0]
        assert crc == zlib.crc32(data[at:at + 8 + length]), f"record checksum at {at}"
        if kind_of_record == 1:
            offsets += struct.unpack(f"<{count}q", body)
        elif kind_of_record == 2:
            pages.add((kind, struct.unpack_from("<q", body)[0]))
        else:
            closing = struct.unpack("<QQqII", body)
            assert at + 8 + length + 4 == len(data), "bytes after the closing record"
        at += 8 + length + 4
    assert closing is not None, "no closing record"
    assert closing[0] == len(offsets) and closing[1] == len(pages), "closing counts"
    return offsets, pages, closing


def databases():
    found = sorted(glob.glob(os.path.join(ARGS.samples, "*.mdb")))
    real = ARGS.real
    if os.path.isdir(real):
        found += sorted(glob.glob(os.path.join(real, "*.mdb")) +
                        glob.glob(os.path.join(real, "*.accdb")))
    else:
        skip_part(f"{real} is absent; the Access-written databases are not tested")
    return found


class RecoverReading(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(ARGS.work, ignore_errors=True)
        os.makedirs(ARGS.work)

    def work(self, *names):
        return os.path.join(ARGS.work, *names)

    def test_page_map_holds_every_fragment_and_kept_page_at_its_place(self):
        rng = random.Random(16)
        for database in databases():
            db = read(database)
            manifest = json.loads(read(database + ".manifest.json", "r"))
            for base in (8 * PAGE, 8 * PAGE + 512):
                name = f"{os.path.basename(database)}@{base}"
                with self.subTest(image=name):
                    image = self.work(name + ".img")
                    with open(image, "wb") as f:
                        f.write(rng.randbytes(base) + db + rng.randbytes(64 * PAGE))
                    out = self.work(name + ".out")
                    result = run("recover", "-q", image, out)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    scanned = self.work(name + ".frag")
                    self.assertEqual(run("scan", "-q", image, scanned).returncode, 0)
                    self.assertTrue(read(scanned) == read(os.path.join(out, "fragments.frag")),
                                    "fragments.frag differs from scan's")

                    offsets, pages, closing = read_page_map(os.path.join(out, "fragments.pagemap"))
                    self.assertEqual(offsets,
                                     [base + PAGE * p for p in manifest["candidate_pages"]])
                    fragments = FragmentFile(read(scanned)).content
                    self.assertEqual(closing[4], zlib.crc32(fragments[:len(offsets) * PAGE]))
                    self.assertEqual(closing[2], len(db) + base + 64 * PAGE)
                    # The database's own pages, found here by their first bytes alone.
                    expected = {(HEADER, base)}
                    for p in range(len(db) // PAGE):
                        head = db[p * PAGE:p * PAGE + 2]
                        if head == b"\x02\x01":
                            expected.add((DEFINITION, base + PAGE * p))
                        elif head == b"\x05\x01":
                            expected.add((USAGE_MAP, base + PAGE * p))
                    kept = {page for page in pages if page[0] != CONTINUATION}
                    self.assertEqual(kept, expected)
                    self.assertEqual(sum(1 for k, _ in expected if k == DEFINITION),
                                     int(manifest["page_types"]["0x02"]))

    def test_recover_does_not_ask_for_the_fragment_file_to_be_sent(self):
        # The scan's closing line says to send the fragment file for analysis; recover
        # decodes it itself, so only scan says so.
        database = databases()[0]
        image = self.work("closing.img")
        with open(image, "wb") as f:
            f.write(read(database))
        closing = "请联系软件客服"
        result = run("recover", image, self.work("closing.out"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn(closing, result.stdout)
        self.assertIn("开始扫描", result.stdout)
        scanned = run("scan", image, self.work("closing.frag"))
        self.assertEqual(scanned.returncode, 0, scanned.stderr)
        self.assertIn(closing, scanned.stdout)

    def test_random_bytes_give_no_kept_pages(self):
        image = self.work("random.img")
        with open(image, "wb") as f:
            f.write(random.Random(5).randbytes(32 << 20))
        result = run("recover", "-q", image, self.work("random.out"))
        self.assertEqual(result.returncode, 0, result.stderr)
        _, pages, _ = read_page_map(self.work("random.out", "fragments.pagemap"))
        self.assertEqual({page for page in pages if page[0] != CONTINUATION}, set())

    def test_output_folder_rules(self):
        image = self.work("rules.img")
        shutil.copy(os.path.join(ARGS.samples, "sample-jet4-small.mdb"), image)
        out = self.work("rules.out")
        self.assertEqual(run("recover", "-q", image, out).returncode, 0)
        listed = read(os.path.join(out, "quillon-recover.manifest"), "r").split("\n")
        # The fragment file is written aside and moved into place: both names are listed.
        self.assertEqual(listed[1:4], ["fragments.pagemap", "fragments.frag.partial",
                                       "fragments.frag"])
        # An earlier recovery is replaced only with --force, and only what it wrote.
        again = run("recover", "-q", image, out)
        self.assertEqual(again.returncode, 1)
        self.assertIn("holds an earlier recovery", again.stderr)
        self.assertIn(out, again.stderr)
        with open(os.path.join(out, "notes.txt"), "w") as f:
            f.write("mine")
        # A file that no recover wrote keeps the folder from being used, also with --force.
        before = os.stat(os.path.join(out, "fragments.frag"))
        forced = run("recover", "-q", "--force", image, out)
        self.assertEqual(forced.returncode, 1, forced.stderr)
        self.assertIn('"notes.txt", which no earlier recover wrote', forced.stderr)
        self.assertEqual(read(os.path.join(out, "notes.txt"), "r"), "mine")
        after = os.stat(os.path.join(out, "fragments.frag"))
        self.assertEqual((after.st_ino, after.st_mtime_ns), (before.st_ino, before.st_mtime_ns))
        os.remove(os.path.join(out, "notes.txt"))
        forced = run("recover", "-q", "--force", image, out)
        self.assertEqual(forced.returncode, 0, forced.stderr)
        # A folder that holds other things is never used, with --force neither.
        other = self.work("rules.other")
        os.makedirs(other)
        with open(os.path.join(other, "thesis.docx"), "w") as f:
            f.write("keep")
        for extra in ([], ["--force"]):
            refused = run("recover", "-q", *extra, image, other)
            self.assertEqual(refused.returncode, 1)
            self.assertIn("is not empty", refused.stderr)
        self.assertEqual(sorted(os.listdir(other)), ["thesis.docx"])
        # A source inside OUTDIR, a file as OUTDIR.
        inside = run("recover", "-q", "--force", os.path.join(out, "fragments.frag"), out)
        self.assertEqual(inside.returncode, 1)
        self.assertIn("lies inside the output folder", inside.stderr)
        self.assertTrue(os.path.exists(os.path.join(out, "fragments.frag")))
        not_folder = run("recover", "-q", image, os.path.join(other, "thesis.docx"))
        self.assertEqual(not_folder.returncode, 1)
        self.assertIn("is not a folder", not_folder.stderr)
        missing = run("recover", "-q", self.work("no-such.img"), self.work("never"))
        self.assertEqual(missing.returncode, 1)
        self.assertFalse(os.path.exists(self.work("never")))

    def test_fragment_file_as_source_with_a_whole_cut_or_missing_page_map(self):
        image = self.work("frag.img")
        shutil.copy(os.path.join(ARGS.samples, "sample-jet4.mdb"), image)
        out = self.work("frag.out")
        self.assertEqual(run("recover", "-q", image, out).returncode, 0)
        frag = os.path.join(out, "fragments.frag")
        whole = run("recover", "--json", frag, self.work("frag.whole"))
        self.assertEqual(whole.returncode, 0, whole.stderr)
        document = json.loads(whole.stdout)
        self.assertEqual(document["page_map"], {"found": True, "complete": True,
                                                "kept_pages": 10, "offsets_known": True})
        self.assertNotIn("reading", document)

        data = read(os.path.join(out, "fragments.pagemap"))
        for label, damaged, cause in (("cut", data[:len(data) // 2], "cut short"),
                                      ("damaged", data[:100] + bytes([data[100] ^ 1]) + data[101:],
                                       "checksum")):
            with self.subTest(label):
                folder = self.work("frag." + label)
                os.makedirs(folder)
                shutil.copy(frag, folder)
                with open(os.path.join(folder, "fragments.pagemap"), "wb") as f:
                    f.write(damaged)
                result = run("recover", "--json", os.path.join(folder, "fragments.frag"),
                             folder + ".out")
                self.assertEqual(result.returncode, 1)
                self.assertIn(os.path.join(folder, "fragments.pagemap"), result.stderr)
                self.assertIn(cause, result.stderr)
                document = json.loads(result.stdout)
                self.assertFalse(document["page_map"]["complete"])
                self.assertFalse(document["page_map"]["offsets_known"])

        alone = self.work("frag.alone")
        os.makedirs(alone)
        shutil.copy(frag, alone)
        result = run("recover", "--json", os.path.join(alone, "fragments.frag"), alone + ".out")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("No page map", result.stderr)
        self.assertFalse(json.loads(result.stdout)["page_map"]["found"])


def main():
    global ARGS
    ARGS, argv = parse_arguments(("--real", {"default": "",
                                             "help": "Access-written databases; skipped if absent"}))
    run_tests(argv)


if __name__ == "__main__":
    main()
