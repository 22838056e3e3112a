#!/usr/bin/env bash
# Builds everything and runs every test: once as shipped, once under AddressSanitizer and
# UndefinedBehaviorSanitizer, and checks that the Windows storage layer cross-compiles.
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

# ---- Fuzzing (libFuzzer, clang): every target in fuzz/ on its seeds for QUILLON_FUZZ_SECONDS
# (default 60) each; a crash, a hang or a sanitizer report fails the run. ----
echo "== Fuzzing =="
scripts/fuzz.sh
