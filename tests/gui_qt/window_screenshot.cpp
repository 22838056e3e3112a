// Draws the window after a finished scan into a PNG, for the documentation:
//   quillon-window-screenshot IMAGE OUTPUT PNG
// The scan is started from the toolbar; the dialogs are answered with IMAGE and OUTPUT.

#include <QAbstractButton>
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "fake_dialogs.h"
#include "gui_qt/main_window.h"
#include "support/fake_device_queries.h"
#include "gui_qt/window_font.h"
#include "storage/file_system.h"

int main(int argc, char** argv) {
  using namespace quillon;
  QApplication application(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s IMAGE OUTPUT PNG\n", argv[0]);
    return 2;
  }
  QApplication::setFont(WindowFont(12));
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  testing::TFakeDialogs dialogs;
  dialogs.MenuChoice = QStringLiteral("Openimage");
  dialogs.OpenAnswer = QString::fromLocal8Bit(argv[1]);
  dialogs.SaveAnswer = QString::fromLocal8Bit(argv[2]);

  testing::TFakeDeviceQueries devices;
  TMainWindow window(*fileSystem, devices, dialogs);
  window.ShowCentred();
  QApplication::processEvents();
  for (const char* name : {"RecBtn", "SaveBtn", "button2"}) {
    window.findChild<QAbstractButton*>(QString::fromLatin1(name))->click();
    QApplication::processEvents();
  }
  if (!dialogs.Errors.empty()) {
    std::fprintf(stderr, "%s\n", dialogs.Errors.front().Text.toLocal8Bit().constData());
    return 1;
  }
  QApplication::processEvents();
  if (!window.grab().save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
