#!/usr/bin/env bash
# `cmake --install` right after the README's build must find every file it installs: the
# man pages and the changelog are made when the build is configured, not by a target that
# a build of only the programs skips. Configures a fresh tree (no compiling) and installs
# its packaging files into a DESTDIR, then checks the man pages read back as the pages.
#
# Usage: install_after_configure.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
cmake -S "$source_dir" -B "$work/build" -G Ninja -DQUILLON_BUILD_QT=OFF \
  -DQUILLON_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; echo "FAIL: the configure step failed" >&2; exit 1; }
DESTDIR="$work/root" cmake -P "$work/build/packaging/cmake_install.cmake" ||
  { echo "FAIL: installing the packaging files of a build that compiled nothing" >&2; exit 1; }
for page in quillon quillon-cli; do
  gz="$work/root/usr/share/man/man1/$page.1.gz"
  [ -f "$gz" ] || { echo "FAIL: $gz was not installed" >&2; exit 1; }
  cmp <(gzip -dc "$gz") "$work/build/packaging/$page.1" ||
    { echo "FAIL: $gz is not the man page" >&2; exit 1; }
done
[ -f "$work/root/usr/share/doc/quillon/changelog.gz" ] ||
  { echo "FAIL: the changelog was not installed" >&2; exit 1; }
echo "install after configure: ok"
