#!/bin/sh
# Starts quillon.exe under Wine, waits for its window, pictures it and asks it to close as
# the close box does, then expects exit status 0. The display and the Wine prefix are the
# surrounding ones (xvfb-run, WINEPREFIX).
# Usage: program_ends_cleanly.sh WINE QUILLON_EXE CAMERA_EXE TITLE BMP
wine="$1" program="$2" camera="$3" title="$4" picture="$5"
"$wine" "$program" &
pid=$!
if ! "$wine" "$camera" "$title" "$picture"; then
  kill "$pid" 2>/dev/null
  wait "$pid"
  echo "the window of quillon.exe did not appear or could not be pictured"
  exit 1
fi
wait "$pid"
status=$?
if [ "$status" -ne 0 ]; then
  echo "quillon.exe ended with status $status after WM_CLOSE, expected 0"
  exit 1
fi
echo "quillon.exe showed \"$title\" and ended with 0; picture in $picture"
