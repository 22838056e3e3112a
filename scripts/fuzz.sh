#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one on its seed corpus for a bounded
# time (QUILLON_FUZZ_SECONDS, default 60). A crash, a hang or a sanitizer report fails.
# Every folder fuzz/seeds/<name>/ names a target <name>; only those targets are built.
# A file fuzz/<name>.options holds extra libFuzzer flags for that target, on one line.
# What a failing run found is kept as build-fuzz/artifacts/<name>-crash-... (or timeout-,
# leak-, oom-); replay it with: build-fuzz/fuzz/<name> FILE
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
seconds=${QUILLON_FUZZ_SECONDS:-60}
build=build-fuzz

names=()
for seeds in fuzz/seeds/*/; do names+=("$(basename "$seeds")"); done
if [ ${#names[@]} -eq 0 ]; then
  echo "no seed folders in fuzz/seeds: nothing to fuzz" >&2
  exit 1
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLON_FUZZ=ON -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_QT=OFF
cmake --build "$build" -j "$(nproc)" --target "${names[@]}"

mkdir -p "$build/artifacts"
for name in "${names[@]}"; do
  target="$build/fuzz/$name"
  [ -x "$target" ] || { echo "no fuzz target $name for fuzz/seeds/$name" >&2; exit 1; }
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  options=()
  if [ -f "fuzz/$name.options" ]; then read -r -a options <"fuzz/$name.options"; fi
  echo "== $name: ${seconds} s =="
  # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" ${options[@]+"${options[@]}"} \
    "$corpus" "fuzz/seeds/$name"
done
