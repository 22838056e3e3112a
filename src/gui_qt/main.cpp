// quillon: the desktop window. It takes no command-line arguments of its own.
//
// Exit status: 0 when the window was closed, also when a close request waited for a
// running scan to finish its file; the same after SIGTERM, SIGINT or SIGHUP, which stop
// a running scan at its next chunk and let it finish its file first.

#include <QApplication>

#include "gui_qt/main_window.h"
#include "gui_qt/termination_signals.h"
#include "gui_qt/window_dialogs.h"
#include "gui_qt/window_font.h"
#include "storage/device_queries.h"
#include "storage/file_system.h"
#include "storage/standard_streams.h"

int main(int argc, char** argv) {
  using namespace quillon;
  // Before anything opens a file: a closed standard stream's number would go to the next
  // file opened, and Qt's warnings into it.
  if (!OpenClosedStandardStreams()) return 1;
  KeepRunningOnBrokenPipes();
  QApplication application(argc, argv);
  QApplication::setFont(WindowFont(12));

  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  TQtWindowDialogs dialogs;
  const std::unique_ptr<IDeviceQueries> devices = MakePlatformDeviceQueries();
  TMainWindow window(*fileSystem, *devices, dialogs);
  TTerminationSignals terminationSignals;
  QObject::connect(&terminationSignals, &TTerminationSignals::Requested, &window,
                   &TMainWindow::RequestTermination);
  window.ShowCentred();
  return QApplication::exec();
}
