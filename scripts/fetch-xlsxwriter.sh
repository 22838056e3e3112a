#!/usr/bin/env bash
# Brings libxlsxwriter's sources for the Windows build from Debian's own libxlsxwriter
# source package, the same version the Linux build links (libxlsxwriter-dev): the library's
# C files and headers, and the parts of its third_party folder the Windows build compiles
# (minizip's zip writer and tmpfileplus), with its License.txt. The Windows programs compile
# them in (CMakeLists.txt), as they do SQLite (scripts/fetch-sqlite.sh).
#
# The source package is fetched by scripts/debian-source.sh, under a private apt
# configuration, so the system's apt sources are left as they are, and unpacked by
# dpkg-source (dpkg-dev, which build-essential brings). Nothing is built here.
#
# Usage: scripts/fetch-xlsxwriter.sh [OUT_DIR]   (default: third_party/libxlsxwriter; kept
#        when there)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-third_party/libxlsxwriter}
source scripts/debian-source.sh
prepare_debian_source "libxlsxwriter sources" "$out" libxlsxwriter libxlsxwriter-dev \
  include/xlsxwriter.h src/workbook.c
# Unpacked as Debian builds it: the upstream sources with Debian's patches applied.
# (apt has checked the files against the archive's signed index; gpgv's note that it lacks
# the uploader's key goes to the log with the rest.)
if ! (cd "$work" && dpkg-source -x libxlsxwriter_*.dsc source > dpkg-source.log 2>&1); then
  cat "$work/dpkg-source.log" >&2
  echo "fetch-xlsxwriter.sh: dpkg-source could not unpack the libxlsxwriter source package" >&2
  exit 1
fi
for needed in include/xlsxwriter.h src/workbook.c third_party/minizip/zip.c \
              third_party/minizip/ioapi.c third_party/tmpfileplus/tmpfileplus.c License.txt; do
  if [ ! -f "$work/source/$needed" ]; then
    echo "fetch-xlsxwriter.sh: the libxlsxwriter source package has no $needed" >&2
    exit 1
  fi
done
# Made aside and moved into place whole: a failed run leaves no half folder behind.
mkdir -p "$(dirname "$out")"
staged=$(mktemp -d "$(dirname "$out")/.libxlsxwriter.XXXXXX")
trap 'rm -rf "$work" "$staged"' EXIT
cp -r "$work/source/include" "$work/source/src" "$work/source/License.txt" "$staged/"
mkdir -p "$staged/third_party"
cp -r "$work/source/third_party/minizip" "$work/source/third_party/tmpfileplus" \
  "$staged/third_party/"
basename "$work"/libxlsxwriter_*.dsc .dsc | sed 's/^libxlsxwriter_//' > "$staged/DEBIAN_VERSION"
chmod 755 "$staged"
rm -rf "$out"
mv "$staged" "$out"
echo "libxlsxwriter $(cat "$out/DEBIAN_VERSION") sources in $out"
