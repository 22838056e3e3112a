#!/usr/bin/env python3
"""End to end: OUTDIR/report.html of quillon-cli recover, in a real browser.

A library-written database and, where the folder is there, the Access-written one with
Chinese text are recovered; headless chromium loads each report from the file system (no
server, no network) and dumps the page after its script ran. Checked on that page: every
table mdbtools lists is there by name; each table's view holds as many rows as were
recovered; text values taken from mdb-export stand in their table's view exactly; and
opening report.html#search=VALUE leaves only rows that hold VALUE visible. Exits 77
(skipped) with a message where chromium or mdbtools is missing.
"""

import argparse
import csv
import html.parser
import io
import os
import re
import shutil
import subprocess
import sys
import urllib.parse

SKIP = 77


class TReportPage(html.parser.HTMLParser):
    """The row views of a dumped report: per view its table, part, count text and rows
    (hidden or not, cell texts without the row number)."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.views = []
        self.tables = []
        self._table = None
        self._heading = None
        self._part = None
        self._row = None
        self._cell = None
        self._count = None
        self._in_data = False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        classes = (attrs.get("class") or "").split()
        if tag == "section" and "table" in classes:
            self._table, self._part = None, None
        elif tag in ("h3", "h4"):
            self._heading = (tag, [])
        elif tag == "div" and "rows" in classes:
            self.views.append({"table": self._table, "part": self._part or self._table,
                               "rows": [], "count": ""})
        elif tag == "table" and "data" in classes:
            self._in_data = True
        elif tag == "span" and "count" in classes:
            self._count = []
        elif tag == "tr" and self._in_data:
            self._row = {"hidden": "hidden" in attrs, "cells": []}
        elif tag == "td" and self._row is not None:
            self._cell = []

    def handle_endtag(self, tag):
        if tag == "table":
            self._in_data = False
        if tag in ("h3", "h4") and self._heading is not None:
            text = "".join(self._heading[1])
            if tag == "h3" and text.startswith("表 Table "):
                self._table = text[len("表 Table "):]
                self.tables.append(self._table)
            elif tag == "h4":
                self._part = re.sub(r" (已删除的行 deleted rows|过期的行 stale rows)$", "", text)
            self._heading = None
        elif tag == "span" and self._count is not None:
            self.views[-1]["count"] = "".join(self._count)
            self._count = None
        elif tag == "td" and self._cell is not None:
            self._row["cells"].append("".join(self._cell))
            self._cell = None
        elif tag == "tr" and self._row is not None:
            if self._row["cells"]:
                self.views[-1]["rows"].append({"hidden": self._row["hidden"],
                                               "cells": self._row["cells"][1:]})
            self._row = None

    def handle_data(self, data):
        for part in (self._cell, self._count, self._heading and self._heading[1]):
            if part is not None:
                part.append(data)


def dump(browser, work, page_url):
    """The page as the browser holds it once its script ran."""
    result = subprocess.run(
        [browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--user-data-dir=" + os.path.join(work, "profile"), "--dump-dom", page_url],
        capture_output=True, timeout=180)
    if result.returncode != 0:
        raise AssertionError("chromium failed on %s: %s" % (page_url, result.stderr[-2000:]))
    page = TReportPage()
    page.feed(result.stdout.decode("utf-8"))
    return page


def text_values(database):
    """{table: (row count, [(column index, value)])}: short one-line text values of the first
    rows, by mdb-export, from the columns mdb-schema calls Text or Memo."""
    schema = subprocess.run(["mdb-schema", database], capture_output=True, text=True,
                            check=True).stdout
    tables = {}
    for table, body in re.findall(r"CREATE TABLE \[([^\]]+)\]\s*\((.*?)\n\);", schema, re.S):
        kinds = [kind for _, kind in re.findall(r"\[([^\]]+)\]\s+([^,\n]+)", body)]
        exported = subprocess.run(["mdb-export", database, table], capture_output=True,
                                  check=True).stdout.decode("utf-8")
        rows = list(csv.reader(io.StringIO(exported, newline="")))[1:]
        values = []
        for row in rows[:50]:
            for i, value in enumerate(row):
                if (i < len(kinds) and kinds[i].startswith(("Text", "Memo")) and value and
                        "\n" not in value and "\r" not in value and len(value) < 200):
                    values.append((i, value))
        tables[table] = (len(rows), values)
    return tables


def check(cli, browser, database, work, want_non_ascii):
    name = os.path.basename(database)
    outdir = os.path.join(work, name + ".out")
    shutil.rmtree(outdir, ignore_errors=True)
    run = subprocess.run([cli, "recover", database, outdir], capture_output=True, text=True)
    if run.returncode != 0:
        raise AssertionError("recover %s exited %d: %s" % (name, run.returncode, run.stderr))
    report = os.path.join(outdir, "report.html")
    if not os.path.isfile(report) or os.path.exists(report + ".partial"):
        raise AssertionError("%s: no complete report.html in %s" % (name, outdir))
    if "Report: " + report not in run.stdout:
        raise AssertionError("%s: the summary does not name the report:\n%s" % (name, run.stdout))
    with open(os.path.join(outdir, "quillon-recover.manifest"), encoding="utf-8") as manifest:
        if "report.html" not in manifest.read().split("\n"):
            raise AssertionError("%s: report.html is not in the manifest" % name)

    url = "file://" + urllib.parse.quote(os.path.abspath(report))
    page = dump(browser, work, url)
    expected = text_values(database)
    live = {view["table"]: view for view in page.views if view["part"] == view["table"]}
    problems = []
    checked = 0
    non_ascii = None
    for table, (count, values) in expected.items():
        if table not in page.tables:
            problems.append("table %s is not on the page" % table)
            continue
        view = live.get(table)
        if view is None:
            problems.append("table %s has no row view" % table)
            continue
        if len(view["rows"]) != min(count, 5000):
            problems.append("table %s: %d rows in its view, mdb-export has %d" %
                            (table, len(view["rows"]), count))
        if any(row["hidden"] for row in view["rows"]):
            problems.append("table %s: rows hidden before any search" % table)
        cells = {(i, cell) for row in view["rows"] for i, cell in enumerate(row["cells"])}
        for column, value in values:
            checked += 1
            if (column, value) not in cells:
                problems.append("table %s: %r (column %d) is not in its view" %
                                (table, value, column))
            elif non_ascii is None and any(ord(c) > 127 for c in value) and count > 1:
                non_ascii = (table, value)
    if want_non_ascii and non_ascii is None:
        problems.append("no non-ASCII value to search for")
    print("%s: %d tables on the page, %d text values checked" % (name, len(page.tables), checked))

    # The search box: opened with #search=VALUE, only rows holding VALUE stay visible.
    table, value = non_ascii or next(
        ((t, v[0][1]) for t, (c, v) in expected.items() if v and c > 1), (None, None))
    if table is not None:
        searched = dump(browser, work, url + "#search=" + urllib.parse.quote(value))
        view = next(v for v in searched.views if v["table"] == table and v["part"] == table)
        shown = [row for row in view["rows"] if not row["hidden"]]
        if not shown or any(not any(value.lower() in cell.lower() for cell in row["cells"])
                            for row in shown):
            problems.append("search for %r in %s shows %d rows, not only those holding it" %
                            (value, table, len(shown)))
        if not view["count"].startswith("显示 %d / %d" % (len(shown), len(view["rows"]))):
            problems.append("search count reads %r" % view["count"])
        print("%s: search for %r in %s leaves %d of %d rows" %
              (name, value, table, len(shown), len(view["rows"])))
    if problems:
        raise AssertionError("%s:\n  %s" % (name, "\n  ".join(problems)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--real", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        print("SKIPPED: chromium is not installed (scripts/install-deps.sh installs it); "
              "report.html was not tested in a browser")
        return SKIP
    if shutil.which("mdb-export") is None:
        print("SKIPPED: mdbtools is not installed; no independent values to look for")
        return SKIP
    os.makedirs(args.work, exist_ok=True)
    check(args.cli, browser, os.path.join(args.samples, "sample-jet4.mdb"), args.work, False)
    chinese = os.path.join(args.real, "forum-cn.mdb")
    if os.path.isfile(chinese):
        check(args.cli, browser, chinese, args.work, True)
    else:
        print("SKIPPED: forum-cn.mdb not found in %s: the Chinese report was not tested; the "
              "rest passed" % args.real)
        return SKIP
    print("OK")
    return 0


if __name__ == "__main__":
    sys.exit(main())
