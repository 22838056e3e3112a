#!/usr/bin/env python3
"""End to end under Wine: quillon-cli.exe against the Linux quillon-cli on the same image.

The fragment files of both are read here with Python's zlib and must hold the same
fragments. The header's source path is the Windows path as the program was given it, in
the bytes of the system's ANSI code page (936 under LANG=zh_CN.UTF-8, 1252 under
en_US.UTF-8): a Chinese (or accented) folder and file name must come through whole, and a
name that the code page cannot hold must be refused before anything is created.

recover writes what the Linux recover writes: the same page map and manifest, and, from the
sample database, the same workbook (database-1.xlsx) part for part, read back with python3-openpyxl where it is
installed; the workbook library makes its temporary files beside the workbook, never in
%TEMP%.
"""

import argparse
import ctypes
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import time
import unittest
import zipfile

from quillon_test_support import SKIP_RETURN_CODE, FragmentFile, run_tests

ARGS = None
FRAGMENT = 4096


def read_fragment_file(data):
    """(source path bytes, source length, fragments) of a complete fragment file."""
    fragment_file = FragmentFile(data)
    return fragment_file.path_bytes, fragment_file.source_length, fragment_file.fragments


def windows_path(path):
    """The Wine path of a Linux path: drive Z: is the Linux root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*args, **kwargs):
    env = dict(os.environ, WINEDEBUG="-all")
    return subprocess.run(["wine", ARGS.cli_exe, *args], capture_output=True, env=env, **kwargs)


def files_made_in(folder, run):
    """(run's result, the names of the files made in folder while it ran), through inotify,
    which also sees a file removed at once; the names are None where inotify is missing."""
    libc = ctypes.CDLL(None, use_errno=True)
    watcher = libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC) if hasattr(libc, "inotify_init1") else -1
    if watcher < 0:
        return run(), None
    in_create = 0x100
    if libc.inotify_add_watch(watcher, os.fsencode(folder), in_create) < 0:
        os.close(watcher)
        return run(), None
    result = run()
    names = []
    while True:
        try:
            events = os.read(watcher, 65536)
        except BlockingIOError:
            break
        at = 0
        while at < len(events):
            _, _, _, length = struct.unpack_from("iIII", events, at)
            name = events[at + 16:at + 16 + length].rstrip(b"\0")
            if name:
                names.append(os.fsdecode(name))
            at += 16 + length
    os.close(watcher)
    return result, names


# Each part of a workbook as openpyxl reads it: [title, [[value, type, number format]...]...].
READ_WORKBOOK = """
import json, sys
try:
    import openpyxl
except ImportError:
    sys.exit(77)
out = []
for sheet in openpyxl.load_workbook(sys.argv[1]).worksheets:
    out.append([sheet.title, [[[str(c.value) if c.value is not None else None, c.data_type,
                                c.number_format] for c in row] for row in sheet.iter_rows()]])
print(json.dumps(out))
"""


def read_workbook(path):
    """The workbook's sheets as openpyxl reads them, or None without python3-openpyxl."""
    result = subprocess.run(["/usr/bin/python3", "-c", READ_WORKBOOK, path],
                            capture_output=True, text=True)
    if result.returncode == 77:
        return None
    assert result.returncode == 0, "openpyxl could not read %s: %s" % (path, result.stderr)
    return json.loads(result.stdout)


def code_page():
    """The ANSI code page Wine takes from the locale it runs in."""
    language = os.environ.get("LC_ALL") or os.environ.get("LANG") or ""
    return "cp936" if language.startswith("zh_CN") else "cp1252"


def scan_texts():
    """The window's lines a scan logs, in the language of the Wine session: Windows' display
    language follows the locale Wine runs in."""
    if code_page() == "cp936":
        return "开始扫描!", "完成！"
    return "Scan started!", "Done!"


class WindowsCli(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(ARGS.work, ignore_errors=True)
        os.makedirs(ARGS.work)
        cls.linux_out = os.path.join(ARGS.work, "linux.frag")
        result = subprocess.run([ARGS.linux_cli, "scan", "--quiet", "--force", ARGS.image,
                                 cls.linux_out], capture_output=True, text=True)
        assert result.returncode == 0, result.stderr
        with open(cls.linux_out, "rb") as f:
            _, cls.linux_length, cls.linux_fragments = read_fragment_file(f.read())

    def work(self, *names):
        return os.path.join(ARGS.work, *names)

    def test_lang_chooses_the_language_and_chinese_reaches_the_console_readably(self):
        for lang, started in (("zh", "开始扫描!"), ("en", "Scan started!")):
            out = self.work("lang-%s.frag" % lang)
            result = wine("--lang", lang, "scan", windows_path(ARGS.image), windows_path(out))
            self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
            self.assertIn(started, result.stdout.decode("utf-8"))

    def test_scan_equals_the_linux_scan_and_inspect_agrees(self):
        out = self.work("windows.frag")
        result = wine("scan", windows_path(ARGS.image), windows_path(out))
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        stdout = result.stdout.decode("utf-8")
        started, done = scan_texts()
        self.assertIn(started, stdout)
        self.assertIn(done, stdout)
        with open(out, "rb") as f:
            path, length, fragments = read_fragment_file(f.read())
        self.assertEqual(path, windows_path(ARGS.image).encode("ascii"))
        self.assertEqual(length, self.linux_length)
        self.assertEqual(len(fragments), len(self.linux_fragments))
        self.assertTrue(fragments == self.linux_fragments)

        inspect = wine("inspect", windows_path(out))
        self.assertEqual(inspect.returncode, 0, inspect.stderr)
        text = inspect.stdout.decode("utf-8")
        self.assertIn("complete", text)
        self.assertIn("%d (" % len(fragments), text)

        sources = wine("sources")
        self.assertEqual(sources.returncode, 0, sources.stderr)
        # Volume labels are asked of the open root folder: by path Wine reads the volume's
        # device and complains of its rights on every listing.
        self.assertNotIn(b"Read access denied", sources.stderr)

        index = self.work("windows.index")
        result = wine("scan", "--quiet", "--force", "--index", windows_path(index),
                      windows_path(ARGS.image), windows_path(out))
        self.assertEqual(result.returncode, 0)
        with open(index, "rb") as f:
            lines = f.read().decode("ascii").splitlines()
        self.assertEqual(len(lines), len(fragments))

    def test_recover_writes_what_the_linux_recover_writes(self):
        linux = self.work("recover.linux")
        result = subprocess.run([ARGS.linux_cli, "recover", "--quiet", ARGS.image, linux],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        windows = self.work("recover.windows")
        result = wine("recover", "--json", windows_path(ARGS.image), windows_path(windows))
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        self.assertTrue(json.loads(result.stdout)["page_map"]["offsets_known"])
        for name in ("fragments.pagemap", "quillon-recover.manifest"):
            with open(os.path.join(linux, name), "rb") as a:
                with open(os.path.join(windows, name), "rb") as b:
                    self.assertTrue(a.read() == b.read(), name + " differs from Linux's")
        with open(os.path.join(windows, "fragments.frag"), "rb") as f:
            _, length, fragments = read_fragment_file(f.read())
        self.assertEqual(length, self.linux_length)
        self.assertTrue(fragments == self.linux_fragments)
        # From the fragment file alone, and --force over the earlier recovery.
        again = wine("recover", "--quiet", windows_path(os.path.join(windows, "fragments.frag")),
                     windows_path(self.work("recover.again")))
        self.assertEqual(again.returncode, 0, again.stderr.decode("utf-8", "replace"))
        self.assertEqual(wine("recover", "-q", windows_path(ARGS.image), windows_path(windows))
                         .returncode, 1)
        self.assertEqual(wine("recover", "-q", "--force", windows_path(ARGS.image),
                              windows_path(windows)).returncode, 0)

    def test_recover_writes_the_workbook_the_linux_recover_writes(self):
        # The sample database file itself as the source: one database, placed whole.
        linux = self.work("workbook.linux")
        result = subprocess.run([ARGS.linux_cli, "recover", "--quiet", ARGS.database, linux],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        windows = self.work("workbook.windows")
        result = wine("recover", "--quiet", windows_path(ARGS.database), windows_path(windows))
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        with open(os.path.join(windows, "quillon-recover.manifest"), "rb") as f:
            self.assertIn(b"database-1.xlsx", f.read())
        self.assertWorkbookAsLinux(os.path.join(linux, "database-1.xlsx"),
                                   os.path.join(windows, "database-1.xlsx"))

    def assertWorkbookAsLinux(self, linux_book, windows_book):
        self.assertTrue(os.path.exists(windows_book), "recover wrote no workbook")
        self.assertTrue(zipfile.is_zipfile(windows_book), "the workbook is not a zip")
        with zipfile.ZipFile(linux_book) as a, zipfile.ZipFile(windows_book) as b:
            self.assertIsNone(b.testzip())
            self.assertEqual(a.namelist(), b.namelist())
            for name in a.namelist():
                # docProps/core.xml holds the time the workbook was written.
                if name != "docProps/core.xml":
                    self.assertTrue(a.read(name) == b.read(name), name + " differs from Linux's")
        sheets = read_workbook(windows_book)
        if sheets is None:
            print("python3-openpyxl is not installed: the workbook was compared part for part only")
            return
        self.assertEqual(sheets, read_workbook(linux_book))
        titles = [title for title, _ in sheets]
        self.assertEqual(titles[0], "Tables")
        self.assertIn("Authors", titles)
        authors = dict(sheets)["Authors"]
        self.assertEqual([cell[0] for cell in authors[0]],
                         ["AuthorID", "FullName", "Country", "Born", "Rating"])
        first = next(row for row in authors[1:] if row[1][0] == "Zoe Thompson")
        self.assertEqual(first[2][0], "Amsterdam")
        self.assertEqual(first[3][:2], ["2006-05-14 19:26:16", "d"])  # a date cell
        self.assertEqual(first[4][1], "n")
        self.assertAlmostEqual(float(first[4][0]), 3.3261771, places=6)

    def test_the_workbooks_temporary_files_stay_out_of_temp(self):
        # %TEMP% may lie on the disk being recovered from. Wine sets it from the prefix's
        # registry, whatever the Linux environment says: ask it where it is.
        env = dict(os.environ, WINEDEBUG="-all")
        temp = subprocess.run(["wine", "cmd", "/c", "echo", "%TEMP%"], capture_output=True,
                              env=env, text=True).stdout.strip()
        temp = subprocess.run(["winepath", "-u", temp], capture_output=True, env=env,
                              text=True).stdout.strip()
        self.assertTrue(os.path.isdir(temp), "Wine's %TEMP% is not a folder: " + temp)
        out = self.work("recover.temp")
        result, made = files_made_in(temp, lambda: wine(
            "recover", "-q", windows_path(ARGS.database), windows_path(out)))
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        self.assertTrue(zipfile.is_zipfile(os.path.join(out, "database-1.xlsx")))
        if made is None:
            print("inotify is missing: where the temporary files were made is not checked")
        else:
            self.assertEqual([name for name in made if name.startswith("tmp.")], [])
        self.assertEqual(sorted(n for n in os.listdir(out) if n.startswith("tmp.")), [])

    def test_ctrl_c_stops_at_the_next_chunk_with_a_complete_file(self):
        # Pages keep the scan busy compressing; Wine turns SIGINT into the console's Ctrl-C.
        image = self.work("busy.img")
        sample = b"".join(self.linux_fragments)  # database pages, one after another
        with open(image, "wb") as f:
            for _ in range(256 * 1024 ** 2 // len(sample)):
                f.write(sample)
        out = self.work("stopped.frag")
        env = dict(os.environ, WINEDEBUG="-all")
        process = subprocess.Popen(["wine", ARGS.cli_exe, "scan", windows_path(image),
                                    windows_path(out)], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=env)
        size = str(os.path.getsize(image)).encode()
        for line in process.stdout:
            if line.strip() == size:
                break
        time.sleep(0.3)
        process.send_signal(signal.SIGINT)
        stdout, stderr = process.communicate(timeout=120)
        self.assertEqual(process.returncode, 130, stderr)
        self.assertIn(scan_texts()[1], stdout.decode("utf-8"))
        with open(out, "rb") as f:
            _, _, fragments = read_fragment_file(f.read())
        self.assertLess(len(fragments), 256 * 1024 ** 2 // len(sample) * len(self.linux_fragments))
        self.assertGreater(len(fragments), 0)
        os.remove(image)

    def test_names_in_the_code_page_come_through_whole(self):
        local = "扫描结果" if code_page() == "cp936" else "données récupérées"
        folder = self.work(local)
        os.makedirs(folder, exist_ok=True)
        image = os.path.join(folder, local + ".img")
        shutil.copyfile(ARGS.image, image)
        out = os.path.join(folder, local + ".frag")
        result = wine("scan", windows_path(image), windows_path(out))
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        self.assertTrue(os.path.exists(out), "the output exists under exactly its name")
        with open(out, "rb") as f:
            path, _, fragments = read_fragment_file(f.read())
        self.assertEqual(path, windows_path(image).encode(code_page()))
        self.assertTrue(fragments == self.linux_fragments)
        # The log shows the name as it is, in the system's language.
        shown = "扫描存储介质: " if code_page() == "cp936" else "Source to scan: "
        self.assertIn(shown + windows_path(image), result.stdout.decode("utf-8"))
        inspect = wine("inspect", windows_path(out))
        self.assertEqual(inspect.returncode, 0)
        self.assertIn(windows_path(image), inspect.stdout.decode("utf-8"))
        # The workbook library opens its files by their names in the code page too.
        recovered = os.path.join(folder, local + " 2")
        result = wine("recover", "-q", windows_path(ARGS.database), windows_path(recovered))
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        self.assertTrue(zipfile.is_zipfile(os.path.join(recovered, "database-1.xlsx")))

    def test_a_name_outside_the_code_page_is_refused_before_anything_is_created(self):
        outside = "结果.frag" if code_page() == "cp1252" else "결과.frag"
        out = self.work(outside)
        result = wine("scan", windows_path(ARGS.image), windows_path(out))
        self.assertEqual(result.returncode, 1)
        self.assertIn("code page cannot hold", result.stderr.decode("utf-8"))
        self.assertFalse(os.path.exists(out))
        self.assertEqual(sorted(os.listdir(ARGS.work)).count(outside), 0)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli-exe", required=True)
    parser.add_argument("--linux-cli", required=True)
    parser.add_argument("--image", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--database", help="an Access database file to recover from "
                        "(default: the repository's samples/sample-jet4.mdb)",
                        default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                             "..", "..", "samples", "sample-jet4.mdb"))
    ARGS, rest = parser.parse_known_args()
    ARGS.work = os.path.abspath(ARGS.work)
    ARGS.image = os.path.abspath(ARGS.image)
    ARGS.database = os.path.abspath(ARGS.database)
    if shutil.which("wine") is None:
        print("SKIPPED: Wine is not installed")
        return SKIP_RETURN_CODE
    print("code page:", code_page())
    run_tests([sys.argv[0]] + rest)


if __name__ == "__main__":
    sys.exit(main())
