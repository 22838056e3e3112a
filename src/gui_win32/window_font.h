#pragma once
// The window's typeface: 宋体 (SimSun) at a pixel size. Asked for with the Simplified
// Chinese character set, so that a system without SimSun substitutes a font that has the
// Chinese characters instead of drawing empty boxes.

#include <windows.h>

#include <memory>
#include <type_traits>

namespace quillon {

struct TGdiObjectDeleter {
  void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};
using TFont = std::unique_ptr<std::remove_pointer_t<HFONT>, TGdiObjectDeleter>;

// pixelSize is the height of the characters, as a CSS or Qt pixel size.
TFont WindowFont(int pixelSize, bool underline = false);

}  // namespace quillon
