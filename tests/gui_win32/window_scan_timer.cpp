// Not a test: times a scan in the real window, for scripts/bench-window-scan.sh.
//   quillon-window-scan-timer IMAGE OUTPUT
// Shows the window, chooses IMAGE and OUTPUT (Windows paths) from the toolbar with the
// dialogs answered, starts the scan with the start button and prints one line:
// "window <seconds> s <fragments> fragments <bytes> bytes (...)", with the time spent in the
// message pump, the status text and the gauge. OUTPUT is replaced.

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "fake_dialogs.h"
#include "gui_win32/control_ids.h"
#include "gui_win32/main_window.h"
#include "gui_win32/toolbar.h"
#include "storage/file_system.h"
#include "support/fake_device_queries.h"

namespace {

using namespace quillon;

void Pump() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

// The window with the time spent in its view calls added up.
class TTimedWindow : public TMainWindow {
 public:
  using TMainWindow::TMainWindow;
  using TClock = std::chrono::steady_clock;
  double PumpSeconds = 0, StatusSeconds = 0, GaugeSeconds = 0;

  void ProcessPendingMessages() override {
    const auto start = TClock::now();
    TMainWindow::ProcessPendingMessages();
    PumpSeconds += std::chrono::duration<double>(TClock::now() - start).count();
  }
  void SetStatusText(const std::string& text) override {
    const auto start = TClock::now();
    TMainWindow::SetStatusText(text);
    StatusSeconds += std::chrono::duration<double>(TClock::now() - start).count();
  }
  void ShowGauge(const TGauge& gauge) override {
    const auto start = TClock::now();
    TMainWindow::ShowGauge(gauge);
    GaugeSeconds += std::chrono::duration<double>(TClock::now() - start).count();
  }
};

// The time the status bar spends on its new texts (the repaint each one starts).
double statusBarSeconds = 0;
LRESULT CALLBACK TimeStatusBar(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR) {
  if (message != SB_SETTEXTW) return ::DefSubclassProc(window, message, wParam, lParam);
  const auto start = std::chrono::steady_clock::now();
  const LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
  statusBarSeconds +=
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

void Click(HWND window, HWND toolbar, int command) {
  ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                 reinterpret_cast<LPARAM>(toolbar));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: quillon-window-scan-timer IMAGE OUTPUT\n");
    return 2;
  }
  PrepareWindowControls();
  ::DeleteFileW(argv[2]);
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  testing::TFakeDeviceQueries devices;
  testing::TFakeDialogs dialogs;
  TTimedWindow window(*fileSystem, devices, dialogs);
  window.ShowCentred();
  Pump();
  const HWND toolbar = window.Toolbar().Handle();
  dialogs.MenuChoice = "Openimage";
  dialogs.OpenAnswer = argv[1];
  Click(window.Handle(), toolbar, control_ids::kRecBtn);
  dialogs.SaveAnswer = argv[2];
  Click(window.Handle(), toolbar, control_ids::kSaveBtn);
  if (!dialogs.Errors.empty()) {
    std::fwprintf(stderr, L"%ls\n", dialogs.Errors.back().Text.c_str());
    return 1;
  }

  ::SetWindowSubclass(window.Control(control_ids::kRzStatusBar1), TimeStatusBar, 1, 0);
  const auto start = std::chrono::steady_clock::now();
  Click(window.Handle(), toolbar, control_ids::kButton2);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Pump();
  const TScanReport& scan = window.Main().LastScan();
  if (scan.End != TScanEnd::Completed || !dialogs.Errors.empty()) {
    std::fwprintf(stderr, L"the scan did not complete%ls\n",
                  dialogs.Errors.empty() ? L"" : (L": " + dialogs.Errors.back().Text).c_str());
    return 1;
  }
  std::printf("window %.2f s %lld fragments %lld bytes (pump %.2f s, status text %.2f s, "
              "gauge %.2f s, status bar %.2f s)\n",
              seconds, static_cast<long long>(scan.Fragments),
              static_cast<long long>(scan.BytesScanned), window.PumpSeconds, window.StatusSeconds,
              window.GaugeSeconds, statusBarSeconds);
  return 0;
}
