#!/usr/bin/env bash
# Makes a fresh Wine prefix at $WINEPREFIX for running the Windows programs and tests:
# 64-bit, no desktop integration, no window manager, and "SimSun"/"宋体" (the window's
# font) mapped to the installed CJK font so that the Chinese texts show instead of empty
# boxes.
set -euo pipefail
: "${WINEPREFIX:?set WINEPREFIX to the prefix to make}"
export WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts: this machine has no way to fetch them.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
wineboot -i >/dev/null 2>&1
wineserver -w

# A .reg file in UTF-16LE keeps the Chinese value name whatever the locale.
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
# Windows are not handed to a window manager ("Managed"="N"): under Xvfb none runs, and
# Wine would wait 2 s for its answer whenever a window or box is hidden.
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"SimSun"="WenQuanYi Micro Hei"\r\n"宋体"="WenQuanYi Micro Hei"\r\n"NSimSun"="WenQuanYi Micro Hei"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n' \
  | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"
wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
wineserver -w

# Debian's Wine does not look in its own font folder: Marlett, which draws the caption
# buttons and menu arrows, goes where the prefix's fonts are (fonts-wine installs it).
if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi
