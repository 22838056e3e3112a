#!/usr/bin/env python3
"""End to end: quillon-cli rows against an independent Access reader.

For every Jet 4 database in the samples folder, mdbtools (mdb-schema, mdb-export) gives the
Text and Memo values of every table. Four disk images are built from the database: the
database whole; with its first 16 KiB overwritten by random bytes; cut in runs of pages and
shuffled between random data; and placed at a 512-byte offset that is not a 4096-byte one.
Each image is scanned with quillon-cli scan, and quillon-cli rows --csv must give at least
99% of the Text values and 90% of the Memo values as whole CSV fields. The shares are
printed per image.
"""

import csv
import glob
import io
import json
import os
import random
import re
import shutil
import subprocess
import sys
import unittest

from quillon_test_support import FragmentFile, formula_defused, parse_arguments, run_tests

PAGE = 4096
TEXT_AIM = 0.99
MEMO_AIM = 0.90

ARGS = None


def run(*args, **kwargs):
    return subprocess.run([ARGS.cli, *args], capture_output=True, text=True, **kwargs)


def oracle_values(database):
    """{"text": [...], "memo": [...], "rows": [rows per table], "tables": {name: rows},
    "all": {name: set of every non-empty value}}: the non-empty Text and Memo values
    mdbtools reads, and how many rows each table has (its CSV rows, not mdb-count's stored
    count, which can be stale)."""
    schema = subprocess.run(["mdb-schema", database], capture_output=True, text=True,
                            check=True).stdout
    values = {"text": [], "memo": [], "rows": [], "tables": {}, "all": {}}
    for table, body in re.findall(r"CREATE TABLE \[([^\]]+)\]\s*\((.*?)\);", schema, re.S):
        kinds = {}
        for column, kind in re.findall(r"\[([^\]]+)\]\s+([A-Za-z/]+)", body):
            if kind == "Text":
                kinds[column] = "text"
            elif kind.startswith("Memo"):
                kinds[column] = "memo"
        exported = subprocess.run(["mdb-export", "-b", "strip", database, table],
                                  capture_output=True,
                                  check=True).stdout.decode("utf-8")
        rows = list(csv.DictReader(io.StringIO(exported, newline="")))
        values["rows"].append(len(rows))
        values["tables"][table] = len(rows)
        # As rows writes them to its CSV files: text that reads as a formula defused.
        values["all"][table] = {formula_defused(v) for row in rows for v in row.values() if v}
        for row in rows:
            for column, kind in kinds.items():
                if row.get(column):
                    values[kind].append(formula_defused(row[column]))
    return values


def random_bytes(rng, n):
    return bytes(rng.getrandbits(8) for _ in range(n)) if n < 4096 else rng.randbytes(n)


def build_images(db, seed):
    """(name, image bytes) for the four kinds of image."""
    rng = random.Random(seed)
    pages = len(db) // PAGE
    images = [("whole", db)]
    images.append(("head-overwritten", random_bytes(rng, 16384) + db[16384:]))
    # Runs of 1 to 24 pages in random order, each after a gap of random bytes.
    runs, page = [], 0
    while page < pages:
        length = min(pages - page, rng.randint(1, 24))
        runs.append(db[page * PAGE:(page + length) * PAGE])
        page += length
    rng.shuffle(runs)
    shuffled = bytearray()
    for run_bytes in runs:
        shuffled += random_bytes(rng, PAGE * rng.randint(0, 4))
        shuffled += run_bytes
    shuffled += random_bytes(rng, PAGE)
    images.append(("shuffled", bytes(shuffled)))
    offset = PAGE * rng.randint(1, 8) + 512 * rng.randint(1, 7)
    images.append(("offset-512", random_bytes(rng, offset) + db + random_bytes(rng, 3000)))
    return images


def csv_fields(directory):
    """Every field of every table-*.csv file, and the rows of each file by its owner page."""
    fields, rows = set(), {}
    for path in sorted(glob.glob(os.path.join(directory, "table-*.csv"))):
        with open(path, "rb") as f:
            raw = f.read()
        # A byte-order mark, so that spreadsheets read the file as UTF-8.
        assert raw.startswith(b"\xef\xbb\xbf"), path
        lines = list(csv.reader(io.StringIO(raw[3:].decode("utf-8"), newline="")))
        header, body = lines[0], lines[1:]
        assert header[:3] == ["row", "state", "fixed"] and header[-1] == "notes", header
        for line in body:
            assert len(line) == len(header), (path, line)
            assert line[1] in ("live", "deleted", "moved"), line
            # A reference that spreadsheets keep as text (not "4:0", a time of day).
            assert re.fullmatch(r"f\d+r\d+", line[0]), line
            fields.update(line)
        owner = int(re.match(r"table-(\d+)", os.path.basename(path)).group(1))
        rows[owner] = body
    return fields, rows


def in_fixed_part(value, fixed_parts):
    """Is a Text value among the fixed-length columns' bytes that `rows` shows as hex? A Text
    column can be fixed-length (Access stores its value there, as UTF-16LE padded with
    spaces: counters.lastip of news-art-cn.mdb). Without the definition nothing says where
    in the fixed part a column lies, nor that its bytes are text and not integers or dates,
    so `rows` cannot show it as a field of its own; its bytes must still be there."""
    encoded = value.encode("utf-16-le").hex()
    for part in fixed_parts:
        at = part.find(encoded)
        while at >= 0:
            if at % 2 == 0:  # on a byte's boundary, not half way through one
                return True
            at = part.find(encoded, at + 1)
    return False


class RowsAgainstMdbtools(unittest.TestCase):
    shares = []

    @classmethod
    def setUpClass(cls):
        if not (shutil.which("mdb-export") and shutil.which("mdb-schema")):
            raise unittest.SkipTest("mdbtools (mdb-export, mdb-schema) is not installed: "
                                    "apt-get install mdbtools")
        os.makedirs(ARGS.work, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        if cls.shares:
            print("\nShare of mdb-export's values found as whole CSV fields:", file=sys.stderr)
            print("%-26s %-17s %16s %16s" % ("database", "image", "Text", "Memo"), file=sys.stderr)
            for database, image, text, memo in cls.shares:
                print("%-26s %-17s %16s %16s" % (database, image, text, memo), file=sys.stderr)

    def rows_of_image(self, name, image):
        image_path = os.path.join(ARGS.work, name + ".img")
        frag = os.path.join(ARGS.work, name + ".frag")
        with open(image_path, "wb") as f:
            f.write(image)
        scan = run("scan", "--quiet", "--force", image_path, frag)
        self.assertEqual(scan.returncode, 0, scan.stderr)
        csv_dir = os.path.join(ARGS.work, name + "-csv")
        shutil.rmtree(csv_dir, ignore_errors=True)
        result = run("rows", frag, "--csv", csv_dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Total:", result.stdout)
        return frag, csv_dir

    def check_json_agrees(self, frag, rows, table_rows):
        """The JSON document says what the CSV files hold; given mdbtools' row counts, every
        table it reads has a table with as many live rows (deleted and moved rows told apart
        right)."""
        result = run("rows", "--json", frag)
        self.assertEqual(result.returncode, 0, result.stderr)
        document = json.loads(result.stdout)
        self.assertEqual(document["state"], "complete")
        live = deleted = 0
        for table in document["tables"]:
            name = table["owner"]
            listed = table["live_rows"] + table["deleted_rows"] + table["moved_rows_not_found"]
            self.assertEqual(len(table["rows"]), listed, name)
            if listed:
                self.assertEqual(len(rows[name]), listed, name)
                self.assertEqual([r["state"] for r in table["rows"]], [r[1] for r in rows[name]])
                self.assertEqual(["f%dr%d" % (r["fragment"], r["row"]) for r in table["rows"]],
                                 [r[0] for r in rows[name]])
            live += table["live_rows"]
            deleted += table["deleted_rows"]
        self.assertEqual(document["totals"]["live_rows"], live)
        self.assertEqual(document["totals"]["deleted_rows"], deleted)
        self.assertEqual(len(rows), sum(1 for t in document["tables"] if t["rows"]))
        live_counts = [t["live_rows"] for t in document["tables"]]
        for count in table_rows or []:
            self.assertIn(count, live_counts)

    def test_text_and_memo_values_come_back(self):
        databases = sorted(glob.glob(os.path.join(ARGS.samples, "*.mdb")))
        self.assertTrue(databases, "no databases in " + ARGS.samples)
        for index, database in enumerate(databases):
            name = os.path.basename(database)
            expected = oracle_values(database)
            self.assertTrue(expected["text"], name + ": mdb-export gave no Text values")
            with open(database, "rb") as f:
                db = f.read()
            for kind, image in build_images(db, 1000 + index):
                with self.subTest(database=name, image=kind):
                    frag, csv_dir = self.rows_of_image("%s-%s" % (name, kind), image)
                    fields, rows = csv_fields(csv_dir)
                    shares = {}
                    for what in ("text", "memo"):
                        values = expected[what]
                        found = sum(1 for v in values if v in fields)
                        shares[what] = (found / len(values) if values else 1.0, found, len(values))
                    self.shares.append((name, kind) + tuple(
                        "%5.1f%% %d/%d" % (100 * s[0], s[1], s[2]) for s in
                        (shares["text"], shares["memo"])))
                    self.assertGreaterEqual(shares["text"][0], TEXT_AIM, shares)
                    self.assertGreaterEqual(shares["memo"][0], MEMO_AIM, shares)
                    # Whole, every row of every table is there to be counted.
                    self.check_json_agrees(frag, rows,
                                           expected["rows"] if kind == "whole" else None)


class AccessWrittenDatabases(unittest.TestCase):
    """The databases Access itself wrote, in every kind of image: the share of Text and Memo
    values found, every table named, live rows per table against mdb-export's rows, and
    shown texts that mdb-export does not have (rows of stale pages, which rows cannot tell
    apart without the table definitions' usage maps)."""
    figures = []

    @classmethod
    def setUpClass(cls):
        if not (shutil.which("mdb-export") and shutil.which("mdb-schema")):
            raise unittest.SkipTest("mdbtools (mdb-export, mdb-schema) is not installed: "
                                    "apt-get install mdbtools")
        cls.databases = sorted(glob.glob(os.path.join(ARGS.real, "*.mdb")) +
                               glob.glob(os.path.join(ARGS.real, "*.accdb")))
        if not cls.databases:
            raise unittest.SkipTest("no Access-written databases in %s (the shared fixtures "
                                    "folder is absent)" % ARGS.real)
        os.makedirs(ARGS.work, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        if cls.figures:
            print("\nAccess-written databases (rows against mdb-export):", file=sys.stderr)
            print("%-20s %-17s %14s %12s %7s %13s %7s" % (
                "database", "image", "Text", "Memo", "named", "live rows", "foreign"),
                file=sys.stderr)
            for line in cls.figures:
                print("%-20s %-17s %14s %12s %7s %13s %7s" % line, file=sys.stderr)

    def test_every_table_named_and_counted(self):
        for index, database in enumerate(self.databases):
            name = os.path.basename(database)
            expected = oracle_values(database)
            with open(database, "rb") as f:
                db = f.read()
            for kind, image in build_images(db, 2000 + index):
                with self.subTest(database=name, image=kind):
                    frag, csv_dir = RowsAgainstMdbtools.rows_of_image(self, "real-%s-%s" % (
                        name, kind), image)
                    fields, rows = csv_fields(csv_dir)
                    result = run("rows", "--json", frag)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    document = json.loads(result.stdout)
                    live = {}
                    shown = {}
                    for table in document["tables"]:
                        if table["name"] is None:
                            continue
                        live[table["name"]] = live.get(table["name"], 0) + table["live_rows"]
                        texts = shown.setdefault(table["name"], set())
                        for row in table["rows"]:
                            if row["state"] != "live":
                                continue
                            for value in row.get("values", []):
                                if "text" in value and len(value["text"]) > 1:
                                    texts.add(value["text"])
                    fixed_parts = [line[2] for body in rows.values() for line in body]
                    shares = []
                    for what in ("text", "memo"):
                        values = expected[what]
                        found = sum(1 for v in values if v in fields or
                                    (what == "text" and in_fixed_part(v, fixed_parts)))
                        shares.append((found, len(values)))
                    # A table without rows may have no data page at all (newsfile and
                    # uploadpic of news-art-cn.mdb have none): `rows` shows the tables that
                    # data pages hold, so such a table has nothing to be named by.
                    named = sum(1 for t, n in expected["tables"].items() if t in live or n == 0)
                    equal = sum(1 for t, n in expected["tables"].items()
                                if live.get(t, 0) == n)
                    # Texts of a named table's live rows that mdb-export does not show in
                    # that table.
                    foreign = sum(len(texts - expected["all"].get(t, set()))
                                  for t, texts in shown.items() if t in expected["all"])
                    self.figures.append((name, kind) + tuple(
                        "%5.1f%% %d/%d" % (100 * f / n if n else 100, f, n) for f, n in shares) +
                        ("%d/%d" % (named, len(expected["tables"])),
                         "%d/%d equal" % (equal, len(expected["tables"])), str(foreign)))
                    self.assertEqual(shares[0][0], shares[0][1], "Text values missing")
                    self.assertGreaterEqual(shares[1][0], 0.99 * shares[1][1], "Memo values")
                    self.assertEqual(named, len(expected["tables"]), sorted(live))
                    # These files' stale pages hold no rows that a scan of the table would
                    # count; elsewhere they can add rows.
                    self.assertEqual(equal, len(expected["tables"]),
                                     (expected["tables"], live))


def directory_bytes(directory):
    contents = {}
    for name in os.listdir(directory):
        with open(os.path.join(directory, name), "rb") as f:
            contents[name] = f.read()
    return contents


class RowsCommand(unittest.TestCase):
    """Exit statuses, refusals and incomplete files."""

    @classmethod
    def setUpClass(cls):
        os.makedirs(ARGS.work, exist_ok=True)
        database = sorted(glob.glob(os.path.join(ARGS.samples, "*.mdb")))[0]
        cls.frag = os.path.join(ARGS.work, "command.frag")
        result = run("scan", "--quiet", "--force", database, cls.frag)
        assert result.returncode == 0, result.stderr
        with open(cls.frag, "rb") as f:
            cls.data = f.read()

    def test_csv_files_are_not_overwritten_unless_forced(self):
        csv_dir = os.path.join(ARGS.work, "command-csv")
        shutil.rmtree(csv_dir, ignore_errors=True)
        self.assertEqual(run("rows", self.frag, "--csv", csv_dir).returncode, 0)
        names = sorted(os.listdir(csv_dir))
        self.assertTrue(names)
        stale = os.path.join(csv_dir, "table-999999.csv")
        with open(stale, "w") as f:
            f.write("mine\n")
        before = directory_bytes(csv_dir)
        result = run("rows", self.frag, "--csv", csv_dir)
        self.assertEqual(result.returncode, 1)
        self.assertIn(csv_dir, result.stderr)
        self.assertIn("--force", result.stderr)
        self.assertEqual(directory_bytes(csv_dir), before)
        result = run("rows", self.frag, "--csv", csv_dir, "--force")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(csv_dir)), names)

    def test_failures(self):
        missing = os.path.join(ARGS.work, "missing.frag")
        result = run("rows", missing)
        self.assertEqual(result.returncode, 1)
        self.assertIn('Cannot open file "%s"' % missing, result.stderr)
        blocker = os.path.join(ARGS.work, "not-a-directory")
        with open(blocker, "w") as f:
            f.write("x")
        result = run("rows", self.frag, "--csv", os.path.join(blocker, "csv"))
        self.assertEqual(result.returncode, 1)
        self.assertIn(blocker, result.stderr)
        garbage = os.path.join(ARGS.work, "garbage.frag")
        with open(garbage, "wb") as f:
            f.write(os.urandom(5000))
        result = run("rows", garbage)
        self.assertEqual(result.returncode, 1)
        self.assertIn("not a fragment file", result.stderr)
        self.assertEqual(run("rows").returncode, 2)

    def test_incomplete_file_shows_what_inflates(self):
        inflated = FragmentFile(self.data).content
        cut = os.path.join(ARGS.work, "cut.frag")
        with open(cut, "wb") as f:
            f.write(self.data[:len(self.data) * 2 // 3])
        result = run("rows", "--json", cut)
        self.assertEqual(result.returncode, 1)
        self.assertIn("incomplete", result.stderr)
        document = json.loads(result.stdout)
        self.assertEqual(document["state"], "incomplete")
        self.assertGreater(document["fragments"], 0)
        self.assertLess(document["fragments"], len(inflated) // PAGE)
        self.assertGreater(document["totals"]["live_rows"], 0)


def main():
    global ARGS
    ARGS, argv = parse_arguments(("--real", {
        "default": os.path.join(os.path.dirname(__file__), "..", "..", "..", "shared", "fixtures",
                                "real"),
        "help": "databases that Access wrote (skipped where absent)"}))
    run_tests(argv)


if __name__ == "__main__":
    main()
