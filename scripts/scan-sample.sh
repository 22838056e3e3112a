#!/usr/bin/env bash
# Builds quillon-cli and the sample disk image, scans the image and checks the result.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target quillon-cli sample-image

out=build/sample-disk.frag
build/src/cli/quillon-cli scan --force build/samples/sample-disk.img "$out"
echo
build/src/cli/quillon-cli inspect "$out"
