#include "gui_qt/window_dialogs.h"

#include "gui_qt/desktop_user.h"
#include "gui_qt/folder_dialog.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <QUrl>

namespace quillon {
namespace {

void ExecBox(QMessageBox::Icon icon, const QString& title, const QString& text,
             bool closeAtOnce) {
  // No parent: the box is centred on the screen and blocks the whole program.
  QMessageBox box(icon, title, text, QMessageBox::Ok);
  // Texts hold paths and system messages, never markup.
  box.setTextFormat(Qt::PlainText);
  if (closeAtOnce) QTimer::singleShot(0, &box, &QMessageBox::accept);
  box.exec();
}

}  // namespace

void TQtWindowDialogs::Message(const QString& title, const QString& text, bool closeAtOnce) {
  ExecBox(QMessageBox::NoIcon, title, text, closeAtOnce);
}

void TQtWindowDialogs::Error(const QString& title, const QString& text) {
  ExecBox(QMessageBox::Critical, title, text, false);
}

bool TQtWindowDialogs::Question(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

std::optional<QString> TQtWindowDialogs::FileDialog(QWidget* parent,
                                                    const TFileDialogSettings& settings) {
  const bool save = settings.Kind == TFileDialogSettings::TKind::Save;
  QFileDialog dialog(parent);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!settings.Filter.isEmpty()) dialog.setNameFilter(settings.Filter);
  dialog.setDefaultSuffix(settings.DefaultExtension);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !settings.ConfirmOverwrite);
  if (!lastDirectory_.isEmpty()) dialog.setDirectory(lastDirectory_);
  if (!settings.FileName.isEmpty()) dialog.selectFile(settings.FileName);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  const QFileInfo file(chosen.first());
  lastDirectory_ = file.absolutePath();
  return QDir::toNativeSeparators(file.absoluteFilePath());
}

std::optional<QString> TQtWindowDialogs::FolderDialog(QWidget* parent) {
  TNewFolderDialog dialog(parent);
  if (!lastDirectory_.isEmpty()) dialog.setDirectory(lastDirectory_);
  if (dialog.exec() != QDialog::Accepted || dialog.ChosenFolder().isEmpty()) return std::nullopt;
  return dialog.ChosenFolder();
}

QAction* TQtWindowDialogs::PopupMenu(QMenu& menu, const QPoint& globalPosition) {
  return menu.exec(globalPosition);
}

bool TQtWindowDialogs::OpenUrl(const QUrl& url) {
  const TProcessFacts facts = ThisProcessFacts();
  if (!facts.Root) return QDesktopServices::openUrl(url);
  // A browser started as root refuses to run, and says so nowhere the person sees: open
  // the page as the person who started the program, or report a failure so that the
  // window tells them to open it themselves.
  const std::optional<TCommand> command = OpenAsDesktopUserCommand(url, facts);
  return command && QProcess::startDetached(command->Program, command->Arguments);
}

}  // namespace quillon
