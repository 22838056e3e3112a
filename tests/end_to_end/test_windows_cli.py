#!/usr/bin/env python3
"""End to end under Wine: quillon-cli.exe against the Linux quillon-cli on the same image.

The fragment files of both are read here with Python's zlib and must hold the same
fragments. The header's source path is the Windows path as the program was given it, in
the bytes of the system's ANSI code page (936 under LANG=zh_CN.UTF-8, 1252 under
en_US.UTF-8): a Chinese (or accented) folder and file name must come through whole, and a
name that the code page cannot hold must be refused before anything is created.
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

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
        # The log shows the name as it is.
        self.assertIn("扫描存储介质: " + windows_path(image), result.stdout.decode("utf-8"))
        inspect = wine("inspect", windows_path(out))
        self.assertEqual(inspect.returncode, 0)
        self.assertIn(windows_path(image), inspect.stdout.decode("utf-8"))

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
    ARGS, rest = parser.parse_known_args()
    ARGS.work = os.path.abspath(ARGS.work)
    ARGS.image = os.path.abspath(ARGS.image)
    if shutil.which("wine") is None:
        print("SKIPPED: Wine is not installed")
        return SKIP_RETURN_CODE
    print("code page:", code_page())
    run_tests([sys.argv[0]] + rest)


if __name__ == "__main__":
    sys.exit(main())
