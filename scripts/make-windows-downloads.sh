#!/usr/bin/env bash
# Makes the Windows downloads from one command: cross-builds quillon.exe and quillon-cli.exe
# for 64-bit and 32-bit Windows, checks that they import only system DLLs, and writes
#   Quillon-VERSION-win64.zip, Quillon-VERSION-win32.zip     the two programs, README.txt
#                                                            and LICENSES.txt
#   Quillon-VERSION-win64-setup.exe, ...-win32-setup.exe     installers (makensis)
#   SHA256SUMS
# into OUT_DIR. VERSION is the project's, from the top CMakeLists.txt. README.txt is
# packaging/windows/README.txt in Chinese and English, with CRLF line ends and a UTF-8
# byte-order mark so that Notepad shows the Chinese; LICENSES.txt, the notices of the
# libraries compiled in (scripts/windows-notices.sh), likewise. The files in a zip carry the time of
# the last commit, so the same sources give the same zips.
#
# Usage: scripts/make-windows-downloads.sh [OUT_DIR]   (default: dist)
#        The 64-bit build is build-win, the 32-bit one build-win32 (as scripts/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-dist}
build64=build-win
build32=build-win32
started=$(date +%s)

for tool in makensis zip x86_64-w64-mingw32-objdump; do
  if ! command -v "$tool" >/dev/null; then
    echo "make-windows-downloads.sh: $tool is not installed (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done
version=$(sed -n 's/^project(Quillon VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if ! [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
  echo "make-windows-downloads.sh: no project(Quillon VERSION x.y.z) in CMakeLists.txt" >&2
  exit 1
fi
epoch=$(git log -1 --format=%ct 2>/dev/null || date +%s)

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
scripts/fetch-sqlite.sh  # SQLite compiled into the programs, from Debian's sources
scripts/fetch-xlsxwriter.sh  # libxlsxwriter too (the workbooks), from Debian's sources
for arch in x86_64 i686; do
  build=$([ $arch = x86_64 ] && echo "$build64" || echo "$build32")
  echo "== Building the $arch programs in $build =="
  # The toolchain file is read when a build folder is made; an existing one keeps its own.
  toolchain=()
  [ -f "$build/CMakeCache.txt" ] || toolchain=(--toolchain cmake/mingw-w64.cmake)
  cmake -S . -B "$build" -G Ninja "${toolchain[@]}" -DQUILLON_WINDOWS_ARCH=$arch \
    "${launcher[@]}" >/dev/null
  if ! grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw-w64' "$build/CMakeCache.txt"; then
    echo "make-windows-downloads.sh: $build is not a Windows build folder (made without cmake/mingw-w64.cmake)" >&2
    exit 1
  fi
  built=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  if [ "$built" != "$version" ]; then
    echo "make-windows-downloads.sh: $build is configured for version $built, not $version" >&2
    exit 1
  fi
  cmake --build "$build" -j "$(nproc)" --target quillon quillon-cli
  scripts/check-windows-imports.sh --arch $arch "$build/src/cli/quillon-cli.exe" \
    "$build/src/gui_win32/quillon.exe"
done

# Everything is made in a folder of its own beside OUT_DIR's files and moved there only
# when all of it is complete: a failure leaves the downloads of an earlier run as they were.
mkdir -p "$out"
work=$(mktemp -d "$out/.making.XXXXXX")
trap 'rm -rf "$work"' EXIT
made=()
for arch in win64 win32; do
  if [ $arch = win64 ]; then
    build=$build64 arch_text="64-bit Windows / 64 位 Windows" pe=pei-x86-64
  else
    build=$build32 arch_text="32-bit Windows / 32 位 Windows" pe=pei-i386
  fi
  name=Quillon-$version-$arch
  stage="$work/$name"
  mkdir -p "$stage"
  cp "$build/src/gui_win32/quillon.exe" "$build/src/cli/quillon-cli.exe" "$stage/"
  { printf '\xef\xbb\xbf'
    sed -e "s|@VERSION@|$version|g" -e "s|@ARCH_TEXT@|$arch_text|g" -e 's/$/\r/' \
      packaging/windows/README.txt
  } > "$stage/README.txt"
  if grep -q '@[A-Z_]*@' "$stage/README.txt"; then
    echo "make-windows-downloads.sh: README.txt keeps a placeholder: $(grep -o '@[A-Z_]*@' "$stage/README.txt" | head -1)" >&2
    exit 1
  fi
  { printf '\xef\xbb\xbf'
    scripts/windows-notices.sh "$version" | sed -e 's/\r$//' -e 's/$/\r/'
  } > "$stage/LICENSES.txt"
  # The first hour's way to the tables: the fifth button and the report it opens.
  for needed in 恢复数据 report.html; do
    if ! grep -q "$needed" "$stage/README.txt" || ! grep -q "$needed" packaging/windows/quillon.nsi; then
      echo "make-windows-downloads.sh: README.txt or the installer never mentions $needed" >&2
      exit 1
    fi
  done
  touch -d "@$epoch" "$stage" "$stage"/*
  # zip stores local times: UTC, so that the zip does not depend on the machine's zone.
  (cd "$work" && TZ=UTC zip -q -X -r "$name.zip" "$name")
  made+=("$name.zip")

  echo "== Making the $arch installer =="
  makensis -V2 -NOCD -DVERSION="$version" -DARCH=$arch -DSTAGE="$stage" \
    -DICON="$PWD/src/gui_win32/quillon.ico" -DOUT_FILE="$work/$name-setup.exe" \
    packaging/windows/quillon.nsi
  if ! x86_64-w64-mingw32-objdump -f "$work/$name-setup.exe" | grep -q "file format $pe"; then
    echo "make-windows-downloads.sh: $name-setup.exe is not a $pe program" >&2
    exit 1
  fi
  made+=("$name-setup.exe")
done
(cd "$work" && sha256sum "${made[@]}" > SHA256SUMS)
for file in "${made[@]}" SHA256SUMS; do
  mv -f "$work/$file" "$out/$file"
done
echo "== Windows downloads in $out/ (version $version, $(( $(date +%s) - started )) s) =="
(cd "$out" && ls -l "${made[@]}" | awk '{ printf "%10d  %s\n", $5, $9 }')
