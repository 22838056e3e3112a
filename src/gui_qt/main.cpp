// quillon: the desktop window. Its arguments of its own are --version and --help, answered
// on standard output before Qt starts, so without a display too, and --lang zh|en, the
// language of the window (without it the locale's: LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
// Qt's own (-platform, -style ...) are left to Qt.
//
// Exit status: 0 when the window was closed, also when a close request waited for a
// running scan to finish its file; the same after SIGTERM, SIGINT or SIGHUP, which stop
// a running scan at its next chunk and let it finish its file first.

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <optional>

#include "app/branding.h"
#include "app/language.h"
#include "gui_qt/main_window.h"
#include "gui_qt/qt_translations.h"
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
  std::optional<TLanguage> chosenLanguage;
  for (int i = 1; i < argc; ++i) {
    const bool separate = std::strcmp(argv[i], "--lang") == 0;
    if (separate || std::strncmp(argv[i], "--lang=", 7) == 0) {
      const char* name = separate ? (i + 1 < argc ? argv[++i] : "") : argv[i] + 7;
      chosenLanguage = LanguageNamed(name);
      if (!chosenLanguage) {
        std::fprintf(stderr, "quillon: --lang takes zh or en, not \"%s\"\n", name);
        return 1;
      }
      continue;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("quillon %s\n", branding::kVersion);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("Usage: quillon [--lang zh|en] [--version] [--help]\n"
                  "Opens the window that scans a disk, a volume or a disk image for the pages of\n"
                  "lost Access (Jet 4) databases. Reading a whole disk needs administrator rights:\n"
                  "the desktop entry starts it through pkexec. quillon-cli does the same from a\n"
                  "terminal (see man quillon-cli).\n\n"
                  "--lang zh|en  the window's language; without it Chinese when the locale\n"
                  "              (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) is Chinese, else English\n\n"
                  "Exit status: 0 when the window was closed; 1 when it could not start.\n");
      return 0;
    }
  }
  const TLanguage language = chosenLanguage.value_or(SystemLanguage());
  QApplication application(argc, argv);
  QApplication::setFont(WindowFont(12));
  // Without Qt's translations its dialogs stay English; the window itself still speaks
  // Chinese, so the program goes on.
  TQtTranslations qtTexts;
  qtTexts.Install(language);

  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  TQtWindowDialogs dialogs;
  const std::unique_ptr<IDeviceQueries> devices = MakePlatformDeviceQueries();
  TMainWindow window(*fileSystem, *devices, dialogs, language);
  TTerminationSignals terminationSignals;
  QObject::connect(&terminationSignals, &TTerminationSignals::Requested, &window,
                   &TMainWindow::RequestTermination);
  window.ShowCentred();
  return QApplication::exec();
}
