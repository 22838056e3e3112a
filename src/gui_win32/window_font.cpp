#include "gui_win32/window_font.h"

namespace quillon {

TFont WindowFont(int pixelSize, bool underline) {
  LOGFONTW font{};
  font.lfHeight = -pixelSize;  // negative: the character height, not the cell height
  font.lfWeight = FW_NORMAL;
  font.lfUnderline = underline ? TRUE : FALSE;
  font.lfCharSet = GB2312_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  lstrcpynW(font.lfFaceName, L"宋体", LF_FACESIZE);
  return TFont(::CreateFontIndirectW(&font));
}

}  // namespace quillon
