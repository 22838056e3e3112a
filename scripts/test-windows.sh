#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 and runs every Windows test under Wine,
# in a fresh Wine prefix, once with the Simplified Chinese code page (936) and once with
# the Western one (1252), and the window's layout test once more at 150% (144 dots per
# inch); then makes the downloads (scripts/make-windows-downloads.sh) and tests the
# installer (tests/end_to_end/test_windows_installer.py). Builds the 32-bit programs too:
# where 32-bit Wine is installed (Debian's wine32:i386) their tests and the 32-bit installer
# run under it once; elsewhere they are checked without running (PE header, imports,
# manifest).
#
# Usage: scripts/test-windows.sh [LINUX_BUILD_DIR]   (default: build; the end-to-end
#        comparison with the Linux program needs it built)
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build}
build=build-win
build32=build-win32
started=$(date +%s)
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

scripts/fetch-sqlite.sh  # SQLite compiled into the programs, from Debian's sources
scripts/fetch-xlsxwriter.sh  # libxlsxwriter too (the workbooks), from Debian's sources
cmake -S . -B "$build" -G Ninja --toolchain cmake/mingw-w64.cmake -DQUILLON_WINDOWS_ARCH=x86_64 \
  -DQUILLON_WERROR=ON "${launcher[@]}"
cmake --build "$build" -j "$(nproc)"
scripts/check-windows-imports.sh --arch x86_64 "$build/src/cli/quillon-cli.exe" \
  "$build/src/gui_win32/quillon.exe"

# 32-bit Wine runs the 32-bit tests; without it only the programs are built and checked.
wine32=no
if [ -x /usr/lib/wine/wine ]; then  # the 32-bit loader, from wine32:i386
  wine32=yes
fi
cmake -S . -B "$build32" -G Ninja --toolchain cmake/mingw-w64.cmake -DQUILLON_WINDOWS_ARCH=i686 \
  -DQUILLON_WERROR=ON -DQUILLON_BUILD_TESTS=$([ $wine32 = yes ] && echo ON || echo OFF) "${launcher[@]}"
cmake --build "$build32" -j "$(nproc)" --target quillon quillon-cli \
  $([ $wine32 = yes ] && echo all)
scripts/check-windows-imports.sh --arch i686 "$build32/src/cli/quillon-cli.exe" \
  "$build32/src/gui_win32/quillon.exe"

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

# The layout at 150%: Wine takes the system's dots per inch from LogPixels.
echo "== The window at 144 dots per inch =="
wineserver -k 2>/dev/null || true
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
wineserver -w
xvfb-run -a -s "-screen 0 1600x1200x24" \
  wine "$build/tests/gui_win32/quillon_gui_win32_tests.exe" --gtest_filter='*Dpi*'
wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null
wineserver -k 2>/dev/null || true

# The downloads (zips and installers, into the build folder) and the installer under Wine,
# in a fresh prefix of its own: installed, run, uninstalled. The window's caption is the one
# the smoke test of quillon.exe waits for.
echo "== The Windows downloads and the installer under Wine =="
scripts/make-windows-downloads.sh "$build/downloads"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
caption=$(ctest --test-dir "$build" -R '^quillon_exe_ends_cleanly$' --show-only=json-v1 |
  python3 -c 'import json, sys; print(json.load(sys.stdin)["tests"][0]["command"][5])')
for arch in win64 $([ $wine32 = yes ] && echo win32); do
  LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 xvfb-run -a -s "-screen 0 1280x1024x24" \
    python3 tests/end_to_end/test_windows_installer.py --arch "$arch" --version "$version" \
    --installer "$build/downloads/Quillon-$version-$arch-setup.exe" \
    --zip "$build/downloads/Quillon-$version-$arch.zip" \
    --camera "$build/tests/gui_win32/quillon-window-camera.exe" --caption "$caption" \
    --work "$build/installer-test-$arch"
done
[ $wine32 = yes ] || echo "32-bit Wine is not installed: the 32-bit installer was made, not run"

if [ $wine32 = yes ]; then
  echo "== 32-bit Windows tests under Wine, LANG=zh_CN.UTF-8 =="
  LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build32" --output-on-failure
  wineserver -k 2>/dev/null || true
else
  echo "32-bit Wine (wine32:i386) is not installed: the 32-bit programs were built and" \
    "checked (PE header, imports, manifest), not run"
fi
echo "Windows tests under Wine took $(( $(date +%s) - started )) s"
