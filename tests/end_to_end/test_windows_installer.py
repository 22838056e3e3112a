#!/usr/bin/env python3
"""The Windows installer under Wine, in a fresh Wine prefix of its own.

Installed silently (/S), the programs must be the zip's to the byte, the Start-menu entry
must start quillon.exe and ask for administrator rights, and Add/Remove Programs must list
an uninstaller; the installed quillon-cli.exe scans the sample database and quillon.exe
opens its window and closes. Uninstalled silently, the files, the Start-menu entry and the
registry key must be gone, and a file of the user's in the program's folder must be kept.
Needs a display (xvfb-run) for the window.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import unittest
import zipfile

ARGS = None
HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
PROGRAMS = ["quillon.exe", "quillon-cli.exe", "README.txt", "LICENSES.txt"]
SLDF_RUNAS_USER = 0x2000
UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"


def prefix(*names):
    return os.path.join(ARGS.work, "prefix", *names)


def env():
    return dict(os.environ, WINEPREFIX=prefix(), WINEDEBUG="-all",
                # No Linux menu entries from the Start-menu links, no Mono or Gecko prompts.
                WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=")


def run(*args, wait=False, timeout=120):
    result = subprocess.run(list(args), capture_output=True, env=env(), timeout=timeout)
    if wait:
        # The uninstaller copies itself to the temporary folder and goes on from there: its
        # work is done when every process of the prefix has ended, and the registry is then
        # written out to the prefix's files.
        subprocess.run(["wineserver", "-w"], env=env(), timeout=timeout)
    return result


def text(result):
    return (result.stdout + result.stderr).decode("utf-8", "replace")


def registry_values(key):
    """{name: value} of the HKLM key, or None where it does not exist, read from the prefix's
    system.reg (its keys are HKLM's, backslashes doubled, values "name"="text" or dword:hex)."""
    header = "[" + key.replace("\\", "\\\\") + "]"
    with open(prefix("system.reg"), encoding="utf-8", errors="replace") as f:
        lines = f.read().splitlines()
    starts = [k for k, line in enumerate(lines) if line.split("] ")[0] + "]" == header
              or line == header]
    if not starts:
        return None
    values = {}
    for line in lines[starts[0] + 1:]:
        if not line.strip():
            break
        match = re.match(r'^"((?:[^"\\]|\\.)*)"=(?:"((?:[^"\\]|\\.)*)"|dword:([0-9a-f]{8}))$', line)
        if match:
            unescape = lambda value: re.sub(r"\\(.)", r"\1", value)
            values[unescape(match.group(1))] = (unescape(match.group(2)) if match.group(3) is None
                                                else int(match.group(3), 16))
    return values


class WindowsInstaller(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(ARGS.work, ignore_errors=True)
        os.makedirs(ARGS.work)
        subprocess.run([os.path.join(REPO, "scripts", "wine-prefix.sh")], env=env(), check=True)
        win64 = ARGS.arch == "win64"
        cls.folder = "Program Files" if win64 else "Program Files (x86)"
        cls.windows_dir = "C:\\%s\\Quillon" % cls.folder
        cls.install_dir = prefix("drive_c", cls.folder, "Quillon")
        product = "Quillon" if win64 else "Quillon (32-bit)"
        cls.key = (UNINSTALL if win64 else UNINSTALL.replace("Software\\", "Software\\Wow6432Node\\")) \
            + "\\" + product
        cls.start_menu = prefix("drive_c", "ProgramData", "Microsoft", "Windows", "Start Menu",
                                "Programs", product)
        with zipfile.ZipFile(ARGS.zip) as archive:
            cls.zipped = {os.path.basename(name): archive.read(name)
                          for name in archive.namelist() if not name.endswith("/")}

    def install(self, *options):
        result = run("wine", ARGS.installer, "/S", *options, wait=True)
        self.assertEqual(result.returncode, 0, text(result))

    def uninstall(self, windows_dir):
        result = run("wine", windows_dir + "\\uninstall.exe", "/S", wait=True)
        self.assertEqual(result.returncode, 0, text(result))

    def test_1_install_puts_the_zips_programs_a_start_menu_entry_and_an_uninstaller(self):
        self.install()
        self.assertEqual(sorted(self.zipped), sorted(PROGRAMS))
        for name in PROGRAMS:
            with open(os.path.join(self.install_dir, name), "rb") as f:
                self.assertEqual(f.read(), self.zipped[name], name + " differs from the zip's")
        self.assertTrue(os.path.isfile(os.path.join(self.install_dir, "uninstall.exe")))
        # The Notepad of Windows 7 and 8 takes the text for UTF-8 only with the byte-order
        # mark, and breaks lines only at CRLF.
        readme = self.zipped["README.txt"]
        self.assertTrue(readme.startswith(b"\xef\xbb\xbf"), "README.txt has no UTF-8 byte-order mark")
        self.assertEqual(readme.count(b"\n"), readme.count(b"\r\n"), "README.txt has bare LF")
        self.assertEqual(readme.count(b"\r"), readme.count(b"\r\n"), "README.txt has bare CR")
        text_of_readme = readme[3:].decode("utf-8")
        self.assertIn("中文", text_of_readme)
        self.assertIn("English", text_of_readme)
        self.assertIn("Quillon " + ARGS.version, text_of_readme)
        self.assertIsNone(re.search(r"@[A-Z_]+@", text_of_readme), "a placeholder is left")
        # The notices of the libraries compiled in; libxlsxwriter's names its sources.
        notices = self.zipped["LICENSES.txt"]
        self.assertTrue(notices.startswith(b"\xef\xbb\xbf"), "LICENSES.txt has no byte-order mark")
        self.assertEqual(notices.count(b"\n"), notices.count(b"\r\n"), "LICENSES.txt has bare LF")
        text_of_notices = notices[3:].decode("utf-8")
        for needed in ("Libxlsxwriter is released under a FreeBSD license",
                       "https://sources.debian.org/src/libxlsxwriter/", "Mozilla Public License",
                       "SQLite", "zlib", "mingw-w64"):
            self.assertIn(needed, text_of_notices)

        with open(os.path.join(self.start_menu, "Quillon.lnk"), "rb") as f:
            link = f.read()
        self.assertEqual(link[:4], b"\x4c\0\0\0", "not a shell link")
        flags = int.from_bytes(link[0x14:0x18], "little")
        self.assertTrue(flags & SLDF_RUNAS_USER, "the entry does not ask for administrator rights")
        target = self.windows_dir + "\\quillon.exe"
        self.assertTrue(target.encode("ascii") in link or target.encode("utf-16-le") in link,
                        "the entry does not start " + target)
        self.assertTrue(os.path.isfile(os.path.join(self.start_menu, "README.lnk")))

        values = registry_values(self.key)
        self.assertIsNotNone(values, "no Add/Remove Programs key HKLM\\" + self.key)
        self.assertEqual(values.get("DisplayVersion"), ARGS.version)
        self.assertEqual(values.get("UninstallString"), '"%s\\uninstall.exe"' % self.windows_dir)
        self.assertEqual(values.get("InstallLocation"), self.windows_dir)
        self.assertIn("Quillon", values.get("DisplayName", ""))
        self.assertGreater(values.get("EstimatedSize", 0), 1000)  # KiB

    def test_2_the_installed_command_line_scans_the_sample(self):
        cli = self.windows_dir + "\\quillon-cli.exe"
        result = run("wine", cli, "--help")
        self.assertEqual(result.returncode, 0, text(result))
        self.assertIn("Exit status", text(result))
        frag = os.path.join(ARGS.work, "sample.frag")
        sample = "Z:" + os.path.join(REPO, "samples", "sample-jet4.mdb").replace("/", "\\")
        result = run("wine", cli, "scan", "--quiet", sample, "Z:" + frag.replace("/", "\\"))
        self.assertEqual(result.returncode, 0, text(result))
        result = run("wine", cli, "inspect", "Z:" + frag.replace("/", "\\"))
        self.assertEqual(result.returncode, 0, text(result))

    def test_3_the_installed_window_opens_and_closes(self):
        result = subprocess.run(
            ["sh", os.path.join(REPO, "tests", "gui_win32", "program_ends_cleanly.sh"), "wine",
             self.windows_dir + "\\quillon.exe", ARGS.camera, ARGS.caption,
             os.path.join(ARGS.work, "installed-window.bmp")],
            capture_output=True, env=env(), timeout=120)
        self.assertEqual(result.returncode, 0, text(result))

    def test_4_uninstall_removes_the_files_the_entry_and_the_key(self):
        self.uninstall(self.windows_dir)
        self.assertFalse(os.path.exists(self.install_dir), os.listdir(self.install_dir)
                         if os.path.isdir(self.install_dir) else "")
        self.assertFalse(os.path.exists(self.start_menu), "the Start-menu folder stays")
        self.assertIsNone(registry_values(self.key), "the Add/Remove Programs key stays")

    def test_5_uninstall_keeps_a_users_file_in_a_chosen_folder(self):
        chosen = prefix("drive_c", "Recovery")
        os.makedirs(chosen)
        with open(os.path.join(chosen, "found.frag"), "wb") as f:
            f.write(b"the user's own")
        self.install("/D=C:\\Recovery")  # /D comes last and unquoted, as NSIS wants it
        self.assertEqual(registry_values(self.key).get("InstallLocation"), "C:\\Recovery")
        self.uninstall("C:\\Recovery")
        self.assertEqual(sorted(os.listdir(chosen)), ["found.frag"])
        with open(os.path.join(chosen, "found.frag"), "rb") as f:
            self.assertEqual(f.read(), b"the user's own")
        self.assertIsNone(registry_values(self.key))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--installer", required=True)
    parser.add_argument("--zip", required=True, help="the zip of the same architecture")
    parser.add_argument("--arch", choices=["win64", "win32"], required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--camera", required=True, help="quillon-window-camera.exe")
    parser.add_argument("--caption", required=True, help="the window's caption")
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.work = os.path.abspath(ARGS.work)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
