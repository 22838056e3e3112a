#!/usr/bin/env python3
"""quillon-cli in both languages: the window's lines that scan and recover log are in Chinese
when the locale is Chinese and in English otherwise (LANGUAGE, LC_ALL, LC_MESSAGES, LANG in
that order; none, C or POSIX: English), and --lang zh|en chooses for one run whatever the
locale says. The command line's own messages are English in both."""

import argparse
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from quillon_test_support import run_tests  # noqa: E402

ARGS = None
LOCALE_VARIABLES = ("LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG")

CHINESE_SCAN = ["扫描存储介质: ", "开始扫描!", "完成！",
                "扫描结束,请联系软件客服将扫描加密文件发送过去进行分析数据恢复情况"]
ENGLISH_SCAN = ["Source to scan: ", "Scan started!", "Done!", "Scan finished. Please contact"]


def run(arguments, **locale):
    """quillon-cli with only the given locale variables set."""
    env = {name: value for name, value in os.environ.items() if name not in LOCALE_VARIABLES}
    env.update(locale)
    return subprocess.run([ARGS.cli, *arguments], capture_output=True, text=True, env=env,
                          timeout=300)


class Language(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(ARGS.work, ignore_errors=True)
        os.makedirs(ARGS.work)
        cls.sample = os.path.join(ARGS.samples, "sample-jet4-small.mdb")
        cls.runs = 0

    def scan(self, *options, **locale):
        """The log of a scan of the small sample, checked to have succeeded."""
        type(self).runs += 1
        out = os.path.join(ARGS.work, "scan-%d.frag" % self.runs)
        result = run([*options, "scan", self.sample, out], **locale)
        self.assertEqual(result.returncode, 0, result.stderr)
        # The summary is the command line's own: English in both.
        self.assertRegex(result.stdout.splitlines()[-1], r"^\d+ fragments from \d+ bytes scanned")
        return result.stdout

    def assertSpeaks(self, texts, log, others):
        for text in texts:
            self.assertIn(text, log)
        for text in others:
            self.assertNotIn(text, log)

    def test_the_locale_chooses(self):
        chinese = [{"LANG": "zh_CN.UTF-8"}, {"LANG": "zh_TW.UTF-8"},
                   {"LANG": "en_US.UTF-8", "LC_ALL": "zh_CN.UTF-8"},
                   {"LANG": "C", "LC_MESSAGES": "zh_CN.UTF-8"},
                   {"LANG": "en_US.UTF-8", "LANGUAGE": "zh_CN:en"}]
        english = [{}, {"LANG": "C"}, {"LANG": "POSIX"}, {"LANG": "C.UTF-8"},
                   {"LANG": "en_US.UTF-8"}, {"LANG": "de_DE.UTF-8"},
                   {"LANG": "zh_CN.UTF-8", "LC_ALL": "C"},
                   {"LANG": "zh_CN.UTF-8", "LANGUAGE": "en_US:zh_CN"}]
        for locale in chinese:
            with self.subTest(**locale):
                self.assertSpeaks(CHINESE_SCAN, self.scan(**locale), ENGLISH_SCAN)
        for locale in english:
            with self.subTest(**locale):
                self.assertSpeaks(ENGLISH_SCAN, self.scan(**locale), CHINESE_SCAN)

    def test_lang_overrides_the_locale_before_or_after_the_command(self):
        self.assertSpeaks(ENGLISH_SCAN, self.scan("--lang", "en", LANG="zh_CN.UTF-8"),
                          CHINESE_SCAN)
        self.assertSpeaks(CHINESE_SCAN, self.scan("--lang=zh", LANG="C"), ENGLISH_SCAN)
        out = os.path.join(ARGS.work, "after.frag")
        result = run(["scan", self.sample, out, "--lang", "zh"], LANG="en_US.UTF-8")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertSpeaks(CHINESE_SCAN, result.stdout, ENGLISH_SCAN)

    def test_a_wrong_lang_is_a_usage_error(self):
        out = os.path.join(ARGS.work, "never.frag")
        result = run(["scan", "--lang", "fr", self.sample, out], LANG="zh_CN.UTF-8")
        self.assertEqual(result.returncode, 2)
        self.assertIn("--lang", result.stderr)
        self.assertFalse(os.path.exists(out))

    def test_recover_logs_the_scan_in_the_chosen_language(self):
        for lang, started, left_out in (("zh", "开始扫描!", "请联系软件客服"),
                                        ("en", "Scan started!", "Please contact")):
            with self.subTest(lang=lang):
                outdir = os.path.join(ARGS.work, "recovered-" + lang)
                result = run(["recover", "--lang", lang, self.sample, outdir])
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn(started, result.stdout)
                # recover decodes the file itself: the scan's closing request is left out.
                self.assertNotIn(left_out, result.stdout)
                self.assertTrue(os.path.isfile(os.path.join(outdir, "report.html")))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    run_tests([sys.argv[0], *rest])


if __name__ == "__main__":
    main()
