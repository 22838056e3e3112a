#!/usr/bin/env bash
# Builds everything and runs every test: once as shipped, the Debian package made from that
# build installed, run and removed, once under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows programs and their tests under Wine, and the
# fuzz targets for a bounded time. This is what CI runs (.ci/run).
#
#   scripts/test.sh --quick   the day-to-day tier: one Linux build (build/, warnings as
#                             errors), then the tests labelled "quick" (ctest -L quick): the
#                             unit tests and the end-to-end tests that take seconds. No
#                             sanitizers, Debian package, Windows or fuzzing. A few minutes.
#
# Tests whose oracle is missing (mdbtools, chromium, the Access-written fixtures, a loop
# device) are listed by ctest as skipped, with the reason in their output.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

quick=no
case "${1:-}" in
  --quick) quick=yes ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

# What the tests need beyond building (install-deps.sh): GoogleTest, mdbtools, Wine, ...
echo "== Test packages =="
scripts/install-test-deps.sh

echo "== Build and test =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_WERROR=ON
cmake --build build -j "$jobs"
if [ $quick = yes ]; then
  QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure --no-tests=error \
    -j "$jobs" -L quick
  echo "Quick tier passed (skipped tests, if any, are listed above); scripts/test.sh runs all."
  exit 0
fi
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"

echo "== Debian package (built from build/, installed, run, removed) =="
scripts/test-deb.sh build

echo "== Sanitizers (ASan + UBSan) =="
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=ON -DQUILLON_BUILD_QT=OFF \
  -DQUILLON_WERROR=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$jobs"

echo "== Windows (mingw-w64, tests under Wine) =="
scripts/test-windows.sh build

# ---- Fuzzing (libFuzzer, clang): every target in fuzz/ on its seeds for QUILLON_FUZZ_SECONDS
# (default 60) each; a crash, a hang or a sanitizer report fails the run. ----
echo "== Fuzzing =="
scripts/fuzz.sh
