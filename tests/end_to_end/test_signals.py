#!/usr/bin/env python3
"""End to end: what happens around quillon-cli never costs the fragment file.

A reader of its output that goes away (| head), a terminal that closes under a running scan
(SIGHUP, in a session of its own as setsid makes it), standard streams that are closed when
it starts: each time the fragment file must be complete, checked with Python's zlib, and
hold what an independent candidate test finds; rows must still write every CSV file.
"""

import fcntl
import os
import re
import shutil
import subprocess
import sys
import termios
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from quillon_test_support import parse_arguments, read_fragment_file, run_tests  # noqa: E402
from test_scan import expected_fragments  # noqa: E402

ARGS = None


def closing(*streams):
    """For preexec_fn: the program starts with these standard streams closed."""
    def close():
        for stream in streams:
            os.close(stream)
    return close


class Signals(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(ARGS.work, exist_ok=True)
        with open(os.path.join(ARGS.samples, "sample-jet4.mdb"), "rb") as f:
            cls.database = f.read()
        # 64 MiB of database pages: a scan of half a second or so, long enough for a reader
        # to go away while it runs.
        cls.image = os.path.join(ARGS.work, "dense.img")
        cls.image_data = cls.database * (64 * 1024 ** 2 // len(cls.database))
        with open(cls.image, "wb") as f:
            f.write(cls.image_data)
        cls.expected = [page for _, page in expected_fragments(cls.image_data)]

    def work(self, name):
        path = os.path.join(ARGS.work, name)
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        elif os.path.lexists(path):
            os.remove(path)
        return path

    def assert_complete(self, out, expected):
        with open(out, "rb") as f:
            path, length, fragments = read_fragment_file(f.read())
        self.assertEqual(path, os.path.abspath(self.image))
        self.assertEqual(length, len(self.image_data))
        self.assertEqual(fragments, expected)

    def test_a_reader_that_goes_away_costs_nothing(self):
        out = self.work("piped.frag")
        scan = subprocess.Popen([ARGS.cli, "scan", self.image, out], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        head = subprocess.Popen(["head", "-4"], stdin=scan.stdout, stdout=subprocess.PIPE)
        scan.stdout.close()  # head is the only reader
        head.communicate(timeout=120)
        stderr = scan.communicate(timeout=120)[1]
        self.assertEqual(scan.returncode, 0, stderr)
        self.assert_complete(out, self.expected)

    def test_rows_writes_every_csv_file_whatever_happens_to_stdout(self):
        out = self.work("rows.frag")
        self.assertEqual(subprocess.run([ARGS.cli, "scan", "--quiet", self.image, out]).returncode,
                         0)
        reference = self.work("rows-csv-reference")
        subprocess.run([ARGS.cli, "rows", "--csv", reference, out], check=True,
                       stdout=subprocess.DEVNULL)
        piped = self.work("rows-csv-piped")
        # The JSON is tens of MB, far more than a pipe holds: rows is still writing it when
        # head has gone (the summary may fit the pipe whole and then go unnoticed).
        rows = subprocess.Popen([ARGS.cli, "rows", "--json", "--csv", piped, out],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        head = subprocess.Popen(["head", "-c", "100"], stdin=rows.stdout,
                                stdout=subprocess.DEVNULL)
        rows.stdout.close()
        head.wait(timeout=120)
        stderr = rows.communicate(timeout=300)[1]
        self.assertEqual(rows.returncode, 0, stderr)
        names = sorted(os.listdir(reference))
        self.assertGreater(len(names), 0)
        self.assertEqual(sorted(os.listdir(piped)), names)
        for name in names:
            with open(os.path.join(reference, name), "rb") as a, \
                    open(os.path.join(piped, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)

    def test_a_closed_terminal_stops_the_scan_and_finishes_the_file(self):
        # 128 MiB of database pages, then a hole up to 16 GiB: a few seconds of scanning.
        image = self.work("hangup.img")
        size = 16 * 1024 ** 3
        with open(image, "wb") as f:
            for _ in range(128 * 1024 ** 2 // len(self.database)):
                f.write(self.database)
            f.truncate(size)
        out = self.work("hangup.frag")
        master, slave = os.openpty()

        def own_terminal():  # a session of its own, with the pseudo-terminal as its terminal
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        scan = subprocess.Popen([ARGS.cli, "scan", image, out], stdin=slave, stdout=slave,
                                stderr=slave, start_new_session=True, preexec_fn=own_terminal)
        os.close(slave)
        seen = b""
        deadline = time.monotonic() + 60
        while str(size).encode() not in seen and time.monotonic() < deadline:
            seen += os.read(master, 4096)  # the size message comes right before the loop
        time.sleep(0.2)
        os.close(master)  # the terminal goes away: the kernel sends SIGHUP
        scan.wait(timeout=120)
        self.assertEqual(scan.returncode, 130, seen.decode(errors="replace"))
        with open(out, "rb") as f:
            _, length, fragments = read_fragment_file(f.read())
        self.assertEqual(length, size)
        every_page = 128 * 1024 ** 2 // len(self.database) * (len(self.database) // 4096)
        self.assertLess(len(fragments), every_page)  # stopped, not run to the end
        os.remove(image)

    def test_closed_standard_streams_never_receive_a_file(self):
        out = self.work("closed.frag")
        index = self.work("closed.index")
        # All three closed: the first file the scan opens would be descriptor 0, the fragment
        # file 1. Only stdout closed: the index would be 1.
        for arguments, closed in ((["scan", self.image, out], (0, 1, 2)),
                                  (["scan", "--index", index, self.image, out], (1,))):
            with self.subTest(arguments=arguments, closed=closed):
                self.work(out)
                result = subprocess.run([ARGS.cli, *arguments], preexec_fn=closing(*closed),
                                        stderr=subprocess.DEVNULL, timeout=120)
                self.assertEqual(result.returncode, 0)
                self.assert_complete(out, self.expected)
        # The index holds its own lines only, one per fragment.
        with open(index) as f:
            lines = f.read().splitlines()
        self.assertEqual(len(lines), len(self.expected))
        line = re.compile(r"^\d+\t\d+\t(data\t\d+|LVAL\t-)\t\d+$")
        self.assertEqual([text for text in lines if not line.match(text)], [])


def main():
    global ARGS
    ARGS, argv = parse_arguments()
    run_tests(argv)


if __name__ == "__main__":
    main()
