#include "gui_qt/folder_dialog.h"

#include <QDir>
#include <QFileInfo>

namespace quillon {

TNewFolderDialog::TNewFolderDialog(QWidget* parent) : QFileDialog(parent) {
  setFileMode(QFileDialog::Directory);
  setAcceptMode(QFileDialog::AcceptOpen);
  // The desktop's own dialog would not come back through accept() below. Qt's keeps the
  // "Create New Folder" button as well as the typed name.
  setOption(QFileDialog::DontUseNativeDialog, true);
  setOption(QFileDialog::ShowDirsOnly, true);
}

void TNewFolderDialog::accept() {
  const QStringList files = selectedFiles();
  if (files.size() == 1 && !files.first().isEmpty()) {
    const QFileInfo info(files.first());
    if (!info.exists()) {
      chosen_ = QDir::toNativeSeparators(info.absoluteFilePath());
      QDialog::accept();
      return;
    }
    if (info.isDir()) chosen_ = QDir::toNativeSeparators(info.absoluteFilePath());
  }
  QFileDialog::accept();
}

}  // namespace quillon
