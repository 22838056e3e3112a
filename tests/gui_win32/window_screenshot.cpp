// Draws the window for the documentation (scripts/screenshot-windows.sh):
//   quillon-window-screenshot [--lang zh|en] IMAGE OUTPUT SCAN_BMP MENU_BMP [FOLDER RECOVER_BMP]
// --lang: the window's language, Chinese without it.
// SCAN_BMP: the window after a finished scan, started from the toolbar with the source menu
// and the dialogs answered by IMAGE and OUTPUT (Windows paths). MENU_BMP: the window with
// the real source menu open, on a made-up machine with three volumes and two drives.
// RECOVER_BMP: a second window after the recover command has recovered IMAGE into FOLDER.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>

#include "bitmap_file.h"
#include "fake_dialogs.h"
#include "gui_win32/control_ids.h"
#include "gui_win32/main_window.h"
#include "gui_win32/wide_text.h"
#include "storage/file_system.h"
#include "support/fake_device_queries.h"

namespace {

using namespace quillon;

// Opens the real menu, pictures the window with it, and closes it without a choice.
class TMenuCamera : public testing::TFakeDialogs {
 public:
  bool Capture = false;
  std::wstring Picture;
  bool Saved = false;

  UINT PopupMenu(const TPopupMenu& menu, HWND owner, const RECT& button) override {
    if (!Capture) return TFakeDialogs::PopupMenu(menu, owner, button);
    owner_ = owner;
    // The timer's number carries this object to the callback.
    ::SetTimer(owner, reinterpret_cast<UINT_PTR>(this), 500, &TMenuCamera::Shoot);
    TWin32WindowDialogs real;
    real.PopupMenu(menu, owner, button);
    return 0;
  }

 private:
  static void CALLBACK Shoot(HWND owner, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(owner, id);
    auto* self = reinterpret_cast<TMenuCamera*>(id);
    self->Saved = testing::SaveWindowPicture(self->owner_, self->Picture);
    ::EndMenu();
  }

  HWND owner_ = nullptr;
};

void MakeUpMachine(testing::TFakeDeviceQueries& devices) {
  constexpr std::int64_t kGiB = std::int64_t{1} << 30;
  auto volume = [](const char* label, const char* fileSystem, double freeGiB, double totalGiB,
                   std::uint32_t disk, int type) {
    testing::TFakeVolume v;
    v.Information = TVolumeInformation{label, 0x5A3C19E2, fileSystem};
    v.Space = TDiskFreeSpace{static_cast<std::int64_t>(freeGiB * kGiB),
                             static_cast<std::int64_t>(totalGiB * kGiB)};
    v.DriveType = type;
    v.Extent = TDiskExtent{disk, 1048576, static_cast<std::int64_t>(totalGiB * kGiB)};
    return v;
  };
  devices.Volumes['C'] = volume("System", "NTFS", 20.55, 99.90, 0, DriveFixed);
  devices.Volumes['D'] = volume("Data", "NTFS", 151.20, 365.86, 0, DriveFixed);
  devices.Volumes['E'] = volume("CARD", "FAT32", 1.02, 3.74, 1, DriveRemovable);
  testing::TFakeDrive fixed;
  fixed.Geometry = TDiskGeometry{60801, 255, 63, 512};
  fixed.GeometryEx = TDiskGeometryEx{kFixedMedia, 0};
  testing::TFakeDrive card;
  card.Geometry = TDiskGeometry{488, 255, 63, 512};
  card.GeometryEx = TDiskGeometryEx{kRemovableMedia, 0};
  devices.Drives[0] = fixed;
  devices.Drives[1] = card;
}

void Pump() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  TLanguage language = TLanguage::Chinese;
  if (argc > 2 && std::wcscmp(argv[1], L"--lang") == 0) {
    if (std::wcscmp(argv[2], L"zh") != 0 && std::wcscmp(argv[2], L"en") != 0) {
      std::fwprintf(stderr, L"--lang takes zh or en\n");
      return 2;
    }
    if (std::wcscmp(argv[2], L"en") == 0) language = TLanguage::English;
    argv[2] = argv[0];
    argv += 2;
    argc -= 2;
  }
  if (argc != 5 && argc != 7) {
    std::fwprintf(stderr, L"usage: quillon-window-screenshot [--lang zh|en] IMAGE OUTPUT "
                          L"SCAN_BMP MENU_BMP [FOLDER RECOVER_BMP]\n");
    return 2;
  }
  PrepareWindowControls();
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  TMenuCamera dialogs;
  dialogs.MenuChoice = "Openimage";
  dialogs.OpenAnswer = argv[1];
  dialogs.SaveAnswer = argv[2];
  testing::TFakeDeviceQueries devices;
  TMainWindow window(*fileSystem, devices, dialogs, language);
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

  MakeUpMachine(devices);
  dialogs.Capture = true;
  dialogs.Picture = argv[4];
  ::SendMessageW(window.Handle(), WM_COMMAND, control_ids::kRecBtn, 0);
  if (!dialogs.Saved) {
    std::fwprintf(stderr, L"cannot write %ls\n", argv[4]);
    return 1;
  }
  if (argc == 5) return 0;

  testing::TFakeDialogs recoveryDialogs;
  recoveryDialogs.MenuChoice = "Openimage";
  recoveryDialogs.OpenAnswer = argv[1];
  recoveryDialogs.FolderAnswer = argv[5];
  testing::TFakeDeviceQueries noDevices;
  TMainWindow recovering(*fileSystem, noDevices, recoveryDialogs, language);
  recovering.ShowCentred();
  Pump();
  for (const int command : {control_ids::kRecBtn, control_ids::kRecoverBtn}) {
    ::SendMessageW(recovering.Handle(), WM_COMMAND, command, 0);
    Pump();
  }
  if (!recoveryDialogs.Errors.empty()) {
    std::fprintf(stderr, "%s\n", Utf8FromWide(recoveryDialogs.Errors.front().Text).c_str());
    return 1;
  }
  ::SetForegroundWindow(recovering.Handle());
  for (int i = 0; i < 10; ++i) {
    Pump();
    ::Sleep(100);
  }
  if (!testing::SaveWindowPicture(recovering.Handle(), argv[6])) {
    std::fwprintf(stderr, L"cannot write %ls\n", argv[6]);
    return 1;
  }
  return 0;
}
