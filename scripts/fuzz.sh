#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one on its seed corpus for a bounded
# time (QUILLON_FUZZ_SECONDS, default 60). A crash, a hang or a sanitizer report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${QUILLON_FUZZ_SECONDS:-60}
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLON_FUZZ=ON -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_QT=OFF
cmake --build "$build" -j "$(nproc)"

for seeds in fuzz/seeds/*/; do
  name=$(basename "$seeds")
  target="$build/fuzz/$name"
  [ -x "$target" ] || { echo "no fuzz target $name for $seeds" >&2; exit 1; }
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  echo "== $name: ${seconds} s =="
  # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "$corpus" "$seeds"
done
