#!/usr/bin/env bash
# Builds everything and runs every test: once as shipped, once under AddressSanitizer and
# UndefinedBehaviorSanitizer, and checks that the Windows programs cross-compile and import
# only system DLLs (scripts/test-windows.sh runs the Windows tests under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== Build and test =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j "$jobs"

echo "== Sanitizers (ASan + UBSan) =="
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=ON -DQUILLON_BUILD_QT=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== Windows cross build (mingw-w64) =="
cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_QT=OFF
cmake --build build-mingw -j "$jobs"
scripts/check-windows-imports.sh build-mingw/src/cli/quillon-cli.exe build-mingw/src/gui_win32/quillon.exe
