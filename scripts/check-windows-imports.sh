#!/usr/bin/env bash
# Checks what a Windows program can be checked for without running it: it imports only DLLs
# that a bare Windows installation has, its PE header names the processor it was built for,
# and an embedded manifest names that processor too (Windows refuses a 32-bit program whose
# manifest says amd64).
# Usage: check-windows-imports.sh [--arch x86_64|i686] EXE...   (default x86_64)
set -euo pipefail
arch=x86_64
if [ "${1:-}" = --arch ]; then arch=$2; shift 2; fi
case "$arch" in
  x86_64) format=pei-x86-64 manifest_arch=amd64 ;;
  i686) format=pei-i386 manifest_arch=x86 ;;
  *) echo "unknown architecture $arch (x86_64 or i686)" >&2; exit 2 ;;
esac
objdump=$arch-w64-mingw32-objdump
command -v "$objdump" >/dev/null || objdump=x86_64-w64-mingw32-objdump  # reads both formats
system='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|advapi32|msvcrt|ucrtbase|api-ms-win-.*|ole32|oleaut32|uxtheme|shlwapi|version|msftedit|riched20|gdiplus|dwmapi|ntdll|imm32|winmm|bcrypt|setupapi|cfgmgr32)\.dll$'
status=0
for exe in "$@"; do
  if ! "$objdump" -f "$exe" | grep -q "file format $format"; then
    echo "$exe is not a $arch program: $("$objdump" -f "$exe" | sed -n 's/.*file format //p')" >&2
    status=1
  fi
  # The manifest is stored as its UTF-8 text; only the window has one.
  if grep -aq '<assembly' "$exe" &&
     ! grep -aq "processorArchitecture=\"$manifest_arch\"" "$exe"; then
    echo "$exe: its manifest does not name processorArchitecture=\"$manifest_arch\"" >&2
    status=1
  fi
  imports=$("$objdump" -p "$exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z')
  extra=$(printf '%s\n' "$imports" | grep -vE "$system" || true)
  if [ -n "$extra" ]; then
    echo "$exe imports DLLs that Windows does not ship: $(echo $extra)" >&2
    status=1
  else
    echo "$exe ($arch) imports only system DLLs: $(echo $imports)"
  fi
done
exit $status
