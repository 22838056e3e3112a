#pragma once
// A window's picture as a 24-bit BMP file, for the smoke test and the documentation.

#include <windows.h>

#include <string>

namespace quillon::testing {

// Copies window (frame included) from the screen, where it must be in front and painted,
// and writes it to path. Returns false when the picture or the file cannot be made.
bool SaveWindowPicture(HWND window, const std::wstring& path);

}  // namespace quillon::testing
