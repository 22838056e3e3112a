#!/bin/sh
# Draws the Windows window (quillon.exe's, under Wine) after a finished scan of the sample
# database into docs/screenshot-windows.png, and with its source menu open (on a made-up
# machine with three volumes and two drives) into docs/screenshot-windows-menu.png, and after
# a recovery from the window into docs/images/window-recover-windows.png. The scan is started from the toolbar like a
# user does; the menu and the dialogs are answered with a disk image made here: the sample
# database between random bytes, as it would lie on a used disk. Wine runs with the
# Simplified Chinese code page (936) and user interface language, as a Chinese system does:
# the window shows its Chinese texts, as on the people's machines. With `en`, Wine runs as
# an English system (code page 1252) and the pictures are the English window's, named
# with -en (docs/screenshot-windows-en.png and so on).
#
# Usage: scripts/screenshot-windows.sh [BUILD_DIR] [zh|en]     (default: build-win zh)
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-"$repo/build-win"}")  # absolute: Wine takes no other prefix
language=${2:-zh}
case $language in
  zh) locale=zh_CN.UTF-8 suffix= ;;
  en) locale=en_US.UTF-8 suffix=-en ;;
  *) echo "usage: $0 [BUILD_DIR] [zh|en]" >&2; exit 2 ;;
esac
# A fixed, short place: its paths show in the log pane of the picture.
work=/tmp/quillon-screenshot
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# SQLite and libxlsxwriter are compiled in from Debian's sources (kept once fetched).
"$repo/scripts/fetch-sqlite.sh" >/dev/null
"$repo/scripts/fetch-xlsxwriter.sh" >/dev/null
cmake -S "$repo" -B "$build" -G Ninja --toolchain "$repo/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" --target quillon-window-screenshot

image="$work/card.img"
head -c 3145728 /dev/urandom >"$image"
cat "$repo/samples/sample-jet4.mdb" >>"$image"
head -c 1048576 /dev/urandom >>"$image"

export WINEPREFIX="${WINEPREFIX:-$build/wine-prefix}" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$WINEPREFIX" ] || "$repo/scripts/wine-prefix.sh"
export LANG=$locale LC_ALL=$locale

mkdir -p "$repo/docs"
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  wine "$1" --lang "$8" "$(winepath -w "$2")" "$(winepath -w "$3")" "$(winepath -w "$4")" \
    "$(winepath -w "$5")" "$(winepath -w "$6")" "$(winepath -w "$7")"
  status=$?
  wineserver -w
  exit $status' sh "$build/tests/gui_win32/quillon-window-screenshot.exe" "$image" \
  "$work/card.frag" "$work/window.bmp" "$work/menu.bmp" "$work/recovered" "$work/recover.bmp" \
  "$language"
python3 "$repo/scripts/bmp-to-png.py" "$work/window.bmp" "$repo/docs/screenshot-windows$suffix.png"
python3 "$repo/scripts/bmp-to-png.py" "$work/menu.bmp" "$repo/docs/screenshot-windows-menu$suffix.png"
mkdir -p "$repo/docs/images"
python3 "$repo/scripts/bmp-to-png.py" "$work/recover.bmp" \
  "$repo/docs/images/window-recover-windows$suffix.png"
echo "wrote $repo/docs/screenshot-windows$suffix.png, $repo/docs/screenshot-windows-menu$suffix.png" \
  "and $repo/docs/images/window-recover-windows$suffix.png"
