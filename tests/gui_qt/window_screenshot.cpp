// Draws the window for the documentation (scripts/screenshot.sh):
//   quillon-window-screenshot [--lang zh|en] IMAGE OUTPUT SCAN_PNG MENU_PNG [FOLDER RECOVER_PNG]
// --lang: the window's language, Chinese without it.
// SCAN_PNG: the window after a finished scan, started from the toolbar with the dialogs
// answered by IMAGE and OUTPUT. MENU_PNG: the window with the source menu open, on a
// made-up machine with three volumes and two physical drives. RECOVER_PNG: a window after
// the recover command has recovered IMAGE into FOLDER (new or empty).

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <cstdio>
#include <cstring>

#include "fake_dialogs.h"
#include "gui_qt/main_window.h"
#include "gui_qt/window_font.h"
#include "storage/file_system.h"
#include "support/fake_device_queries.h"

namespace {

using namespace quillon;

// Keeps a picture of the menu instead of waiting for a choice.
class TMenuCamera : public testing::TFakeDialogs {
 public:
  QAction* PopupMenu(QMenu& menu, const QPoint& globalPosition) override {
    QAction* chosen = TFakeDialogs::PopupMenu(menu, globalPosition);
    if (Capture) {
      menu.adjustSize();
      Picture = menu.grab();
      Position = globalPosition;
    }
    return chosen;
  }
  bool Capture = false;
  QPixmap Picture;
  QPoint Position;
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

bool Save(const QPixmap& picture, const char* path) {
  if (picture.save(QString::fromLocal8Bit(path), "PNG")) return true;
  std::fprintf(stderr, "cannot write %s\n", path);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  TLanguage language = TLanguage::Chinese;
  if (argc > 2 && std::strcmp(argv[1], "--lang") == 0) {
    const std::optional<TLanguage> named = LanguageNamed(argv[2]);
    if (!named) {
      std::fprintf(stderr, "--lang takes zh or en\n");
      return 2;
    }
    language = *named;
    argv[2] = argv[0];
    argv += 2;
    argc -= 2;
  }
  if (argc != 5 && argc != 7) {
    std::fprintf(stderr,
                 "usage: %s [--lang zh|en] IMAGE OUTPUT SCAN_PNG MENU_PNG [FOLDER RECOVER_PNG]\n",
                 argv[0]);
    return 2;
  }
  QApplication::setFont(WindowFont(12));
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  TMenuCamera dialogs;
  dialogs.MenuChoice = QStringLiteral("Openimage");
  dialogs.OpenAnswer = QString::fromLocal8Bit(argv[1]);
  dialogs.SaveAnswer = QString::fromLocal8Bit(argv[2]);

  testing::TFakeDeviceQueries devices;
  TMainWindow window(*fileSystem, devices, dialogs, language);
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
  if (!Save(window.grab(), argv[3])) return 1;

  MakeUpMachine(devices);
  dialogs.MenuChoice.clear();
  dialogs.Capture = true;
  window.findChild<QAbstractButton*>(QStringLiteral("RecBtn"))->click();
  QApplication::processEvents();
  QPixmap shot = window.grab();
  QPainter painter(&shot);
  painter.drawPixmap(window.mapFromGlobal(dialogs.Position), dialogs.Picture);
  painter.end();
  if (!Save(shot, argv[4])) return 1;
  if (argc == 5) return 0;

  // A fresh window: the source chosen, then the recover command into FOLDER.
  TMenuCamera recoveryDialogs;
  recoveryDialogs.MenuChoice = QStringLiteral("Openimage");
  recoveryDialogs.OpenAnswer = QString::fromLocal8Bit(argv[1]);
  recoveryDialogs.FolderAnswer = QString::fromLocal8Bit(argv[5]);
  testing::TFakeDeviceQueries noDevices;
  TMainWindow recovering(*fileSystem, noDevices, recoveryDialogs, language);
  recovering.ShowCentred();
  QApplication::processEvents();
  for (const char* name : {"RecBtn", "RecoverBtn"}) {
    recovering.findChild<QAbstractButton*>(QString::fromLatin1(name))->click();
    QApplication::processEvents();
  }
  if (!recoveryDialogs.Errors.empty()) {
    std::fprintf(stderr, "%s\n", recoveryDialogs.Errors.front().Text.toLocal8Bit().constData());
    return 1;
  }
  QApplication::processEvents();
  return Save(recovering.grab(), argv[6]) ? 0 : 1;
}
