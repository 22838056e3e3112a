// Not a test: times a scan in the real window, for scripts/bench-window-scan.sh.
//   quillon-window-scan-timer IMAGE OUTPUT
// Shows the window, chooses IMAGE and OUTPUT from the toolbar with the dialogs answered,
// starts the scan with the start button and prints one line:
// "window <seconds> s <fragments> fragments <bytes> bytes". OUTPUT is replaced.

#include <QAbstractButton>
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <memory>

#include "fake_dialogs.h"
#include "gui_qt/main_window.h"
#include "gui_qt/window_font.h"
#include "storage/file_system.h"
#include "support/fake_device_queries.h"

int main(int argc, char** argv) {
  using namespace quillon;
  QApplication application(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s IMAGE OUTPUT\n", argv[0]);
    return 2;
  }
  QApplication::setFont(WindowFont(12));
  std::remove(argv[2]);
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  testing::TFakeDialogs dialogs;
  dialogs.MenuChoice = QStringLiteral("Openimage");
  dialogs.OpenAnswer = QString::fromLocal8Bit(argv[1]);
  dialogs.SaveAnswer = QString::fromLocal8Bit(argv[2]);
  testing::TFakeDeviceQueries devices;
  TMainWindow window(*fileSystem, devices, dialogs);
  window.ShowCentred();
  QApplication::processEvents();
  for (const char* name : {"RecBtn", "SaveBtn"}) {
    window.findChild<QAbstractButton*>(QString::fromLatin1(name))->click();
    QApplication::processEvents();
  }
  const auto start = std::chrono::steady_clock::now();
  window.findChild<QAbstractButton*>(QStringLiteral("button2"))->click();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const TScanReport& scan = window.Main().LastScan();
  if (scan.End != TScanEnd::Completed || !dialogs.Errors.empty()) {
    std::fprintf(stderr, "the scan did not complete%s%s\n", dialogs.Errors.empty() ? "" : ": ",
                 dialogs.Errors.empty() ? "" : dialogs.Errors.back().Text.toLocal8Bit().constData());
    return 1;
  }
  std::printf("window %.2f s %lld fragments %lld bytes\n", seconds,
              static_cast<long long>(scan.Fragments), static_cast<long long>(scan.BytesScanned));
  return 0;
}
