#!/usr/bin/env python3
"""End to end: the workbook recover writes beside the SQLite file, read back with openpyxl
and compared value by value with mdb-export, on the sample databases and the Access-written
fixtures (each recovered from the file itself, which lies whole).

Per table: its sheet is listed on the first sheet under the table's full name, its first row
holds the column names, and its rows hold mdbtools' rows (compared as multisets, each value
in the kind its column asks for: dates as date cells, yes/no as TRUE/FALSE, numbers as
numbers, text as text so that ID numbers and leading zeros stay). No cell of any sheet is a
formula, and the tables with deleted rows have a sheet of them. Skipped (exit code 77) where
openpyxl or mdbtools is missing.
"""

import argparse
import datetime
import decimal
import glob
import json
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import unittest

from quillon_test_support import SKIP_RETURN_CODE, run_tests

try:
    import openpyxl
except ImportError:
    openpyxl = None

import test_recover

ARGS = None
SHEET_ROWS = 1048576


def text_kind(kind):
    return kind.startswith(("Text", "Memo"))


def unescaped(text):
    """A string cell's text as a spreadsheet shows it: "_xHHHH_" is the character HHHH (the
    form control characters such as CR are stored in)."""
    return re.sub(r"_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), text)


def cell_text(kind, value):
    """A cell's value as mdb-export writes the same value, checking that its type is the one
    the column's kind asks for; AssertionError names what is wrong."""
    if value is None:
        return ""
    if isinstance(value, str):
        value = unescaped(value)
    if kind.startswith("Boolean"):
        assert isinstance(value, bool), "yes/no not TRUE/FALSE: %r" % (value,)
        return "1" if value else "0"
    if kind.startswith("DateTime"):
        if isinstance(value, datetime.datetime):
            return value.strftime("%Y-%m-%d %H:%M:%S")
        assert isinstance(value, str) and value[:4] < "1900", "date not a date: %r" % (value,)
        return value
    if text_kind(kind) or kind.startswith(("OLE", "Binary", "Replication")):
        assert isinstance(value, str), "text not text: %r" % (value,)
        return test_recover.normalise(kind, value)
    if kind.startswith(("Currency", "Numeric")):
        if isinstance(value, str):  # more digits than a number keeps: exact text
            return value
        return str(decimal.Decimal(repr(value)))
    assert isinstance(value, (int, float)) and not isinstance(value, bool), \
        "number not a number: %r" % (value,)
    if isinstance(value, float) and value.is_integer() and abs(value) < 2 ** 53:
        return str(int(value))
    return repr(value)


def canonical(kind, text):
    """Text of one value in a form both sides agree on exactly."""
    if text == "":
        return ""
    try:
        if kind.startswith(("Currency", "Numeric")):
            return str(decimal.Decimal(text).normalize())
        if kind.startswith(("Single", "Double")):
            return float(text)
        if kind.startswith(("Long", "Integer", "Byte", "Boolean")):
            return str(int(float(text)))
    except (ValueError, decimal.InvalidOperation):
        return text
    return test_recover.normalise(kind, text)


def row_key(row):
    """Rows sorted by their exact values first, floating-point ones (read back within their
    precision) last."""
    return (tuple(v for v in row if not isinstance(v, float)),
            tuple(v for v in row if isinstance(v, float)))


def same_value(kind, ours, theirs):
    if isinstance(ours, float) and isinstance(theirs, float):
        return test_recover.same(kind, repr(ours), repr(theirs))
    return ours == theirs


def sheet_rows(book, sheets, columns):
    """The data rows of the sheets (a table continues on further ones), their first rows
    checked to be the column names."""
    rows = []
    for name in sheets:
        sheet = book[name]
        values = list(sheet.iter_rows(values_only=True))
        assert len(values) <= SHEET_ROWS, "%s: more rows than a sheet holds" % name
        header = list(values[0]) if values else []
        assert header[:len(columns)] == columns, "%s: header %r" % (name, header)
        rows.extend(values[1:])
    return rows


class WorkbookTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if openpyxl is None:
            raise unittest.SkipTest("python3-openpyxl is not installed")
        if shutil.which("mdb-export") is None or shutil.which("mdb-schema") is None:
            raise unittest.SkipTest("mdbtools (mdb-export, mdb-schema) is not installed")
        cls.databases = sorted(glob.glob(os.path.join(ARGS.samples, "*.mdb")))
        real = os.path.join(ARGS.fixtures, "real")
        cls.databases += sorted(glob.glob(os.path.join(real, "*.mdb")) +
                                glob.glob(os.path.join(real, "*.accdb")))
        os.makedirs(ARGS.work, exist_ok=True)

    def recover(self, database):
        outdir = os.path.join(ARGS.work, os.path.basename(database))
        shutil.rmtree(outdir, ignore_errors=True)
        run = subprocess.run([ARGS.cli, "recover", "--json", database, outdir],
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        [recovered] = [d for d in json.loads(run.stdout)["recovery"]["databases"]
                       if d["name"] == "database-1"]
        return outdir, recovered

    def test_every_value_against_mdbtools(self):
        for database in self.databases:
            with self.subTest(database=os.path.basename(database)):
                self.check_database(database)

    def check_database(self, database):
        outdir, recovered = self.recover(database)
        path = os.path.join(outdir, "database-1.xlsx")
        self.assertEqual(recovered["xlsx"], path)
        with open(os.path.join(outdir, "quillon-recover.manifest"), encoding="utf-8") as f:
            self.assertIn("database-1.xlsx", f.read().splitlines())
        with open(os.path.join(outdir, "report.html"), encoding="utf-8") as f:
            self.assertIn('href="database-1.xlsx"', f.read())
        book = openpyxl.load_workbook(path)
        index = book.worksheets[0]
        listed = {}  # table's full name -> its sheets, in order
        for sheet, table in list(index.iter_rows(min_row=2, values_only=True)):
            self.assertLessEqual(len(sheet), 31)
            self.assertFalse(set(sheet) & set("[]:*?/\\"), sheet)
            self.assertIn(sheet, book.sheetnames)
            listed.setdefault(table, []).append(sheet)
        for sheet in book.worksheets:
            for row in sheet.iter_rows():
                for cell in row:
                    self.assertNotEqual(cell.data_type, "f", "%s!%s" % (sheet.title,
                                                                       cell.coordinate))
        for table in recovered["tables"]:
            if table.get("deleted_rows", 0) > 0:
                self.assertIn(table["name"] + " (deleted)", listed, table["name"])
        expected = test_recover.oracle(database)
        for table, (columns, kinds, rows, _) in expected.items():
            self.assertIn(table, listed, "%s: no sheet" % table)
            ours = sheet_rows(book, listed[table], columns)
            column_kinds = [kinds.get(c, "") for c in columns]
            mine = sorted((tuple(canonical(k, cell_text(k, v)) for k, v in zip(column_kinds, row))
                           for row in ours), key=row_key)
            theirs = sorted((tuple(canonical(k, v) for k, v in zip(column_kinds, row))
                             for row in rows), key=row_key)
            self.assertEqual(len(mine), len(theirs), table)
            for a, b in zip(mine, theirs):
                self.assertTrue(all(same_value(k, x, y) for k, x, y in zip(column_kinds, a, b)),
                                "%s: %r != %r" % (table, a, b))

    def test_untyped_table_has_its_sheet_as_sqlite_has_it(self):
        """A table whose definition is lost comes out in rows' columns: its sheet holds the
        SQLite table's rows, each text as text."""
        sample = os.path.join(ARGS.samples, "sample-jet4.mdb")
        outdir, recovered = self.recover(sample)
        page = {t["name"]: t["definition_page"] for t in recovered["tables"]}["Articles"]
        with open(sample, "rb") as f:
            db = bytearray(f.read())
        db[page * 4096:(page + 1) * 4096] = bytes(4096)
        os.makedirs(os.path.join(ARGS.work, "images"), exist_ok=True)
        lost = os.path.join(ARGS.work, "images", "lost-definition.mdb")
        with open(lost, "wb") as f:
            f.write(db)
        outdir, recovered = self.recover(lost)
        typed = {t["name"]: t["typed"] for t in recovered["tables"]}
        self.assertFalse(typed["Articles"])
        with sqlite3.connect(os.path.join(outdir, "database-1.sqlite")) as connection:
            cursor = connection.execute('SELECT * FROM "Articles"')
            columns = [d[0] for d in cursor.description]
            expected = sorted(tuple("" if v is None else v for v in row) for row in cursor)
        book = openpyxl.load_workbook(os.path.join(outdir, "database-1.xlsx"))
        rows = sheet_rows(book, ["Articles"], columns)
        for row in rows:
            for value in row:
                self.assertTrue(value is None or isinstance(value, str), value)
        self.assertGreater(len(expected), 0)
        self.assertEqual(sorted(tuple("" if v is None else unescaped(v) for v in row)
                                for row in rows), expected)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True, help="quillon-cli")
    parser.add_argument("--samples", required=True, help="the library-written databases")
    parser.add_argument("--fixtures", required=True, help="the folder holding real/")
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    run_tests([sys.argv[0], *rest])


if __name__ == "__main__":
    main()
