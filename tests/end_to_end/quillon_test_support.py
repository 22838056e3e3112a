"""What the end-to-end tests share: one reader of fragment files, written from the file's
layout with Python's zlib so that it checks the program independently, and one way to end
a test run that tells ctest a skip from a pass.

A fragment file: a 512-byte header ("\\x07recover", "\\x03AES", 0, "\\x05fixFI", 4 zero
bytes, the source length as a signed 64-bit number at 23, six 32-bit fields at 31 that are
(0, 0, 512, 0, 0, 0), the source path at 55 up to a NUL), a zlib stream of level 1 holding
the 4096-byte fragments, then zero bytes that bring the end to a multiple of 4 after four of
them, and "TEMP".
"""

import argparse
import os
import signal
import struct
import subprocess
import sys
import time
import unittest
import zlib

FRAGMENT = 4096


def _take_signals_as_a_terminal_would():
    """A shell starts a job in the background (&, nohup) with SIGINT, and under nohup SIGHUP,
    ignored, and the programs the tests start inherit that. A stop the tests send would then
    be lost whenever it came before the program put its own handler in place, and the run
    would go on to its end. Every test sends these signals as a terminal does, to a program
    that takes them the ordinary way."""
    if signal.getsignal(signal.SIGINT) == signal.SIG_IGN:
        signal.signal(signal.SIGINT, signal.default_int_handler)
    for number in (signal.SIGHUP, signal.SIGTERM):
        if signal.getsignal(number) == signal.SIG_IGN:
            signal.signal(number, signal.SIG_DFL)


_take_signals_as_a_terminal_would()

# How a text value from a disk stands in a CSV file we write: one that a spreadsheet would
# take for a formula begins with an apostrophe.
FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")


def formula_defused(value):
    return "'" + value if value.startswith(FORMULA_STARTS) else value


def use_chinese_texts():
    """Makes the programs this test starts speak Chinese, whatever the locale it runs in:
    its checks compare the window's log lines that the users know. LANGUAGE is the first
    variable the program reads and changes nothing else (test_language.py checks the
    choice itself)."""
    os.environ["LANGUAGE"] = "zh_CN"


# ctest reports a test that exits with this code as skipped (SKIP_RETURN_CODE).
SKIP_RETURN_CODE = 77


class FragmentFile:
    """A complete fragment file, every part of its layout checked (AssertionError names the
    first that is wrong)."""

    def __init__(self, data):
        assert data[0:8] == b"\x07recover", "signature"
        assert data[8:12] == b"\x03AES" and data[12] == 0 and data[13:19] == b"\x05fixFI", \
            "header words"
        assert data[19:23] == bytes(4), "reserved header bytes"
        self.source_length = struct.unpack_from("<q", data, 23)[0]
        assert struct.unpack_from("<6I", data, 31) == (0, 0, 512, 0, 0, 0), "header fields"
        self.path_bytes = data[55:512].split(b"\0", 1)[0]
        assert data[512:514] == b"\x78\x01", "zlib header of level 1"
        inflater = zlib.decompressobj()
        content = inflater.decompress(data[512:])
        assert inflater.eof, "the body's zlib stream does not end"
        trailer = inflater.unused_data
        body_end = len(data) - len(trailer)
        pad = (4 - (body_end + 4) % 4) % 4
        assert trailer == bytes(4 + pad) + b"TEMP", "trailer %r" % trailer[:16]
        assert len(data) % 4 == 0, "length not a multiple of 4"
        assert len(content) % FRAGMENT == 0, "body not whole fragments"
        self.content = content
        self.fragments = [content[k:k + FRAGMENT] for k in range(0, len(content), FRAGMENT)]

    @classmethod
    def read(cls, path):
        with open(path, "rb") as f:
            return cls(f.read())

    @property
    def path(self):
        return self.path_bytes.decode("utf-8")


def read_fragment_file(data):
    """(source path, source length, fragments) of a complete fragment file's bytes."""
    fragment_file = FragmentFile(data)
    return fragment_file.path, fragment_file.source_length, fragment_file.fragments


def fragment_count(path):
    """The number of fragments of the complete fragment file at path."""
    return len(FragmentFile.read(path).fragments)


# What a judge of stop_at_random answers for a run that gives nothing to go on: start it again
# and stop it at half the moment (it ended first), or at a moment of the same range.
RETRY_SOONER = "retry sooner"
RETRY = "retry"


def stop_at_random(rng, command, seconds, upper, how, what, judge, scale=1.0, started=None):
    """Runs command and sends it the signal how at a random moment: a share
    rng.uniform(0.1, upper) of seconds, the measured time of an uninterrupted run of the same
    work, times scale. A fixed delay would outlast the whole run on a fast machine and come
    too early to matter on a slow one. started: a path the run makes once it is under way
    (its handlers in place), from whose making the moment is counted; a start slowed by
    sanitizers or load then eats no share of the work. judge(returncode, stderr, note, scale)
    says what came of the run (note: what, the signal, the moment, the exit and stderr, for
    its assertions): an outcome, which is returned, or RETRY_SOONER or RETRY to start the run
    again."""
    while True:
        delay = seconds * scale * rng.uniform(0.1, upper)
        run = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if started is None or wait_until_started(run, started):
            time.sleep(delay)
            run.send_signal(how)
        _, stderr = run.communicate(timeout=300)
        note = "%s: %s after %.2f s%s, exit %d: %s" % (
            what, how.name, delay, "" if started is None else " under way", run.returncode,
            stderr.decode(errors="replace"))
        outcome = judge(run.returncode, stderr, note, scale)
        if outcome == RETRY_SOONER:
            scale /= 2
        elif outcome != RETRY:
            return outcome


def wait_until_started(run, path, seconds=120):
    """Waits until the run has made path (a file it makes only once its signal handlers are
    in place) or has ended. A signal sent before then kills the program outright: under
    sanitizers and a loaded machine its start alone can outlast a delay that was a share of
    a whole run. True when path is there and the run goes on."""
    deadline = time.monotonic() + seconds
    while not os.path.exists(path) and run.poll() is None and time.monotonic() < deadline:
        time.sleep(0.002)
    return run.poll() is None and os.path.exists(path)


def start_and_hold(command, ready, seconds=120, **popen):
    """Starts command and holds it still (SIGSTOP) as soon as ready() is true: a run in the
    middle of its work, with its files and locks as they are, for as long as a test needs.
    Returns the process, or None when it ended before it was ready. The caller kills it, or
    lets it go on (SIGCONT) to see how it ends; popen: Popen's options for its output (by
    default none is kept)."""
    popen.setdefault("stdout", subprocess.DEVNULL)
    popen.setdefault("stderr", subprocess.DEVNULL)
    run = subprocess.Popen(command, **popen)
    deadline = time.monotonic() + seconds
    while not ready() and run.poll() is None and time.monotonic() < deadline:
        time.sleep(0.002)
    run.send_signal(signal.SIGSTOP)
    if run.poll() is not None or not ready():
        run.kill()
        run.wait()
        return None
    return run


def assert_refused_as_in_use(case, run, shown_output, lock, unchanged):
    """Checks that a second run onto an output another run holds is refused at once however
    it is asked for (fresh, resumed, forced; in English and in Chinese): exit 1 and a message
    that names the output and the lock. run(options) runs it with the options given;
    unchanged() checks that the holder's files are as they were."""
    for language, options, words in (("en", [], "is in use by another scan or recover"),
                                      ("en", ["--resume"], "is in use by another scan or recover"),
                                      ("en", ["--force"], "is in use by another scan or recover"),
                                      ("zh", ["--resume"], "正被另一个扫描或恢复使用")):
        second = run(["--lang", language, *options])
        note = "%s %s: %s" % (language, options, second.stdout + second.stderr)
        case.assertEqual(second.returncode, 1, note)
        case.assertIn('"%s" %s' % (shown_output, words), second.stderr, note)
        case.assertIn(lock, second.stderr, note)
        unchanged()


# Parts of cases that could not run (a folder of fixtures is absent): the cases pass on what
# they did check, and the run is reported as skipped all the same.
_skipped_parts = []


def skip_part(reason):
    """Notes that part of a case was left out for reason; the run then ends as skipped."""
    print("SKIPPED PART: " + reason, file=sys.stderr)
    _skipped_parts.append(reason)


def parse_arguments(*extra):
    """The command line of an end-to-end script: --cli (quillon-cli), --samples (the bundled
    databases) and --work (a folder of its own), all required, and the options `extra` names
    as (flag, keyword arguments of add_argument). Returns (arguments, argv for run_tests):
    what argparse does not know is unittest's."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True, help="quillon-cli")
    parser.add_argument("--samples", required=True, help="the library-written databases")
    parser.add_argument("--work", required=True, help="a folder for the test's own files")
    for flag, keywords in extra:
        parser.add_argument(flag, **keywords)
    arguments, rest = parser.parse_known_args()
    return arguments, [sys.argv[0], *rest]


def run_tests(argv, verbosity=2):
    """Runs the unittest cases of __main__ and exits: 1 when any failed, SKIP_RETURN_CODE
    when none failed but any case or part was skipped (each is listed with its reason: what
    it needed was missing, so it proved nothing), 0 when every case ran whole and passed."""
    program = unittest.main(argv=argv, exit=False, verbosity=verbosity)
    result = program.result
    if not result.wasSuccessful():
        sys.exit(1)
    if result.testsRun == 0:
        print("FAILED: no test ran", file=sys.stderr)
        sys.exit(1)
    if result.skipped or _skipped_parts:
        sys.stdout.flush()
        for test, reason in result.skipped:
            print("SKIPPED: %s: %s" % (test.id(), reason), file=sys.stderr)
        for reason in _skipped_parts:
            print("SKIPPED: " + reason, file=sys.stderr)
        sys.exit(SKIP_RETURN_CODE)
    sys.exit(0)
