#!/usr/bin/env python3
"""End to end: recover --resume. A recover of an image that holds three databases among
filler is stopped while it reads (SIGINT, or SIGKILL, which leaves no chance to finish
anything) at random moments, each stop resumed, the last resume left to end: the result must
equal an uninterrupted run's (each database's SQLite .dump, every CSV, the manifest, the
fragments inflated), with nothing left beside it. A resume against another source, with a
damaged page map state or a file that is not the interrupted run's, is refused with a message
naming the file, and changes nothing; what a killed decoding wrote is removed and decoded
again; a resume with no interrupted run says so; a run without --resume still refuses an
interrupted one's folder.

The stops are timed as shares of a measured scan of the same image (the reading is the same
loop), never as fixed delays. The random moments come from a seed printed with each case
(--seed repeats a run).
"""

import os
import random
import shutil
import signal
import sqlite3
import subprocess
import sys
import time
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from quillon_test_support import (  # noqa: E402
    RETRY, RETRY_SOONER, assert_refused_as_in_use, parse_arguments, run_tests, start_and_hold,
    stop_at_random)

ARGS = None
STAGING = ".quillon-recover.partial"
LOCK = ".quillon-recover.lock"
MIB = 1024 ** 2


def inflated_fragments(path):
    with open(path, "rb") as f:
        data = f.read()
    inflater = zlib.decompressobj()
    body = inflater.decompress(data[512:])
    assert inflater.eof, "%s: the zlib stream does not end" % path
    return data[:512], body


def result_of(folder):
    """What a recovery wrote that does not depend on the time it ran: each database's
    SQLite dump, every CSV's bytes, the manifest and the fragments inflated."""
    result = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder)
            if name.endswith(".sqlite"):
                connection = sqlite3.connect(path)
                result[relative] = "\n".join(connection.iterdump())
                connection.close()
            elif name.endswith(".csv") or name == "quillon-recover.manifest":
                with open(path, "rb") as f:
                    result[relative] = f.read()
            elif name == "fragments.frag":
                result[relative] = inflated_fragments(path)
            else:
                result[relative] = None  # report.html and workbooks hold the time: only there
    return result


def described(folder):
    """Every file below folder with its size, and the manifests' lines: what a failure names,
    so that a run with a random seed can be understood from its output alone."""
    lines = []
    for root, _, names in sorted(os.walk(folder)):
        for name in sorted(names):
            path = os.path.join(root, name)
            lines.append("%s (%d bytes)" % (os.path.relpath(path, folder), os.path.getsize(path)))
            if name == "quillon-recover.manifest":
                with open(path, "rb") as f:
                    lines.append("  " + repr(f.read(2000)))
    return "\n".join(lines)


def snapshot(folder):
    """Every file below folder with its bytes."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                files[path] = f.read()
    return files


class RecoverResume(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(ARGS.work, exist_ok=True)
        cls.image = os.path.join(ARGS.work, "disk.img")
        # Filler that is read byte by byte (a sparse file would be skipped), with a database
        # near the start, one in the middle and one near the end.
        with open(cls.image, "wb") as f:
            filler = b"\x5a" * (8 * MIB)
            for _ in range(ARGS.image_mib // 8):
                f.write(filler)
            for offset, name in ((40, "sample-jet4.mdb"), (ARGS.image_mib // 2, "sample-jet4-small.mdb"),
                                 (ARGS.image_mib - 64, "sample-jet4.mdb")):
                with open(os.path.join(ARGS.samples, name), "rb") as db:
                    f.seek(offset * MIB)
                    f.write(db.read())
        # The reading is the scan's loop: its time is what the stops are shares of.
        frag = os.path.join(ARGS.work, "timing.frag")
        if os.path.exists(frag):
            os.remove(frag)
        started = time.monotonic()
        scan = subprocess.run([ARGS.cli, "scan", "-q", cls.image, frag], capture_output=True,
                              text=True, timeout=300)
        cls.seconds = time.monotonic() - started
        assert scan.returncode == 0, scan.stderr
        cls.reference_dir = cls.fresh("reference")
        whole = subprocess.run([ARGS.cli, "recover", "-q", cls.image, cls.reference_dir],
                               capture_output=True, text=True, timeout=300)
        assert whole.returncode == 0, whole.stderr
        cls.reference = result_of(cls.reference_dir)
        assert sum(1 for name in cls.reference if name.endswith(".sqlite")) == 3, cls.reference

    @staticmethod
    def fresh(name):
        path = os.path.join(ARGS.work, name)
        shutil.rmtree(path, ignore_errors=True)
        return path

    def recover(self, *arguments):
        return subprocess.run([ARGS.cli, "recover", *arguments], capture_output=True, text=True,
                              timeout=300)

    def stop_at_random(self, rng, out, resume, what, how):
        """Starts a recover into out and sends how after a random share of the reading.
        Returns "stopped" when an interrupted run is left to resume, "ended" when the run
        ended first with its result in place."""
        command = [ARGS.cli, "recover", "-q", "--restart-interval", "0.02", self.image, out]
        if resume:
            command.insert(2, "--resume")

        def judge(returncode, stderr, note, scale):
            staging = os.path.join(out, STAGING)
            note += "\nleft: " + described(out)
            if os.path.exists(os.path.join(staging, "fragments.frag.resume")):
                if returncode == 130:
                    self.assertIn(b"--resume continues the reading", stderr, note)
                else:
                    self.assertEqual(returncode, -how, note)
                return "stopped"
            if returncode == 0 or (returncode == 130 and
                                   os.path.exists(os.path.join(out, "quillon-recover.manifest"))):
                # It ended first, or the stop came during the decoding: a first run is tried
                # again, stopped sooner; a resume has its result in place.
                if resume:
                    return "ended" if returncode == 0 else "decoding stopped"
                shutil.rmtree(out, ignore_errors=True)
                self.assertGreater(scale, 0.05, note)
                return RETRY_SOONER
            # Killed before its first restart point: nothing to resume, and its staging folder
            # (if it got as far as making one: a slow start, under a sanitizer, may not) is
            # left as a kill leaves it. It is removed and the run started again. A resume
            # never gets here: the interrupted run's state stays until its result is whole.
            self.assertFalse(resume, "%s: neither a result nor a state to resume" % note)
            self.assertEqual(returncode, -how, note)
            print("%s: killed before its first restart point" % what, file=sys.stderr)
            shutil.rmtree(out, ignore_errors=True)
            return RETRY

        # A first run is under way once it has made its staging folder, which it does after
        # its handlers are in place; a resume takes over the one that is there.
        return stop_at_random(rng, command, self.seconds, 0.4 if resume else 0.8, how, what,
                              judge, started=None if resume else os.path.join(out, STAGING))

    def assert_result_equals_reference(self, out, note):
        result = result_of(out)
        self.assertEqual(sorted(result), sorted(self.reference), note)
        for name, value in self.reference.items():
            self.assertTrue(result[name] == value, "%s: %s differs" % (note, name))
        self.assertFalse(os.path.exists(os.path.join(out, STAGING)), note)

    def test_recovers_stopped_at_random_resume_to_the_uninterrupted_result(self):
        resumed = 0
        for round_number in range(ARGS.rounds):
            seed = ARGS.seed + round_number
            rng = random.Random(seed)
            with self.subTest(seed=seed):
                out = self.fresh("resumed-%d" % round_number)
                kinds = [signal.SIGINT, signal.SIGKILL]
                stops = [self.stop_at_random(rng, out, False, "seed %d, first run" % seed,
                                             kinds[round_number % 2])]
                for k in range(rng.randint(0, 2)):
                    stops.append(self.stop_at_random(rng, out, True,
                                                     "seed %d, resume %d" % (seed, k + 1),
                                                     rng.choice(kinds)))
                    if stops[-1] != "stopped":
                        break
                print("seed %d: %s" % (seed, stops), file=sys.stderr)
                resumed += stops.count("stopped")
                if stops[-1] == "decoding stopped":
                    continue  # a stop asked for while decoding: what was decoded is in place
                if stops[-1] == "stopped":
                    left = described(out)  # as the stops left it, for a failure's message
                    final = self.recover("--resume", self.image, out)
                    self.assertEqual(final.returncode, 0, "seed %d, %s: %s%s\nbefore it: %s" % (
                        seed, stops, final.stdout, final.stderr, left))
                    self.assertIn("Resuming the reading at byte", final.stdout)
                self.assert_result_equals_reference(out, "seed %d" % seed)
        self.assertGreaterEqual(resumed, ARGS.rounds, "too few stops came before the end")

    def interrupted(self, name):
        """A recover into name stopped by SIGINT while it read, and its files' bytes."""
        out = self.fresh(name)
        rng = random.Random(ARGS.seed)
        self.assertEqual(self.stop_at_random(rng, out, False, name, signal.SIGINT), "stopped")
        return out, snapshot(out)

    def assert_unchanged(self, out, files):
        self.assertEqual(snapshot(out), files)

    def test_another_source_is_refused(self):
        out, files = self.interrupted("other-source")
        with open(self.image, "rb") as f:
            data = bytearray(f.read())
        shorter = os.path.join(ARGS.work, "shorter.img")
        with open(shorter, "wb") as f:
            f.write(data[:-4096])
        data[-1] ^= 1
        changed = os.path.join(ARGS.work, "changed.img")
        with open(changed, "wb") as f:
            f.write(data)
        del data
        state = os.path.join(out, STAGING, "fragments.frag.resume")
        for source, cause in ((shorter, "bytes long"), (changed, "first or last 64 KiB differ")):
            result = self.recover("--resume", source, out)
            self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
            # The command that resumes is named, not the scan it resumes with.
            self.assertIn("is not the source of the interrupted recover", result.stderr)
            self.assertNotIn("interrupted scan", result.stderr)
            self.assertIn(state, result.stderr)
            self.assertIn(cause, result.stderr)
            self.assert_unchanged(out, files)
        os.remove(shorter)
        os.remove(changed)
        # The right source still resumes after the refusals.
        final = self.recover("-q", "--resume", self.image, out)
        self.assertEqual(final.returncode, 0, final.stderr)
        self.assert_result_equals_reference(out, "after refusals")

    def test_a_second_recover_into_the_same_folder_is_refused_while_the_first_runs(self):
        out = self.fresh("locked")
        lock = os.path.join(out, LOCK)
        first = start_and_hold(
            [ARGS.cli, "recover", "-q", "--restart-interval", "0.02", self.image, out],
            lambda: os.path.exists(os.path.join(out, STAGING, "fragments.frag.resume")))
        if first is None:
            self.skipTest("the recover ended before its first restart point")
        try:
            files = snapshot(out)
            assert_refused_as_in_use(
                self, lambda options: self.recover(*options, self.image, out), out, lock,
                lambda: self.assert_unchanged(out, files))
        finally:
            first.kill()
            first.wait()
        # A killed run's lock file holds nobody back: the resume takes it over.
        self.assertTrue(os.path.exists(lock))
        final = self.recover("-q", "--resume", self.image, out)
        self.assertEqual(final.returncode, 0, final.stderr)
        self.assert_result_equals_reference(out, "after a killed run held the lock")
        self.assertFalse(os.path.exists(lock))

    def test_damaged_state_and_foreign_files_are_refused_and_a_fresh_run_too(self):
        out, files = self.interrupted("damaged")
        staging = os.path.join(out, STAGING)
        # Without --resume the interrupted run is not started over unasked.
        fresh = self.recover(self.image, out)
        self.assertEqual(fresh.returncode, 1)
        self.assertIn("continued by the same command with --resume", fresh.stderr)
        self.assert_unchanged(out, files)

        map_state = os.path.join(staging, "fragments.pagemap.resume")
        with open(map_state, "r+b") as f:
            text = f.read()
            f.seek(0)
            f.write(text.replace(b"point ", b"point 1", 1))
        files[map_state] = snapshot(out)[map_state]
        damaged = self.recover("--resume", self.image, out)
        self.assertEqual(damaged.returncode, 1, damaged.stdout + damaged.stderr)
        self.assertIn(map_state, damaged.stderr)
        self.assertIn("checksum", damaged.stderr)
        self.assert_unchanged(out, files)
        with open(map_state, "wb") as f:
            f.write(text)
        files[map_state] = text

        def refused_for(name, data, said):
            """Puts data at name in the staging folder: --resume is refused saying said (the
            path in it) and changes nothing; the file goes again."""
            path = os.path.join(staging, name)
            with open(path, "wb") as f:
                f.write(data)
            refused = self.recover("--resume", self.image, out)
            self.assertEqual(refused.returncode, 1, refused.stdout + refused.stderr)
            self.assertIn(said % path, refused.stderr)
            self.assert_unchanged(out, dict(files, **{path: data}))
            os.remove(path)

        # A file the interrupted run did not write, and a page map that is not its copy.
        refused_for("notes.txt", b"mine\n", "%s")
        refused_for("fragments.pagemap.interrupted", b"QPAGEMAP but not this run's" * 10, "%s")
        # A fragment file where the resume writes its own, which the interrupted run did not
        # write: refused in recover's words, not in those of the scan it resumes with.
        refused_for("fragments.frag.partial", b"another run's fragment file\n" * 3,
                    '"%s" exists and is not the interrupted recover\'s file (another recover '
                    'may be writing it')
        other_map = os.path.join(staging, "fragments.pagemap.interrupted")

        # A copy of the page map cut short by a resume that was itself cut off is ours.
        with open(os.path.join(staging, "fragments.pagemap"), "rb") as f:
            head = f.read(100)
        os.rename(os.path.join(staging, "fragments.pagemap"), other_map)
        with open(os.path.join(staging, "fragments.pagemap"), "wb") as f:
            f.write(head)
        final = self.recover("-q", "--resume", self.image, out)
        self.assertEqual(final.returncode, 0, final.stderr)
        self.assert_result_equals_reference(out, "after a cut copy")

    def test_what_an_interrupted_decoding_wrote_is_removed_and_decoded_again(self):
        # As a run killed while it decodes leaves it: files and a folder its manifest lists.
        out, _ = self.interrupted("killed-decoding")
        staging = os.path.join(out, STAGING)
        with open(os.path.join(staging, "quillon-recover.manifest"), "ab") as f:
            f.write(b"database-1.sqlite\ndatabase-1/Authors.csv\ndatabase-1.xlsx.part\n")
        os.mkdir(os.path.join(staging, "database-1"))
        for name in ("database-1.sqlite", "database-1/Authors.csv", "database-1.xlsx.part"):
            with open(os.path.join(staging, name), "wb") as f:
                f.write(b"half written")
        final = self.recover("-q", "--resume", self.image, out)
        self.assertEqual(final.returncode, 0, final.stderr)
        self.assert_result_equals_reference(out, "after a killed decoding")

    def test_a_resume_with_nothing_to_resume_says_so(self):
        out = self.fresh("never-run")
        result = self.recover("--resume", self.image, out)
        self.assertEqual(result.returncode, 1)
        self.assertIn("holds no interrupted recover", result.stderr)
        self.assertIn(out, result.stderr)
        self.assertFalse(os.path.exists(out))
        # A finished recovery is not an interrupted one either.
        result = self.recover("--resume", "--force", self.image, self.reference_dir)
        self.assertEqual(result.returncode, 1)
        self.assertIn("holds no interrupted recover", result.stderr)
        self.assertEqual(result_of(self.reference_dir), self.reference)


def main():
    global ARGS
    ARGS, argv = parse_arguments(("--rounds", {"type": int, "default": 4}),
                                 ("--image-mib", {"type": int, "default": 768}),
                                 ("--seed", {"type": int, "default": int(time.time()) % 100000}))
    print("seed %d, %d rounds" % (ARGS.seed, ARGS.rounds), file=sys.stderr)
    run_tests(argv)


if __name__ == "__main__":
    main()
