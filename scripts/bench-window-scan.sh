#!/usr/bin/env bash
# Times the same scan of a dense source (128 MiB of database pages: the sample database
# repeated) in the window and on the command line, best of three runs each: the Windows
# programs under Wine and Xvfb, and the Linux ones (the Qt window offscreen). The window
# shows its status text at the message pump, so it should take at most 1.2 times the
# command line's time. On Linux the two alternate, a command line run and then a window
# run, PAIRS times, so that each pair meets the same load of a shared machine; the ratio
# of each pair and their median are printed beside the best times. A benchmark, not a
# test: it prints figures and fails only when a scan fails.
#
# Usage: scripts/bench-window-scan.sh [windows|linux|both]   (default: both)
#   LINUX_BUILD (default build: quillon-cli, tests/gui_qt/quillon-window-scan-timer),
#   WINDOWS_BUILD (default build-win: quillon-cli.exe, quillon-window-scan-timer.exe) and
#   PAIRS (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
which=${1:-both}
linux=${LINUX_BUILD:-build}
win=${WINDOWS_BUILD:-build-win}
pairs=${PAIRS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/dense.img" <<'PYTHON'
import sys
database = open("samples/sample-jet4.mdb", "rb").read()
size = 128 << 20
with open(sys.argv[1], "wb") as out:
    written = 0
    while written < size:
        piece = database[: size - written]
        out.write(piece)
        written += len(piece)
PYTHON
head -c 1048576 "$work/dense.img" >"$work/small.img"
echo "dense image: $(stat -c %s "$work/dense.img") bytes, the sample database repeated"

least() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a + 0 < b + 0) ? a : b }'; }

# time_of COMMAND...: the wall time in seconds of one run.
time_of() {
  local start end
  start=$(date +%s.%N)
  "$@" >"$work/last.out" 2>"$work/last.err" || { cat "$work/last.err" >&2; return 1; }
  end=$(date +%s.%N)
  awk -v a="$end" -v b="$start" 'BEGIN { printf "%.2f", a - b }'
}

# best_of COMMAND...: the shortest wall time in seconds of three runs.
best_of() {
  local best="" run seconds
  for run in 1 2 3; do
    seconds=$(time_of "$@") || return 1
    best=$(least "$seconds" "$best")
  done
  echo "$best"
}

# The window's own figure is the scan alone, without starting the program.
best_window() {
  local best="" run seconds
  for run in 1 2 3; do
    "$@" >"$work/last.out" 2>"$work/last.err" || { cat "$work/last.err" >&2; return 1; }
    seconds=$(awk '/^window/ {print $2}' "$work/last.out")
    best=$(least "$seconds" "$best")
  done
  echo "$best $(awk '/^window/ {print $4}' "$work/last.out")"
}

# The window's time is the scan's alone; the command line's is the whole run, of which the
# run on a 1 MiB image (mostly the program's start) is given too. On Linux the best times
# are the best of the pairs.
report() {  # NAME WINDOW_SECONDS FRAGMENTS CLI_SECONDS CLI_SMALL_SECONDS
  echo "$1: window $2 s ($3 fragments); command line $4 s, $5 s of it to start and end" \
    "(a 1 MiB image); window / command line $(awk -v w="$2" -v c="$4" \
    'BEGIN { printf "%.2f", w / c }'), without the start" \
    "$(awk -v w="$2" -v c="$4" -v s="$5" 'BEGIN { printf "%.2f", w / (c - s) }')"
}

plain=$(best_of cat "$work/dense.img")
echo "plain read (cat): $plain s, $(awk -v s="$plain" 'BEGIN { printf "%.0f", 134.217728 / s }') MB/s"

if [ "$which" != linux ]; then
  export WINEPREFIX=${WINEPREFIX:-$PWD/$win/wine-prefix} WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  [ -d "$WINEPREFIX" ] || scripts/wine-prefix.sh
  image="Z:$(echo "$work/dense.img" | tr / '\\')"
  out="Z:$(echo "$work/out.frag" | tr / '\\')"
  cli=$(best_of wine "$win/src/cli/quillon-cli.exe" scan --force "$image" "$out")
  small=$(best_of wine "$win/src/cli/quillon-cli.exe" scan --force "${image%dense.img}small.img" \
    "$out")
  # A Wine session started without a display cannot make windows: the window gets its own.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  read -r window fragments < <(xvfb-run -a -s "-screen 0 1280x1024x24" \
    bash -c "$(declare -f least best_window); work=$work; best_window wine \
      $win/tests/gui_win32/quillon-window-scan-timer.exe '$image' '$out'")
  report "Windows (Wine)" "$window" "$fragments" "$cli" "$small"
  wineserver -k 2>/dev/null || true
fi

if [ "$which" != windows ]; then
  small=$(best_of "$linux/src/cli/quillon-cli" scan --force "$work/small.img" "$work/out.frag")
  cli="" window="" ratios=""
  for pair in $(seq "$pairs"); do
    one_cli=$(time_of "$linux/src/cli/quillon-cli" scan --force "$work/dense.img" "$work/out.frag")
    QT_QPA_PLATFORM=offscreen "$linux/tests/gui_qt/quillon-window-scan-timer" "$work/dense.img" \
      "$work/out.frag" >"$work/last.out" 2>"$work/last.err" || { cat "$work/last.err" >&2; exit 1; }
    one_window=$(awk '/^window/ {print $2}' "$work/last.out")
    fragments=$(awk '/^window/ {print $4}' "$work/last.out")
    cli=$(least "$one_cli" "$cli")
    window=$(least "$one_window" "$window")
    ratios="$ratios $(awk -v w="$one_window" -v c="$one_cli" 'BEGIN { printf "%.2f", w / c }')"
  done
  report "Linux (Qt, offscreen)" "$window" "$fragments" "$cli" "$small"
  echo "Linux pairs (window / command line, each pair run back to back):$ratios; median" \
    "$(echo $ratios | tr ' ' '\n' | sort -n | awk '{ r[NR] = $1 } END {
      printf "%.2f", NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2 }')"
fi
