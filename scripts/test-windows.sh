#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 and runs every Windows test under Wine,
# in a fresh Wine prefix, once with the Simplified Chinese code page (936) and once with
# the Western one (1252).
#
# Usage: scripts/test-windows.sh [LINUX_BUILD_DIR]   (default: build; the end-to-end
#        comparison with the Linux program needs it built)
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build}
build=build-win
started=$(date +%s)

scripts/fetch-sqlite.sh  # SQLite compiled into the programs, from Debian's sources
cmake -S . -B "$build" -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake
cmake --build "$build" -j "$(nproc)"
scripts/check-windows-imports.sh "$build/src/cli/quillon-cli.exe" "$build/src/gui_win32/quillon.exe"

export WINEPREFIX="$PWD/$build/wine-prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
scripts/wine-prefix.sh

for locale in zh_CN.UTF-8 en_US.UTF-8; do
  echo "== Windows tests under Wine, LANG=$locale =="
  wineserver -k 2>/dev/null || true
  export LANG=$locale LC_ALL=$locale
  # The window tests need a display; one Wine session serves every test program.
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$build" --output-on-failure
  if [ -x "$linux_build/src/cli/quillon-cli" ]; then
    python3 tests/end_to_end/test_windows_cli.py --cli-exe "$build/src/cli/quillon-cli.exe" \
      --linux-cli "$linux_build/src/cli/quillon-cli" --image "$linux_build/samples/sample-disk.img" \
      --work "$build/end_to_end"
  fi
done
wineserver -k 2>/dev/null || true
echo "Windows tests under Wine took $(( $(date +%s) - started )) s"
