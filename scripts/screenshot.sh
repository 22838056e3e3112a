#!/bin/sh
# Draws the window after a finished scan of the sample database into
# docs/screenshot-scan.png, with its source menu open into docs/screenshot-menu.png, and
# after a recovery from the window into docs/images/window-recover.png; then the same in
# English into docs/screenshot-scan-en.png, docs/screenshot-menu-en.png and
# docs/images/window-recover-en.png. The scan is started from the toolbar like a user does;
# the menu and the dialogs are answered with a disk image made here: the sample database
# between random bytes, as it would lie on a used disk.
#
# Usage: scripts/screenshot.sh [BUILD_DIR]     (default: build-screenshot)
# Environment: QUILLON_SCREENSHOT_XVFB=1 draws under Xvfb instead of the offscreen platform.
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$repo/build-screenshot"}
# A fixed, short place: its paths show in the log pane of the picture.
work=/tmp/quillon-screenshot
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

cmake -S "$repo" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target quillon-window-screenshot

image="$work/card.img"
head -c 3145728 /dev/urandom >"$image"
cat "$repo/samples/sample-jet4.mdb" >>"$image"
head -c 1048576 /dev/urandom >>"$image"

mkdir -p "$repo/docs/images"
tool="$build/tests/gui_qt/quillon-window-screenshot"
# draw LANG SUFFIX: the three pictures in that language, their names ending in SUFFIX.
draw() {
  rm -rf "$work/card.frag" "$work/recovered"
  set -- --lang "$1" "$image" "$work/card.frag" "$repo/docs/screenshot-scan$2.png" \
    "$repo/docs/screenshot-menu$2.png" "$work/recovered" "$repo/docs/images/window-recover$2.png"
  if [ "${QUILLON_SCREENSHOT_XVFB:-0}" = 1 ]; then
    xvfb-run -a -s "-screen 0 1024x768x24" "$tool" "$@"
  else
    QT_QPA_PLATFORM=offscreen "$tool" "$@"
  fi
}
draw zh ""
draw en -en
echo "wrote $repo/docs/screenshot-scan.png, $repo/docs/screenshot-menu.png," \
  "$repo/docs/images/window-recover.png and their English forms (-en.png)"
