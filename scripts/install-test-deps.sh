#!/usr/bin/env bash
# Installs what the tests need beyond building and running (install-deps.sh), on Debian 12,
# from Debian's archive. scripts/test.sh runs it first; packages already installed are not
# asked for again.
set -euo pipefail
cd "$(dirname "$0")"
source ./apt-install.sh

packages=(
  libgtest-dev googletest        # the unit tests; googletest's sources for the Windows tests
  python3                        # the end-to-end tests, checked with Python's zlib
  mount e2fsprogs util-linux     # loop devices, a file system to scan, setpriv for the tests
  mdbtools                       # an independent Access reader, the rows and recover tests' oracle
  python3-openpyxl               # reads the recovered workbooks back (test_workbook.py)
  xvfb xauth                     # an X server for the window's tests and its pictures
  tcl                            # tclsh: scripts/fetch-sqlite.sh makes SQLite's amalgamation
  dpkg-dev                       # dpkg-source: scripts/fetch-xlsxwriter.sh unpacks libxlsxwriter's sources
  # Windows: the cross compilers (64-bit and 32-bit, POSIX threads), zlib for both, and Wine
  # to run what they build; fonts-wine: Wine's own fonts (Marlett draws the caption buttons
  # and menu arrows). 32-bit Wine (wine32:i386) runs the 32-bit tests where it installs.
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  wine wine64 fonts-wine locales
  clang libclang-rt-dev          # the fuzz targets: clang with libFuzzer and the sanitizers
  fuse3 libfuse3-dev             # the failing-disk rig (FUSE)
  testdisk                       # PhotoRec, the benchmark's comparison
  ntfs-3g faketime               # NTFS volume images written through a real allocator
  chromium                       # a real browser, headless, loads recover's report.html
  lintian desktop-file-utils     # check the Debian package and its menu entry (scripts/test-deb.sh)
  nsis zip                       # the Windows installer (makensis) and the Windows zips
)

install_packages "${packages[@]}"

# Wine takes the Windows code page from the locale it runs in: zh_CN.UTF-8 gives the
# Simplified Chinese code page 936, en_US.UTF-8 the Western 1252; de_DE.UTF-8 has a
# decimal comma for the size texts.
wanted="en_US.UTF-8 zh_CN.UTF-8 de_DE.UTF-8"
missing=""
for locale in $wanted; do
  locale -a 2>/dev/null | grep -qix "${locale/UTF-8/utf8}" || missing="$missing $locale"
done
if [ -n "$missing" ]; then
  for locale in $missing; do
    run_as_root sed -i "s/^# *\(${locale} UTF-8\)/\1/" /etc/locale.gen
  done
  run_as_root locale-gen
fi
