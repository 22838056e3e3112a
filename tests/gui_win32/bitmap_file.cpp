#include "bitmap_file.h"

#include <cstdint>
#include <fstream>
#include <vector>

namespace quillon::testing {

bool SaveWindowPicture(HWND window, const std::wstring& path) {
  RECT frame;
  if (!::GetWindowRect(window, &frame)) return false;
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int stride = (width * 3 + 3) / 4 * 4;  // BMP rows are DWORD aligned

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP picture = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (picture == nullptr) return false;
  // Copied from the screen: a window of another process cannot draw into this one's
  // device context (PrintWindow), and what the user sees is what is wanted.
  const HDC screen = ::GetDC(nullptr);
  const HDC dc = ::CreateCompatibleDC(screen);
  const HGDIOBJ old = ::SelectObject(dc, picture);
  const bool drawn =
      ::BitBlt(dc, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY) != FALSE;
  ::GdiFlush();
  ::ReleaseDC(nullptr, screen);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);

  bool written = false;
  if (drawn) {
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(stride) * height;
    std::ofstream out(path.c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(stride) * height);
    written = static_cast<bool>(out);
  }
  ::DeleteObject(picture);
  return written;
}

}  // namespace quillon::testing
