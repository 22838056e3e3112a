#!/usr/bin/env python3
"""End to end: scan --resume. Scans of a dense image are stopped at random moments (SIGINT,
SIGTERM, or SIGKILL, which leaves no chance to finish anything) several times in a row, each
stop resumed, and the last resume left to reach the end: the fragment file must inflate
(Python's zlib) to exactly the fragments of an uninterrupted scan, in the same order, with
nothing left beside it. A source that is not the one scanned, a damaged state file and a
fresh scan over an interrupted one are refused with a message naming the file. On a failing
disk (FUSE), the unreadable ranges found before a stop are still reported after the resume.

The random moments come from a seed printed with each case (--seed repeats a run).
"""

import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import time
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from quillon_test_support import (  # noqa: E402
    RETRY, RETRY_SOONER, assert_refused_as_in_use, parse_arguments, read_fragment_file,
    run_tests, start_and_hold, stop_at_random, wait_until_started)
import test_failing_disk  # noqa: E402
from test_failing_disk import FaultyMount  # noqa: E402

ARGS = None
STATE = ".resume"
LOCK = ".lock"


def inflated_body(path):
    """The fragment file's body inflated by Python's zlib, checking that the one stream ends
    properly (its Adler-32 included) and that the trailer follows it."""
    with open(path, "rb") as f:
        data = f.read()
    inflater = zlib.decompressobj()
    body = inflater.decompress(data[512:])
    assert inflater.eof, "%s: the zlib stream does not end" % path
    tail = inflater.unused_data
    assert tail[:4] == b"\0\0\0\0" and tail.endswith(b"TEMP") and len(tail) <= 11, tail
    return data[:512], body


class Resume(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(ARGS.work, exist_ok=True)
        with open(os.path.join(ARGS.samples, "sample-jet4.mdb"), "rb") as f:
            database = f.read()
        # 64 MiB of database pages: about a second's scan, long enough to be stopped anywhere.
        cls.image = os.path.join(ARGS.work, "dense.img")
        with open(cls.image, "wb") as f:
            f.write(database * (64 * 1024 ** 2 // len(database)))
        cls.reference = cls.work_path("reference.frag")
        started = time.monotonic()
        result = subprocess.run([ARGS.cli, "scan", "-q", cls.image, cls.reference],
                                capture_output=True, text=True, timeout=300)
        # The stops are timed as shares of this: a fixed delay outlasts the whole scan on a
        # fast machine and comes too early to matter on a slow one.
        cls.seconds = time.monotonic() - started
        assert result.returncode == 0, result.stderr
        cls.header, cls.body = inflated_body(cls.reference)
        assert not os.path.exists(cls.reference + STATE), "a complete scan keeps no state"

    @staticmethod
    def work_path(name):
        path = os.path.join(ARGS.work, name)
        for leftover in (path, path + ".partial", path + ".interrupted", path + STATE,
                         path + STATE + ".new", path + LOCK):
            if os.path.lexists(leftover):
                os.remove(leftover)
        return path

    def stop_at_random(self, rng, out, resume, what, how=None):
        """Starts a scan into out and stops it after a random moment with the signal given or
        a random one. Returns the signal, or None when the scan had ended first."""
        how = how or rng.choice([signal.SIGINT, signal.SIGTERM, signal.SIGKILL])
        command = [ARGS.cli, "scan", "-q", "--restart-interval", "0.05", self.image, out]
        if resume:
            command.insert(2, "--resume")

        def judge(returncode, stderr, note, scale):
            if returncode == 0:
                if resume or scale < 0.2:
                    return None  # it reached the end before the signal
                # A first run is what every round needs stopped: tried again, stopped sooner.
                os.remove(out)
                return RETRY_SOONER
            if returncode == -how:
                # Killed by it: SIGKILL, or a signal that came before the program could take it.
                if not os.path.exists(out + STATE):
                    # Killed before its first restart point: there is nothing to resume. The
                    # scan is started over, which its unfinished file, left as it is, would
                    # refuse (a kill that came before the scan made that file, while it took
                    # its lock, leaves none).
                    print("%s: killed before its first restart point" % what, file=sys.stderr)
                    if os.path.exists(out + ".partial"):
                        os.remove(out + ".partial")
                    return RETRY
                return how
            self.assertEqual(returncode, 130, note)
            self.assertTrue(os.path.exists(out + STATE), note)
            # A stop finishes the file: it is complete, a prefix of the full scan's fragments.
            header, body = inflated_body(out)
            self.assertEqual(header, self.header)
            self.assertTrue(body == self.body[:len(body)], note)
            return how

        # A resumed run has less left to scan: it is stopped sooner. A first run is under way
        # once its unfinished file is there (made after its handlers are in place); a
        # resume's may be the killed run's.
        return stop_at_random(rng, command, self.seconds, 0.35 if resume else 0.7, how, what,
                              judge, started=None if resume else out + ".partial")

    def test_scans_stopped_at_random_resume_to_the_uninterrupted_runs_fragments(self):
        resumed = 0
        for round_number in range(ARGS.rounds):
            seed = ARGS.seed + round_number
            rng = random.Random(seed)
            with self.subTest(seed=seed):
                out = self.work_path("resumed-%d.frag" % round_number)
                # Each kind of stop ends a first run in turn.
                kinds = [signal.SIGINT, signal.SIGTERM, signal.SIGKILL]
                stops = [self.stop_at_random(rng, out, False, "seed %d, first run" % seed,
                                             kinds[round_number % 3])]
                for k in range(rng.randint(1, 3)):
                    if stops[-1] is None:
                        break
                    stops.append(self.stop_at_random(rng, out, True,
                                                     "seed %d, resume %d" % (seed, k + 1)))
                print("seed %d: stops %s" % (seed, [s.name if s else "none" for s in stops]),
                      file=sys.stderr)
                resumed += sum(1 for stop in stops if stop is not None)
                if stops[-1] is not None:
                    final = subprocess.run([ARGS.cli, "scan", "--resume", self.image, out],
                                           capture_output=True, text=True, timeout=300)
                    self.assertEqual(final.returncode, 0, final.stdout + final.stderr)
                    self.assertIn("Resuming the scan at byte", final.stdout)
                header, body = inflated_body(out)
                self.assertEqual(header, self.header)
                self.assertEqual(len(body), len(self.body))
                self.assertTrue(body == self.body, "seed %d: the fragments differ" % seed)
                with open(out, "rb") as f:
                    read_fragment_file(f.read())  # the project's own reader of the layout
                for leftover in (".partial", ".interrupted", STATE, STATE + ".new"):
                    self.assertFalse(os.path.exists(out + leftover), out + leftover)
        self.assertGreaterEqual(resumed, ARGS.rounds, "too few stops came before the end")

    def test_a_second_scan_onto_the_same_file_is_refused_while_the_first_runs(self):
        out = self.work_path("locked.frag")
        first = start_and_hold([ARGS.cli, "scan", "-q", "--restart-interval", "0.05",
                                self.image, out], lambda: os.path.exists(out + STATE))
        if first is None:
            self.skipTest("the scan ended before its first restart point")
        try:
            files = {}
            for path in (out + ".partial", out + STATE):
                with open(path, "rb") as f:
                    files[path] = f.read()
            assert_refused_as_in_use(
                self, lambda options: subprocess.run(
                    [ARGS.cli, "scan", *options, self.image, out], capture_output=True,
                    text=True, timeout=60),
                out, out + LOCK, lambda: self.assert_unchanged(files))
        finally:
            first.kill()  # SIGKILL: it lets go of nothing itself
            first.wait()
        # The lock file stays where the kill left it, and holds nobody back.
        self.assertTrue(os.path.exists(out + LOCK))
        resumed = subprocess.run([ARGS.cli, "scan", "--resume", self.image, out],
                                 capture_output=True, text=True, timeout=300)
        self.assertEqual(resumed.returncode, 0, resumed.stdout + resumed.stderr)
        self.assertIn("Resuming the scan at byte", resumed.stdout)
        self.assertTrue(inflated_body(out)[1] == self.body)
        for leftover in (".partial", ".interrupted", STATE, LOCK):
            self.assertFalse(os.path.exists(out + leftover), out + leftover)

    def test_the_leftovers_of_a_resume_that_was_cut_off_are_handled(self):
        # A scan killed, then a resume killed while it copied the earlier file: the earlier
        # file set aside whole, a new partial file that holds only its first bytes.
        out = self.work_path("cut-copy.frag")
        scan = subprocess.Popen([ARGS.cli, "scan", "-q", "--restart-interval", "0.05",
                                 self.image, out], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        # Killed past its first restart point, which a slow start could outlast: with no state
        # written there would be nothing to resume.
        if wait_until_started(scan, out + STATE):
            time.sleep(self.seconds * 0.2)
        scan.kill()
        scan.wait(timeout=300)
        if scan.returncode == 0:
            self.skipTest("the scan ended before it was killed: nothing was cut off")
        self.assertTrue(os.path.exists(out + STATE), "killed before its first restart point")
        os.rename(out + ".partial", out + ".interrupted")
        with open(out + ".interrupted", "rb") as f:
            head = f.read(1000)
        with open(out + ".partial", "wb") as f:
            f.write(head)
        result = subprocess.run([ARGS.cli, "scan", "-q", "--resume", self.image, out],
                                capture_output=True, text=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(inflated_body(out)[1] == self.body)
        for leftover in (".partial", ".interrupted", STATE):
            self.assertFalse(os.path.exists(out + leftover), out + leftover)

    def test_a_partial_file_that_is_not_the_scans_is_left_alone(self):
        # Longer than the restart point (a scan running now, perhaps) and shorter (where a
        # copy that stopped short would be): neither agrees with the earlier body.
        for repeats in (100000, 3):
            with self.subTest(repeats=repeats):
                out, files = self.stopped_scan("foreign-partial-%d.frag" % repeats)
                foreign = b"another scan's file, not this one's\n" * repeats
                with open(out + ".partial", "wb") as f:
                    f.write(foreign)
                files[out + ".partial"] = foreign
                result = subprocess.run([ARGS.cli, "scan", "--resume", self.image, out],
                                        capture_output=True, text=True, timeout=300)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertIn("another scan may be writing it", result.stderr)
                self.assertIn(out + ".partial", result.stderr)
                self.assert_unchanged(files)

    def stopped_scan(self, name):
        """A scan into name stopped with SIGINT partway, and the bytes of its files."""
        share = 0.2
        while True:
            out = self.work_path(name)
            scan = subprocess.Popen([ARGS.cli, "scan", "-q", self.image, out],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            # The stop must find the scan under way: its unfinished file is made after its
            # handlers are in place.
            started = wait_until_started(scan, out + ".partial")
            if started:
                time.sleep(self.seconds * share)
                scan.send_signal(signal.SIGINT)
            stderr = scan.communicate(timeout=300)[1].decode(errors="replace")
            if scan.returncode == 0 and share > 0.01:
                share /= 2  # it reached the end first: stopped sooner
                continue
            self.assertTrue(started, stderr)
            self.assertEqual(scan.returncode, 130, stderr)
            break
        files = {}
        for path in (out, out + STATE):
            with open(path, "rb") as f:
                files[path] = f.read()
        return out, files

    def assert_unchanged(self, files):
        for path, data in files.items():
            with open(path, "rb") as f:
                self.assertEqual(f.read(), data, path + " was changed")

    def test_another_source_is_refused(self):
        out, files = self.stopped_scan("other-source.frag")
        with open(self.image, "rb") as f:
            data = bytearray(f.read())
        shorter = os.path.join(ARGS.work, "shorter.img")
        with open(shorter, "wb") as f:
            f.write(data[:-4096])
        data[-1] ^= 1  # same size, other last bytes
        changed = os.path.join(ARGS.work, "changed.img")
        with open(changed, "wb") as f:
            f.write(data)
        for source, cause in ((shorter, "bytes long"), (changed, "first or last 64 KiB differ")):
            result = subprocess.run([ARGS.cli, "scan", "--resume", source, out],
                                    capture_output=True, text=True, timeout=300)
            self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
            self.assertIn("is not the source of the interrupted scan", result.stderr)
            self.assertIn(out + STATE, result.stderr)
            self.assertIn(cause, result.stderr)
            self.assertFalse(os.path.exists(out + ".partial"))
            self.assert_unchanged(files)

    def test_a_damaged_state_and_a_fresh_scan_over_an_interrupted_one_are_refused(self):
        out, files = self.stopped_scan("damaged-state.frag")
        # Without --resume the interrupted scan is not started over unasked.
        fresh = subprocess.run([ARGS.cli, "scan", self.image, out], capture_output=True,
                               text=True, timeout=300)
        self.assertEqual(fresh.returncode, 1)
        self.assert_unchanged(files)

        with open(out + STATE, "r+b") as f:
            text = f.read()
            f.seek(0)
            f.write(text.replace(b"\nfragments ", b"\nfragments 1"))
        result = subprocess.run([ARGS.cli, "scan", "--resume", self.image, out],
                                capture_output=True, text=True, timeout=300)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn(out + STATE, result.stderr)
        self.assertIn("checksum", result.stderr)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), files[out])

        # With --force it starts over: the state goes, the file is replaced when complete.
        again = subprocess.run([ARGS.cli, "scan", "--force", "-q", self.image, out],
                               capture_output=True, text=True, timeout=300)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(inflated_body(out)[1], self.body)
        self.assertFalse(os.path.exists(out + STATE))

    def test_nothing_to_resume_is_said_plainly(self):
        out = self.work_path("never-run.frag")
        result = subprocess.run([ARGS.cli, "scan", "--resume", self.image, out],
                                capture_output=True, text=True, timeout=300)
        self.assertEqual(result.returncode, 1)
        self.assertIn("there is no scan state \"%s\"" % (out + STATE), result.stderr)
        self.assertFalse(os.path.exists(out) or os.path.exists(out + ".partial"))

    def test_unreadable_ranges_found_before_a_stop_are_kept(self):
        if not ARGS.faulty_file:
            self.skipTest("quillon-faulty-file was not built (no libfuse3)")
        test_failing_disk.ARGS = argparse.Namespace(work=ARGS.work, faulty_file=ARGS.faulty_file)
        mib = 1024 ** 2
        bad = ["--bad=%d:512" % (3 * mib + 1024), "--bad=%d:%d" % (20 * mib, 262144),
               "--bad=%d:4096" % (60 * mib + 8192)]
        with FaultyMount(self.image, "--rate=40", *bad) as disk:
            whole = self.work_path("faulty-whole.frag")
            reference = subprocess.run([ARGS.cli, "scan", "-v", disk.path, whole],
                                       capture_output=True, text=True, timeout=300)
            self.assertEqual(reference.returncode, 3, reference.stderr)
            listed = [line for line in reference.stdout.splitlines()
                      if line.startswith("unreadable\t")]
            self.assertEqual(len(listed), 3, reference.stdout)

            out = self.work_path("faulty-resumed.frag")
            scan = subprocess.Popen([ARGS.cli, "scan", "-q", "--restart-interval", "0.1",
                                     disk.path, out],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            # Past the first bad sector, before the last: stopped as soon as a restart point
            # lists the first (at 40 MB/s the last lies more than a second further on). A
            # fixed wait could come before the first on a loaded machine.
            first = "unreadable %d 512\n" % (3 * mib + 1024)
            self.assertTrue(wait_until_started(scan, out + STATE))
            deadline = time.monotonic() + 120
            while scan.poll() is None and time.monotonic() < deadline:
                try:
                    with open(out + STATE) as f:  # replaced whole, never written in place
                        if first in f.read():
                            break
                except FileNotFoundError:
                    break  # the scan ended and took its state with it: judged below
                time.sleep(0.005)
            scan.send_signal(signal.SIGTERM)
            stderr = scan.communicate(timeout=300)[1].decode(errors="replace")
            self.assertEqual(scan.returncode, 130, stderr)
            with open(out + STATE) as f:
                state = f.read()
            self.assertIn(first, state)
            resumed = subprocess.run([ARGS.cli, "scan", "-v", "--resume", disk.path, out],
                                     capture_output=True, text=True, timeout=300)
        self.assertEqual(resumed.returncode, 3, resumed.stdout + resumed.stderr)
        self.assertEqual([line for line in resumed.stdout.splitlines()
                          if line.startswith("unreadable\t")], listed)
        self.assertEqual(inflated_body(out), inflated_body(whole))


def main():
    global ARGS
    ARGS, argv = parse_arguments(("--faulty-file", {"default": ""}),
                                 ("--rounds", {"type": int, "default": 6}),
                                 ("--seed", {"type": int, "default": int(time.time()) % 100000}))
    print("seed %d, %d rounds" % (ARGS.seed, ARGS.rounds), file=sys.stderr)
    run_tests(argv)


if __name__ == "__main__":
    main()
