#!/usr/bin/env bash
# Builds the Debian package quillon_VERSION_ARCH.deb: both programs built for /usr with
# Debian's hardening flags (dpkg-buildflags), stripped, their run-time dependencies found by
# dpkg-shlibdeps, with the desktop entry, icons, polkit action, man pages and copyright.
#
# Usage: scripts/make-deb.sh [BUILD_DIR]   (default: build-deb; the package is written there)
#
# A BUILD_DIR that is already configured (the test build, say) is reused as it is, only
# pointed at /usr, so nothing is compiled again; a new one is configured as Release
# without the tests. Prints the package's path on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
jobs=$(nproc)

for tool in cmake cpack dpkg-shlibdeps dpkg-buildflags gzip; do
  command -v "$tool" >/dev/null || {
    echo "make-deb.sh: $tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 1
  }
done

# Every hardening feature Debian has (bindnow too, beside the default ones).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "== Configuring $build (Release, Debian's build flags) =="
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=OFF \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_INSTALL_PREFIX=/usr
else
  # The prefix is in configured files only (the desktop entry, the polkit action).
  cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
fi

echo "== Building quillon and quillon-cli =="
cmake --build "$build" --target quillon quillon-cli -j "$jobs"

echo "== Packaging =="
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
package="$build/quillon_${version}_$(dpkg --print-architecture).deb"
rm -f "$package"
(cd "$build" && cpack -G DEB --config CPackConfig.cmake)
if [ ! -s "$package" ]; then
  echo "make-deb.sh: cpack wrote no $package" >&2
  exit 1
fi
echo "$(realpath "$package")"
