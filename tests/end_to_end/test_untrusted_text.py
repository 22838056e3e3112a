#!/usr/bin/env python3
"""End to end: text from a disk never acts as code, and paths that are not UTF-8 never cost
an output.

A copy of sample-jet4-small.mdb is patched so that text and memo values begin the way
spreadsheet formulas do (=, -, @); mdb-export reads the patched copy back as the independent
witness of those values. recover's CSV files must begin each such value with an apostrophe
and leave every other field alone, while its SQLite file keeps the exact value; the CSV files
of rows must do the same. recover --json into a folder whose name is GBK, not UTF-8, must
write every file and print one line of valid JSON.
"""

import csv
import glob
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import unittest

from quillon_test_support import FORMULA_STARTS, formula_defused, parse_arguments, run_tests

ARGS = None
# Same-length replacements of compressed Jet text (0xFF 0xFE, then one byte a character).
PATCHES = [(b"\xff\xfeIvan", b"\xff\xfe=1+1"),
           (b"\xff\xfeSmith", b"\xff\xfe-2+3x"),
           (b"\xff\xfeGreen", b"\xff\xfe@SUM("),
           (b"\xff\xfelabore laboris", b"\xff\xfe=cmd|' /C calc")]
TEXT_COLUMNS = {"Contacts": ["First", "Last", "Town"], "Memos": ["Text"]}


def run(*args):
    return subprocess.run([ARGS.cli, *args], capture_output=True)


def csv_rows(path):
    with open(path, encoding="utf-8-sig", newline="") as f:
        return list(csv.DictReader(f))


class UntrustedText(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(ARGS.work, ignore_errors=True)
        os.makedirs(ARGS.work)
        with open(os.path.join(ARGS.samples, "sample-jet4-small.mdb"), "rb") as f:
            data = f.read()
        for old, new in PATCHES:
            assert len(old) == len(new) and old in data, old
            data = data.replace(old, new, 1)
        cls.database = os.path.join(ARGS.work, "formulas.mdb")
        with open(cls.database, "wb") as f:
            f.write(data)

    def formula_values(self):
        """{table: set of text values beginning like a formula}, by mdb-export."""
        if shutil.which("mdb-export") is None:
            self.skipTest("mdbtools (mdb-export) is not installed: no independent values")
        found = {}
        for table, columns in TEXT_COLUMNS.items():
            exported = subprocess.run(["mdb-export", self.database, table], check=True,
                                      capture_output=True, text=True).stdout
            found[table] = {row[c] for row in csv.DictReader(exported.splitlines(True))
                            for c in columns if row[c].startswith(FORMULA_STARTS)}
        self.assertIn("=1+1", found["Contacts"])
        self.assertTrue(any(v.startswith("=cmd|' /C calc") for v in found["Memos"]))
        return found

    def test_recover_defuses_formulas_in_csv_and_keeps_them_exact_in_sqlite(self):
        expected = self.formula_values()
        out = os.path.join(ARGS.work, "recovered")
        result = run("recover", "-q", self.database, out)
        self.assertEqual(result.returncode, 0, result.stderr)
        connection = sqlite3.connect(os.path.join(out, "database-1.sqlite"))
        self.addCleanup(connection.close)
        for table, columns in TEXT_COLUMNS.items():
            rows = csv_rows(os.path.join(out, "database-1", table + ".csv"))
            names = [d[0] for d in connection.execute(
                "SELECT * FROM [%s] LIMIT 0" % table).description]
            stored = [dict(zip(names, r)) for r in connection.execute(
                "SELECT * FROM [%s] ORDER BY rowid" % table)]
            self.assertEqual(len(rows), len(stored), table)
            in_sqlite = set()
            for written, exact in zip(rows, stored):
                for name in names:
                    value = exact[name]
                    if name in columns and value is not None:
                        in_sqlite.add(value)
                        self.assertEqual(written[name], formula_defused(value), (table, name))
                    elif isinstance(value, str):
                        # Numbers written as text (currency) and every other column as is.
                        self.assertEqual(written[name], value, (table, name))
            self.assertTrue(expected[table] <= in_sqlite, table)
        # The report shows the values as the CSV files have them, and says why.
        with open(os.path.join(out, "report.html"), encoding="utf-8") as f:
            page = f.read()
        self.assertIn("'=1+1", page)
        self.assertIn("no spreadsheet runs it as a formula", page)

    def test_rows_defuses_formulas_in_its_csv_files(self):
        expected = self.formula_values()
        frag = os.path.join(ARGS.work, "formulas.frag")
        self.assertEqual(run("scan", "-q", self.database, frag).returncode, 0)
        folder = os.path.join(ARGS.work, "rows-csv")
        result = run("rows", "--csv", folder, frag)
        self.assertEqual(result.returncode, 0, result.stderr)
        fields = set()
        for path in glob.glob(os.path.join(folder, "*.csv")):
            for row in csv_rows(path):
                for key, value in row.items():
                    if key.startswith("var"):
                        self.assertFalse(value.startswith(FORMULA_STARTS), (path, value))
                        fields.add(value)
        for values in expected.values():
            for value in values:
                if len(value) < 200:  # a long memo may lie in its pages, not in the row
                    self.assertIn("'" + value, fields)

    def test_json_with_an_output_folder_named_in_gbk(self):
        # 数据 in GBK: no valid UTF-8 sequence in it.
        out = os.path.join(os.fsencode(ARGS.work), b"\xca\xfd\xbe\xdd")
        result = run("recover", "--json", os.fsencode(self.database), out)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.decode("utf-8").splitlines()
        self.assertEqual(len(lines), 1, result.stdout)
        document = json.loads(lines[0])
        self.assertTrue(document["output_folder"].endswith("\ufffd" * 4),
                        document["output_folder"])
        database = document["recovery"]["databases"][0]
        self.assertIn("\ufffd" * 4, database["sqlite"])
        self.assertEqual(sorted(t["name"] for t in database["tables"]), ["Contacts", "Memos"])
        for name in (b"database-1.sqlite", b"report.html", b"database-1/Contacts.csv"):
            self.assertTrue(os.path.isfile(os.path.join(out, name)), name)


def main():
    global ARGS
    ARGS, argv = parse_arguments()
    run_tests(argv)


if __name__ == "__main__":
    main()
