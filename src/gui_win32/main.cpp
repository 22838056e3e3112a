// quillon.exe: the desktop window for Windows. It takes no command-line arguments.
//
// Exit status: 0 when the window was closed, also when a close request waited for a
// running scan to finish its file, and when the session ended during a scan (which then
// stops at its next chunk and finishes its file first); 1 when the window could not be
// made (a box says why).

#include <windows.h>
#include <objbase.h>

#include <exception>
#include <memory>

#include "gui_win32/main_window.h"
#include "gui_win32/wide_text.h"
#include "storage/device_queries.h"
#include "storage/file_system.h"
#include "storage/library_search.h"
#include "storage/system_error_mode.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
  using namespace quillon;
  // An empty card reader or CD drive must not raise the system's "no disk" box while the
  // volumes are listed: the failure comes back as an error code instead.
  LoadLibrariesFromSystemFolderOnly();
  SuppressSystemErrorBoxes();
  // The file dialogs and the link handler run shell code that wants COM on this thread.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  PrepareWindowControls();

  int status = 0;
  try {
    const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
    const std::unique_ptr<IDeviceQueries> devices = MakePlatformDeviceQueries();
    TWin32WindowDialogs dialogs;
    TMainWindow window(*fileSystem, *devices, dialogs);
    window.ShowCentred(showCommand);
    MSG message;
    BOOL got;
    while ((got = ::GetMessageW(&message, nullptr, 0, 0)) != 0 && got != -1) {
      window.Dispatch(message);
    }
    status = got == 0 ? static_cast<int>(message.wParam) : 1;
  } catch (const std::exception& error) {
    ::MessageBoxW(nullptr, WideFromUtf8(error.what()).c_str(), L"Quillon", MB_OK | MB_ICONERROR);
    status = 1;
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return status;
}
