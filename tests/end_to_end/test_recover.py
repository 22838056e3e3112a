#!/usr/bin/env python3
"""End to end: recovered tables against mdbtools, an independent Access reader.

Every fixture database (the library-written ones in the samples folder, the Access-written
ones in the real fixtures folder when it is there) is put into eight kinds of disk image:
whole at a 4 KiB and at a 512-byte offset, across 256 KiB chunk edges, cut at the tail,
its first 16 KiB overwritten, and cut in pieces of 16, 32 and 64 KiB that are shuffled (a
file system cuts a file wherever its clusters run out, so no piece size may be assumed).
Further shuffles of the smaller databases, one per seed, are held to no wrong value and to
EXTRA_AIMS.
Each image is recovered and every table, column name and value of the SQLite output (read
with Python's sqlite3) is compared with mdb-export. Printed per database and kind: tables
named, definitions tied, values recovered, values wrong.

Fails on any wrong value, whatever the piece size; on a table or column name missing or live
row counts that differ from mdbtools' on a contiguous image, on a contiguous image below
100% of the values, on the image cut at the tail below CUT_AIM, and on shuffled pieces below
their SHUFFLED_AIMS.
"""

import argparse
import csv
import decimal
import glob
import io
import json
import math
import os
import random
import re
import shutil
import sqlite3
import subprocess
import sys
import unittest

from quillon_test_support import run_tests, skip_part

PAGE = 4096
CHUNK = 262144
CUT_AIM = 0.99
# Piece size → the share of values that must come back when pieces of that size are shuffled
# (64 KiB: 100% on all but northwind-jet4.mdb, 99.98%). Smaller pieces leave more pages
# without a certain number, whose values come back NULL, never wrong: at 32 KiB 87% to 100%,
# at 16 KiB none to 100% (a piece of 4 pages rarely holds a page whose number is certain).
SHUFFLED_AIMS = {65536: 0.9995, 32768: 0.85, 16384: 0.0}
# Further shuffles of the databases up to EXTRA_MAX_BYTES, one per seed and piece size, held
# to no wrong value and to the share EXTRA_AIMS gives. They caught orders where most table
# pages still lay at their places: a piece of LVAL pages moved in behind them (seed 27, 64
# KiB: 4 wrong memos), pieces exchanged or moved ahead of page 0 (seeds 9 and 27: live rows
# called stale or dropped).
EXTRA_SEEDS = range(20, 28)
EXTRA_AIMS = {65536: 0.995, 32768: 0.85}
EXTRA_MAX_BYTES = 2 * 1024 * 1024
ARGS = None


def recover(image_path, outdir):
    """The one place the recovery program is run: quillon-cli recover SOURCE OUTDIR, which
    reads the image through the scan's loop into a fragment file and a page map and decodes
    from them; the summary on stdout."""
    return subprocess.run([ARGS.cli, "recover", image_path, outdir], capture_output=True,
                          text=True)


def oracle(database):
    """{table: (columns, kinds, rows)} as mdbtools reads them; kinds from mdb-schema."""
    schema = subprocess.run(["mdb-schema", database], capture_output=True, text=True,
                            check=True).stdout
    tables = {}
    for table, body in re.findall(r"CREATE TABLE \[([^\]]+)\]\s*\((.*?)\n\);", schema, re.S):
        kinds = {}
        for column, kind in re.findall(r"\[([^\]]+)\]\s+([^,\n]+)", body):
            kinds[column] = kind.strip()
        exported = subprocess.run(
            ["mdb-export", "-D", "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S", "-b", "hex",
             database, table], capture_output=True, check=True).stdout.decode("utf-8")
        reader = csv.reader(io.StringIO(exported, newline=""))
        columns = next(reader)
        tables[table] = (columns, kinds, [row for row in reader])
    return tables


def normalise(kind, value):
    """A value as comparable text: numbers by value, blobs as lowercase hex, None as ''."""
    if value is None:
        return ""
    if isinstance(value, bytes):
        return value.hex()
    text = str(value)
    if kind.startswith(("OLE", "Binary")):
        return text.lower()
    if kind.startswith("Replication"):
        return text.upper()
    return text


def same(kind, ours, theirs):
    if ours == theirs:
        return True
    if ours == "" or theirs == "":
        return False
    try:
        if kind.startswith(("Currency", "Numeric")):
            return decimal.Decimal(ours) == decimal.Decimal(theirs)
        if kind.startswith(("Single", "Double", "Long", "Integer", "Byte", "Boolean")):
            tolerance = 1e-6 if kind.startswith("Single") else 1e-9
            return math.isclose(float(ours), float(theirs), rel_tol=tolerance, abs_tol=1e-12)
    except (ValueError, decimal.InvalidOperation):
        return False
    return False


def random_bytes(rng, n):
    return rng.randbytes(n)


def build_images(db, seed):
    """(kind, image bytes, contiguous?) for the kinds of image; for shuffled pieces, the piece
    size in place of contiguous?. The cut image is neither: what its lost last page held
    cannot come back, so it is held to CUT_AIM."""
    rng = random.Random(seed)
    images = [
        ("whole-4k", random_bytes(rng, 2 * PAGE) + db + random_bytes(rng, PAGE), True),
        ("whole-512", random_bytes(rng, 3 * 512) + db + random_bytes(rng, 512), True),
        # Pages straddle every 256 KiB chunk edge.
        ("chunk-edges", random_bytes(rng, CHUNK - 2048) + db, True),
        # The source ends half way through the database's last page.
        ("cut-tail", random_bytes(rng, PAGE) + db[:len(db) - PAGE // 2], None),
        ("head-overwritten", random_bytes(rng, 16384) + db[16384:], True),
    ]
    for size in SHUFFLED_AIMS:
        pieces = [db[at:at + size] for at in range(0, len(db), size)]
        rng.shuffle(pieces)
        images.append((f"shuffled-{size // 1024}k", random_bytes(rng, PAGE) + b"".join(pieces),
                       size))
    return images


def shuffled_image(db, size, seed):
    """The database cut in pieces of `size` bytes, shuffled, after a page of random bytes."""
    rng = random.Random(seed)
    pieces = [db[at:at + size] for at in range(0, len(db), size)]
    rng.shuffle(pieces)
    return rng.randbytes(PAGE) + b"".join(pieces)


def compare(expected, sqlite_path):
    """Counts for one image: tables named, definitions tied, values recovered, wrong, and
    the problems found (missing names, row counts that differ)."""
    result = {"tables": 0, "named": 0, "tied": 0, "values": 0, "recovered": 0, "wrong": 0,
              "problems": []}
    db = sqlite3.connect(sqlite_path) if os.path.exists(sqlite_path) else None
    have = set()
    if db is not None:
        have = {name for (name,) in db.execute("SELECT name FROM sqlite_master WHERE type='table'")}
    for table, (columns, kinds, rows) in expected.items():
        result["tables"] += 1
        result["values"] += len(rows) * len(columns)
        if table not in have:
            result["problems"].append(f"table {table} missing")
            continue
        result["named"] += 1
        cursor = db.execute(f'SELECT * FROM "{table}"')
        names = [d[0] for d in cursor.description]
        if names != columns:
            result["problems"].append(f"{table}: columns {names} instead of {columns}")
            continue
        result["tied"] += 1
        ours = [[normalise(kinds.get(c, ""), v) for c, v in zip(columns, row)] for row in cursor]
        theirs = [[normalise(kinds.get(c, ""), v) for c, v in zip(columns, row)] for row in rows]
        if len(ours) != len(theirs):
            result["problems"].append(f"{table}: {len(ours)} rows instead of {len(theirs)}")
        # Rows equal as a whole pair first; the rest pair up in order.
        pool = {}
        for row in theirs:
            pool.setdefault(tuple(row), []).append(row)
        leftover_ours, matched = [], 0
        for row in ours:
            if pool.get(tuple(row)):
                pool[tuple(row)].pop()
                matched += 1
            else:
                leftover_ours.append(row)
        result["recovered"] += matched * len(columns)
        leftover_theirs = [row for rows_ in pool.values() for row in rows_]
        # A row found only in part pairs with a real row of the same first value (the key or
        # its first column in every fixture), so that a row not found does not shift the
        # pairing of the rest.
        by_key = {}
        for row in leftover_theirs:
            by_key.setdefault(row[0], []).append(row)
        pairs, unkeyed = [], []
        for row in leftover_ours:
            candidates = by_key.get(row[0]) if row[0] != "" else None
            if candidates:
                # Among real rows sharing it, the one that agrees on the most columns.
                best = max(range(len(candidates)),
                           key=lambda i: sum(a == b for a, b in zip(row, candidates[i])))
                pairs.append((row, candidates.pop(best)))
            else:
                unkeyed.append(row)
        rest = sorted((row for rows_ in by_key.values() for row in rows_), key=lambda r: r[0])
        pairs += zip(sorted(unkeyed, key=lambda r: r[0]), rest)
        leftover_ours = unkeyed
        leftover_theirs = rest
        for mine, real in pairs:
            for column, a, b in zip(columns, mine, real):
                if same(kinds.get(column, ""), a, b):
                    result["recovered"] += 1
                elif a != "":
                    result["wrong"] += 1
                    if result["wrong"] <= 5:
                        result["problems"].append(f"{table}.{column}: {a[:60]!r} not {b[:60]!r}")
        for mine in leftover_ours[len(leftover_theirs):]:
            result["wrong"] += sum(1 for a in mine if a != "")
    return result


class RecoverAgainstMdbtools(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if shutil.which("mdb-export") is None or shutil.which("mdb-schema") is None:
            raise unittest.SkipTest("mdbtools (mdb-export, mdb-schema) is not installed")
        os.makedirs(ARGS.work, exist_ok=True)

    def databases(self):
        found = sorted(glob.glob(os.path.join(ARGS.samples, "*.mdb")))
        real = os.path.join(ARGS.fixtures, "real")
        if os.path.isdir(real):
            found += sorted(glob.glob(os.path.join(real, "*.mdb")) +
                            glob.glob(os.path.join(real, "*.accdb")))
        else:
            skip_part(f"{real} is not there: the Access-written databases were not recovered")
        return found

    def recover_and_compare(self, expected, name, kind, image):
        """(counts, None) for one image recovered, or (None, why) when recover failed."""
        image_path = os.path.join(ARGS.work, f"{name}.{kind}.img")
        outdir = os.path.join(ARGS.work, f"{name}.{kind}")
        shutil.rmtree(outdir, ignore_errors=True)
        with open(image_path, "wb") as f:
            f.write(image)
        run = recover(image_path, outdir)
        os.remove(image_path)
        if run.returncode != 0:
            return None, f"{name} {kind}: exit {run.returncode}: {run.stderr}"
        return compare(expected, os.path.join(outdir, "database-1.sqlite")), None

    def test_every_value_against_mdb_export(self):
        failures = []
        print(f"\n{'database':26} {'kind':17} {'tables':>7} {'tied':>5} {'values':>15} "
              f"{'share':>8} {'wrong':>6}")
        for seed, database in enumerate(self.databases()):
            expected = oracle(database)
            with open(database, "rb") as f:
                db = f.read()
            name = os.path.basename(database)
            for kind, image, contiguous in build_images(db, seed):
                r, failed = self.recover_and_compare(expected, name, kind, image)
                if failed:
                    failures.append(failed)
                    continue
                share = r["recovered"] / r["values"] if r["values"] else 1.0
                print(f"{name:26} {kind:17} {r['named']:>3}/{r['tables']:<3} {r['tied']:>5} "
                      f"{r['recovered']:>7}/{r['values']:<7} {100 * share:7.2f}% {r['wrong']:>6}")
                label = f"{name} {kind}"
                if r["wrong"]:
                    failures.append(f"{label}: {r['wrong']} wrong values: {r['problems'][:5]}")
                if contiguous is True and (share < 1.0 or r["problems"]):
                    failures.append(f"{label}: {100 * share:.2f}%: {r['problems'][:5]}")
                if contiguous is None and share < CUT_AIM:
                    failures.append(f"{label}: {100 * share:.2f}% below {100 * CUT_AIM}%")
                aim = None if isinstance(contiguous, bool) else SHUFFLED_AIMS.get(contiguous)
                if aim is not None and share < aim:
                    failures.append(f"{label}: {100 * share:.2f}% below {100 * aim}%")
            if len(db) > EXTRA_MAX_BYTES:
                continue
            for size, aim in EXTRA_AIMS.items():
                kind = f"shuffled-{size // 1024}k x{len(EXTRA_SEEDS)}"
                shares, wrong = [], 0
                for extra in EXTRA_SEEDS:
                    r, failed = self.recover_and_compare(
                        expected, name, f"seed{extra}-{size // 1024}k",
                        shuffled_image(db, size, extra))
                    shutil.rmtree(os.path.join(ARGS.work, f"{name}.seed{extra}-{size // 1024}k"),
                                  ignore_errors=True)
                    if failed:
                        failures.append(failed)
                        continue
                    shares.append(r["recovered"] / r["values"] if r["values"] else 1.0)
                    wrong += r["wrong"]
                    if shares[-1] < aim:
                        failures.append(f"{name} shuffled-{size // 1024}k seed {extra}: "
                                        f"{100 * shares[-1]:.2f}% below {100 * aim}%")
                    if r["wrong"]:
                        failures.append(f"{name} shuffled-{size // 1024}k seed {extra}: "
                                        f"{r['wrong']} wrong values: {r['problems'][:5]}")
                if shares:
                    print(f"{name:26} {kind:17} {'':>7} {'':>5} {'min/mean':>15} "
                          f"{100 * min(shares):7.2f}%/{100 * sum(shares) / len(shares):.2f}% "
                          f"{wrong:>6}")
        self.assertEqual(failures, [], "\n".join(failures))


def texts_of(columns, kinds, rows):
    """Every non-empty Text and Memo value mdbtools reads, as a multiset."""
    found = {}
    for row in rows:
        for column, value in zip(columns, row):
            if value and kinds.get(column, "").startswith(("Text", "Memo")):
                found[value] = found.get(value, 0) + 1
    return found


class UntypedTables(unittest.TestCase):
    """Pages no database can be placed for, and a table whose definition is lost, still
    come out: untyped, in the columns and the CSV lines that quillon-cli rows gives, named
    from the catalog, with mdbtools' live rows and every text value."""

    @classmethod
    def setUpClass(cls):
        if shutil.which("mdb-export") is None or shutil.which("mdb-schema") is None:
            raise unittest.SkipTest("mdbtools (mdb-export, mdb-schema) is not installed")
        if not ARGS.make_image:
            raise unittest.SkipTest("no quillon-make-image given")
        cls.database = os.path.join(ARGS.samples, "sample-jet4.mdb")
        cls.expected = oracle(cls.database)
        cls.work = os.path.join(ARGS.work, "untyped")
        shutil.rmtree(cls.work, ignore_errors=True)
        os.makedirs(cls.work)

    def check_untyped_table(self, sqlite_path, table, where):
        columns, kinds, rows = self.expected[table]
        db = sqlite3.connect(sqlite_path)
        header = [r[1] for r in db.execute(f'PRAGMA table_info("{table}")')]
        self.assertEqual(header[:3], ["row", "state", "fixed"], where)
        self.assertEqual(header[-1], "notes", where)
        self.assertTrue(all(h == f"var{k + 1}" for k, h in enumerate(header[3:-1])), header)
        lines = db.execute(f'SELECT * FROM "{table}"').fetchall()
        self.assertEqual(len(lines), len(rows), f"{where}: live rows of {table}")
        self.assertTrue(all(line[1] == "live" for line in lines), where)
        ours = {}
        for line in lines:
            for field in line[3:-1]:
                if field:
                    ours[field] = ours.get(field, 0) + 1
        missing = {v: n for v, n in texts_of(columns, kinds, rows).items() if ours.get(v, 0) < n}
        self.assertEqual(list(missing)[:5], [], f"{where}: {len(missing)} texts of {table} missing")
        db.close()

    def test_pages_of_no_placed_database_come_out_as_rows_reads_them(self):
        image = os.path.join(self.work, "sample-disk.img")
        subprocess.run([ARGS.make_image, image, image + ".layout.json", self.database],
                       check=True, capture_output=True)
        outdir = os.path.join(self.work, "from-image")
        run = subprocess.run([ARGS.cli, "recover", image, outdir], capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("untyped: no database header or table definitions could be placed",
                      run.stdout)
        # The fragment file alone, without its page map: the same tables, said the same way.
        alone = os.path.join(self.work, "alone")
        os.makedirs(alone)
        shutil.copy(os.path.join(outdir, "fragments.frag"), alone)
        run = subprocess.run([ARGS.cli, "recover", "--json",
                              os.path.join(alone, "fragments.frag"),
                              os.path.join(self.work, "from-fragments")],
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        recovery = json.loads(run.stdout)["recovery"]
        for folder, databases in ((outdir, None), (os.path.join(self.work, "from-fragments"),
                                                   recovery["databases"])):
            if databases is not None:
                unplaced = [d for d in databases if d["unplaced"]]
                self.assertEqual(len(unplaced), 1, databases)
                self.assertTrue(unplaced[0]["untyped_reason"])
                self.assertEqual({t["name"]: (t["rows"], t["typed"]) for t in unplaced[0]["tables"]},
                                 {name: (len(rows), False)
                                  for name, (_, _, rows) in self.expected.items()})
            sqlite_path = os.path.join(folder, "unplaced.sqlite")
            db = sqlite3.connect(sqlite_path)
            names = {n for (n,) in db.execute("SELECT name FROM sqlite_master WHERE type='table'")
                     if not n.endswith(" (deleted)")}
            db.close()
            self.assertEqual(names, set(self.expected), folder)
            for table in self.expected:
                self.check_untyped_table(sqlite_path, table, folder)
        # The CSV lines are those of quillon-cli rows, live ones apart from deleted ones.
        rows_csv = os.path.join(self.work, "rows-csv")
        subprocess.run([ARGS.cli, "rows", "--csv", rows_csv, os.path.join(outdir, "fragments.frag")],
                       check=True, capture_output=True)
        for table in self.expected:
            [theirs] = glob.glob(os.path.join(rows_csv, f"table-*-{table}.csv"))
            with open(theirs, encoding="utf-8", newline="") as f:
                their_lines = f.read().split("\r\n")
            with open(os.path.join(outdir, "unplaced", f"{table}.csv"), encoding="utf-8",
                      newline="") as f:
                our_lines = f.read().split("\r\n")
            self.assertEqual(our_lines[0], their_lines[0])
            self.assertEqual(our_lines[1:], [l for l in their_lines[1:] if ",live," in l or not l])

    def test_table_whose_definition_is_lost_comes_out_in_rows_columns(self):
        with open(self.database, "rb") as f:
            db = bytearray(f.read())
        whole = os.path.join(self.work, "whole.img")
        with open(whole, "wb") as f:
            f.write(bytes(2 * PAGE) + db)
        outdir = os.path.join(self.work, "whole")
        run = subprocess.run([ARGS.cli, "recover", "--json", whole, outdir], capture_output=True,
                             text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        [database] = json.loads(run.stdout)["recovery"]["databases"]
        page = {t["name"]: t["definition_page"] for t in database["tables"]}["Articles"]
        db[page * PAGE:(page + 1) * PAGE] = bytes(PAGE)
        lost = os.path.join(self.work, "lost.img")
        with open(lost, "wb") as f:
            f.write(bytes(2 * PAGE) + db)
        outdir = os.path.join(self.work, "lost")
        run = subprocess.run([ARGS.cli, "recover", "--json", lost, outdir], capture_output=True,
                             text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        [database] = json.loads(run.stdout)["recovery"]["databases"]
        typed = {t["name"]: t["typed"] for t in database["tables"]}
        self.assertEqual(typed, {"Authors": True, "Articles": False})
        sqlite_path = os.path.join(outdir, "database-1.sqlite")
        self.check_untyped_table(sqlite_path, "Articles", "definition lost")
        with open(os.path.join(outdir, "database-1", "Articles.csv"), encoding="utf-8-sig",
                  newline="") as f:
            header = next(csv.reader(f))
        self.assertEqual(header, ["row", "state", "fixed", "var1", "var2", "notes"])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True, help="quillon-cli")
    parser.add_argument("--samples", required=True, help="the library-written databases")
    parser.add_argument("--fixtures", required=True, help="the folder holding real/")
    parser.add_argument("--work", required=True)
    parser.add_argument("--make-image", help="quillon-make-image, for the sample disk image")
    ARGS, rest = parser.parse_known_args()
    run_tests([sys.argv[0], *rest])


if __name__ == "__main__":
    main()
