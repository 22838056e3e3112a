#!/usr/bin/env bash
# Fails when a Windows program imports a DLL that a bare Windows installation lacks.
set -euo pipefail
system='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|advapi32|msvcrt|ucrtbase|api-ms-win-.*|ole32|oleaut32|uxtheme|shlwapi|version|msftedit|riched20|gdiplus|dwmapi|ntdll|imm32|winmm|bcrypt|setupapi|cfgmgr32)\.dll$'
status=0
for exe in "$@"; do
  imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z')
  extra=$(printf '%s\n' "$imports" | grep -vE "$system" || true)
  if [ -n "$extra" ]; then
    echo "$exe imports DLLs that Windows does not ship: $(echo $extra)" >&2
    status=1
  else
    echo "$exe imports only system DLLs: $(echo $imports)"
  fi
done
exit $status
