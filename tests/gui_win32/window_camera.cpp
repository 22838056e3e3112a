// quillon-window-camera.exe TITLE BMP: waits up to 30 s for a top-level window captioned
// TITLE, draws it into the 24-bit BMP file, then asks it to close (WM_CLOSE). For the
// smoke test of quillon.exe, which must then end by itself with status 0.
//
// Exit status: 0 pictured and asked to close; 1 no such window, or the picture failed.

#include <windows.h>

#include <cstdio>

#include "bitmap_file.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: quillon-window-camera TITLE BMP\n");
    return 2;
  }
  HWND window = nullptr;
  for (int waited = 0; waited < 30000 && window == nullptr; waited += 100) {
    window = ::FindWindowW(nullptr, argv[1]);
    if (window == nullptr) ::Sleep(100);
  }
  if (window == nullptr) {
    std::fwprintf(stderr, L"no window captioned \"%ls\" appeared\n", argv[1]);
    return 1;
  }
  ::Sleep(1000);  // the first paint
  const bool saved = quillon::testing::SaveWindowPicture(window, argv[2]);
  if (!saved) std::fwprintf(stderr, L"cannot draw the window into %ls\n", argv[2]);
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  return saved ? 0 : 1;
}
