#!/usr/bin/env bash
# Writes to stdout LICENSES.txt of the Windows downloads: the notices of the code compiled
# into quillon.exe and quillon-cli.exe besides Quillon's own. libxlsxwriter's licence asks
# for its notice beside a binary, and tmpfileplus's (the MPL 2.0, inside libxlsxwriter) that
# the binary says where its source is; zlib and SQLite are named with theirs, and the
# mingw-w64 runtime with Debian's copyright file. UTF-8 with LF line ends
# (make-windows-downloads.sh adds the byte-order mark and CRLF).
#
# Usage: scripts/windows-notices.sh VERSION
set -euo pipefail
cd "$(dirname "$0")/.."
version=$1
xlsxwriter=third_party/libxlsxwriter
sqlite=third_party/sqlite
for needed in "$xlsxwriter/License.txt" "$xlsxwriter/DEBIAN_VERSION" "$sqlite/sqlite3.h" \
              /usr/share/doc/libz-mingw-w64/copyright /usr/share/doc/mingw-w64-common/copyright; do
  if [ ! -f "$needed" ]; then
    echo "windows-notices.sh: $needed is missing (scripts/fetch-xlsxwriter.sh, scripts/fetch-sqlite.sh and install-test-deps.sh bring it)" >&2
    exit 1
  fi
done
debian_xlsxwriter=$(cat "$xlsxwriter/DEBIAN_VERSION")
sqlite_version=$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' "$sqlite/sqlite3.h")
rule='=========================================================================='

cat <<TEXT
Quillon $version: third-party code in quillon.exe and quillon-cli.exe
Quillon $version：quillon.exe 和 quillon-cli.exe 中包含的第三方代码及其许可证

1. libxlsxwriter ${debian_xlsxwriter%-*}, with the minizip and tmpfileplus it includes: the
   workbooks (.xlsx). Compiled from Debian's source package libxlsxwriter $debian_xlsxwriter,
   whose sources are at https://sources.debian.org/src/libxlsxwriter/$debian_xlsxwriter/
   (or: apt-get source libxlsxwriter=$debian_xlsxwriter). Its License.txt follows.
2. SQLite $sqlite_version: the .sqlite files. In the public domain.
3. zlib: the fragment file's compression, and the workbooks'. Debian's libz-mingw-w64.
4. The mingw-w64 runtime (with winpthreads), from Debian's mingw-w64. The GCC runtime
   libraries (libgcc, libstdc++) are under the GPL 3 with the GCC Runtime Library Exception.

$rule
1. libxlsxwriter: License.txt
$rule

TEXT
cat "$xlsxwriter/License.txt"
printf '\n%s\n3. zlib: Debian'"'"'s copyright file of libz-mingw-w64\n%s\n\n' "$rule" "$rule"
cat /usr/share/doc/libz-mingw-w64/copyright
printf '\n%s\n4. mingw-w64: Debian'"'"'s copyright file of mingw-w64\n%s\n\n' "$rule" "$rule"
cat /usr/share/doc/mingw-w64-common/copyright
