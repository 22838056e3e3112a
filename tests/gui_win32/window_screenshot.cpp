// Draws the window for the documentation (scripts/screenshot-windows.sh):
//   quillon-window-screenshot IMAGE OUTPUT BMP
// BMP: the window after a finished scan, started from the toolbar with the source menu and
// the dialogs answered by IMAGE and OUTPUT (Windows paths).

#include <windows.h>

#include <cstdio>
#include <memory>

#include "bitmap_file.h"
#include "fake_dialogs.h"
#include "gui_win32/control_ids.h"
#include "gui_win32/main_window.h"
#include "gui_win32/wide_text.h"
#include "storage/file_system.h"
#include "support/fake_device_queries.h"

namespace {

void Pump() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using namespace quillon;
  if (argc != 4) {
    std::fwprintf(stderr, L"usage: quillon-window-screenshot IMAGE OUTPUT BMP\n");
    return 2;
  }
  PrepareWindowControls();
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  testing::TFakeDialogs dialogs;
  dialogs.MenuChoice = "Openimage";
  dialogs.OpenAnswer = argv[1];
  dialogs.SaveAnswer = argv[2];
  testing::TFakeDeviceQueries devices;
  TMainWindow window(*fileSystem, devices, dialogs);
  window.ShowCentred();
  Pump();
  for (const int command : {control_ids::kRecBtn, control_ids::kSaveBtn, control_ids::kButton2}) {
    ::SendMessageW(window.Handle(), WM_COMMAND, command, 0);
    Pump();
  }
  if (!dialogs.Errors.empty()) {
    std::fprintf(stderr, "%s\n", Utf8FromWide(dialogs.Errors.front().Text).c_str());
    return 1;
  }
  ::SetForegroundWindow(window.Handle());
  for (int i = 0; i < 10; ++i) {
    Pump();
    ::Sleep(100);
  }
  if (!testing::SaveWindowPicture(window.Handle(), argv[3])) {
    std::fwprintf(stderr, L"cannot write %ls\n", argv[3]);
    return 1;
  }
  return 0;
}
