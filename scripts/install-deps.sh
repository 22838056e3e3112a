#!/usr/bin/env bash
# Installs what building and testing Quillon needs on Debian 12, from Debian's archive.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  zlib1g-dev libgtest-dev googletest libcli11-dev nlohmann-json3-dev python3 mount e2fsprogs
  mdbtools                       # an independent Access reader, the rows test's oracle
  libblkid-dev
  libsqlite3-dev                 # the recovered databases' SQLite files
  tcl                            # tclsh: scripts/fetch-sqlite.sh makes SQLite's amalgamation
  qt6-base-dev fonts-wqy-microhei xvfb xauth
  # Windows: the cross compilers (64-bit and 32-bit, POSIX threads), zlib for both, and Wine
  # to run what they build; fonts-wine: Wine's own fonts (Marlett draws the caption buttons
  # and menu arrows). 32-bit Wine (wine32:i386) runs the 32-bit tests where it installs.
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  wine wine64 fonts-wine locales
  clang libclang-rt-dev          # the fuzz targets: clang with libFuzzer and the sanitizers
  fuse3 libfuse3-dev util-linux  # the failing-disk rig (FUSE) and setpriv for the tests
  testdisk                       # PhotoRec, the benchmark's comparison
  lintian desktop-file-utils     # check the Debian package and its menu entry (scripts/test-deb.sh)
)

run_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

export DEBIAN_FRONTEND=noninteractive
run_as_root apt-get update -q
run_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${packages[@]}"

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
