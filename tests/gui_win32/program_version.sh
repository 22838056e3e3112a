#!/bin/sh
# quillon.exe --version and --help answer on the output they were given (here a pipe) and
# end with 0 without opening the window.
set -u
emulator=$1
program=$2
expected="quillon $3"
out=$("$emulator" "$program" --version 2>/dev/null | tr -d '\r')
status=$?
if [ "$status" -ne 0 ] || [ "$out" != "$expected" ]; then
  echo "quillon.exe --version: status $status, printed: $out (expected: $expected)"
  exit 1
fi
help=$("$emulator" "$program" --help 2>/dev/null | tr -d '\r')
case $help in *"Exit status:"*) ;; *) echo "quillon.exe --help lists no exit status: $help"; exit 1;; esac
# A --lang that names no language of the window is refused before any window: status 1.
wrong=$("$emulator" "$program" --lang fr 2>/dev/null)
status=$?
wrong=$(printf '%s' "$wrong" | tr -d '\r')
if [ "$status" -ne 1 ]; then
  echo "quillon.exe --lang fr: status $status (expected 1), printed: $wrong"; exit 1
fi
case $wrong in *"--lang takes zh or en"*) ;; *) echo "quillon.exe --lang fr says: $wrong"; exit 1;; esac
