#!/usr/bin/env python3
"""End to end: Access databases whose tables had columns dropped or added after rows were
written, recovered from contiguous images and compared with mdb-export value by value.

Their rows keep the column counts and offset tables of the definitions they were written
under. Each database is recovered as the file itself and as the file with its first 16 KiB
zeroed (no header, no catalog definition); every table must come back typed, named, with
every value mdb-export gives and not one value that differs.

Exits 77 (skipped, with the reason) when the fixture folder or mdbtools is missing.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_recover  # noqa: E402  (the comparison with mdb-export lives there)

SKIPPED = 77
DATABASES = ["erp-cn.mdb", "news-art-cn.mdb", "printers-ru.accdb", "sales-cn.accdb"]
ZEROED = 16384
ARGS = None


def images(path):
    """(kind, image bytes) for one database: the file, and the file with its head zeroed."""
    with open(path, "rb") as f:
        data = f.read()
    return [("file", data), ("head-zeroed", bytes(ZEROED) + data[ZEROED:])]


class ChangedColumnsAgainstMdbtools(unittest.TestCase):
    def recover(self, name, kind, image):
        """(summary JSON, SQLite path) of quillon-cli recover --json on the image."""
        image_path = os.path.join(ARGS.work, f"{name}.{kind}.img")
        outdir = os.path.join(ARGS.work, f"{name}.{kind}")
        shutil.rmtree(outdir, ignore_errors=True)
        with open(image_path, "wb") as f:
            f.write(image)
        try:
            run = subprocess.run([ARGS.cli, "recover", "--json", "-q", image_path, outdir],
                                 capture_output=True, text=True)
        finally:
            os.remove(image_path)
        self.assertEqual(run.returncode, 0, f"{name} {kind}: {run.stderr}")
        return json.loads(run.stdout), os.path.join(outdir, "database-1.sqlite")

    def test_every_table_typed_and_every_value_right(self):
        failures = []
        print(f"\n{'database':20} {'kind':12} {'typed':>7} {'values':>13} {'wrong':>6}")
        for name in DATABASES:
            path = os.path.join(ARGS.real, name)
            expected = test_recover.oracle(path)
            for kind, image in images(path):
                summary, sqlite_path = self.recover(name, kind, image)
                databases = summary["recovery"]["databases"]
                tables = [t for d in databases for t in d["tables"]]
                untyped = [t["name"] for t in tables if not t["typed"]]
                r = test_recover.compare(expected, sqlite_path)
                print(f"{name:20} {kind:12} {len(tables) - len(untyped):>3}/{len(tables):<3} "
                      f"{r['recovered']:>6}/{r['values']:<6} {r['wrong']:>6}")
                label = f"{name} {kind}"
                if untyped:
                    failures.append(f"{label}: untyped tables {untyped}")
                if r["wrong"]:
                    failures.append(f"{label}: {r['wrong']} wrong values: {r['problems'][:5]}")
                if r["recovered"] != r["values"] or r["problems"]:
                    failures.append(f"{label}: {r['recovered']} of {r['values']} values: "
                                    f"{r['problems'][:5]}")
                shutil.rmtree(os.path.join(ARGS.work, f"{name}.{kind}"), ignore_errors=True)
        self.assertEqual(failures, [])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True, help="quillon-cli")
    parser.add_argument("--real", required=True, help="the Access-written fixture databases")
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    missing = [name for name in DATABASES if not os.path.isfile(os.path.join(ARGS.real, name))]
    if missing:
        print(f"skipped: {', '.join(missing)} not in {ARGS.real}", file=sys.stderr)
        sys.exit(SKIPPED)
    for tool in ("mdb-export", "mdb-schema"):
        if shutil.which(tool) is None:
            print(f"skipped: mdbtools ({tool}) is not installed", file=sys.stderr)
            sys.exit(SKIPPED)
    os.makedirs(ARGS.work, exist_ok=True)
    test_recover.ARGS = ARGS
    result = unittest.main(argv=[sys.argv[0], *rest], verbosity=2, exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
