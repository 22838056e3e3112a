#!/usr/bin/env bash
# Installs what building and testing Quillon needs on Debian 12, from Debian's archive.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  zlib1g-dev libgtest-dev libcli11-dev nlohmann-json3-dev python3 mount e2fsprogs
  mdbtools
  libblkid-dev
  qt6-base-dev fonts-wqy-microhei xvfb xauth
  g++-mingw-w64-x86-64 libz-mingw-w64-dev
)

run_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

export DEBIAN_FRONTEND=noninteractive
run_as_root apt-get update -q
run_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${packages[@]}"
