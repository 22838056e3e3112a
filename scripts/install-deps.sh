#!/usr/bin/env bash
# Installs what building and running Quillon needs on Debian 12, from Debian's archive:
# the compiler, CMake and Ninja, and the libraries the two programs link. What only the tests
# need (GoogleTest, mdbtools, Wine, the cross compilers, ...) is in install-test-deps.sh,
# which scripts/test.sh runs first.
set -euo pipefail
cd "$(dirname "$0")"
source ./apt-install.sh

packages=(
  build-essential cmake ninja-build pkg-config git
  zlib1g-dev                     # the fragment file's compression
  libcli11-dev nlohmann-json3-dev  # quillon-cli's options and its --json output
  libblkid-dev                   # labels and file systems of the volumes in the source menu
  libsqlite3-dev                 # the recovered databases' SQLite files
  libxlsxwriter-dev              # the recovered databases' workbooks (.xlsx)
  qt6-base-dev                   # the window (Qt 6 Widgets)
  fonts-wqy-microhei             # a Chinese font for the window where SimSun is not installed
  qt6-translations-l10n          # Qt's own Chinese texts: the Chinese window's file dialogs
)

install_packages "${packages[@]}"
