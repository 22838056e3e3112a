#!/bin/sh
# quillon --version prints its name and version and ends with 0 without starting Qt: with
# no display at all (the X11 platform and no DISPLAY), opening a window would fail.
set -u
program=$1
expected="quillon $2"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" --version 2>&1)
status=$?
if [ "$status" -ne 0 ] || [ "$out" != "$expected" ]; then
  echo "quillon --version: status $status, printed: $out (expected: $expected)"
  exit 1
fi
help=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" --help 2>&1) || {
  echo "quillon --help: status $?, printed: $help"; exit 1; }
case $help in *"Exit status:"*) ;; *) echo "quillon --help lists no exit status: $help"; exit 1;; esac
# A --lang that names no language of the window is refused before Qt starts: status 1.
wrong=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" --lang fr 2>&1)
status=$?
if [ "$status" -ne 1 ]; then
  echo "quillon --lang fr: status $status (expected 1), printed: $wrong"; exit 1
fi
case $wrong in *"--lang takes zh or en"*) ;; *) echo "quillon --lang fr says: $wrong"; exit 1;; esac
