#pragma once
// Dialogs for window tests: every box, file dialog and menu is recorded and answered at
// once from what the test has set, so no test waits for a user.

#include <QAction>
#include <QMenu>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>
#include <vector>

#include "gui_qt/window_dialogs.h"

namespace quillon::testing {

class TFakeDialogs : public IWindowDialogs {
 public:
  struct TBox {
    QString Title;
    QString Text;
    bool ClosedAtOnce = false;
  };
  std::vector<TBox> Messages;
  std::vector<TBox> Errors;
  // Runs while a message box is "on screen", with its text.
  std::function<void(const QString& text)> OnMessage;

  std::vector<TFileDialogSettings> FileDialogs;  // the settings at each showing
  std::optional<QString> OpenAnswer;             // od: confirmed path, or a cancel
  std::optional<QString> SaveAnswer;             // sd: confirmed path, or a cancel

  QString MenuChoice;  // the object name of the entry to pick; empty picks nothing
  std::vector<QStringList> MenusShown;  // entries' names as shown, "-" for a separator
  std::vector<QStringList> MenuCaptions;
  QPoint LastMenuPosition;

  bool OpenUrlSucceeds = true;
  std::vector<QUrl> OpenedUrls;

  void Message(const QString& title, const QString& text, bool closeAtOnce) override {
    Messages.push_back({title, text, closeAtOnce});
    if (OnMessage) OnMessage(text);
  }
  std::vector<TBox> Questions;
  bool QuestionAnswer = true;
  bool Question(const QString& title, const QString& text) override {
    Questions.push_back({title, text, false});
    return QuestionAnswer;
  }
  void Error(const QString& title, const QString& text) override {
    Errors.push_back({title, text, false});
  }
  std::optional<QString> FileDialog(QWidget*, const TFileDialogSettings& settings) override {
    FileDialogs.push_back(settings);
    return settings.Kind == TFileDialogSettings::TKind::Open ? OpenAnswer : SaveAnswer;
  }
  std::optional<QString> FolderAnswer;  // the folder dialog: chosen folder, or a cancel
  int FolderDialogs = 0;
  std::optional<QString> FolderDialog(QWidget*) override {
    ++FolderDialogs;
    return FolderAnswer;
  }
  QAction* PopupMenu(QMenu& menu, const QPoint& globalPosition) override {
    LastMenuPosition = globalPosition;
    QStringList names;
    QStringList captions;
    QAction* chosen = nullptr;
    for (QAction* action : menu.actions()) {
      names << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
      captions << action->text();
      if (!action->isSeparator() && !MenuChoice.isEmpty() &&
          action->objectName() == MenuChoice) {
        chosen = action;
      }
    }
    MenusShown.push_back(names);
    MenuCaptions.push_back(captions);
    return chosen;
  }
  bool OpenUrl(const QUrl& url) override {
    OpenedUrls.push_back(url);
    return OpenUrlSucceeds;
  }
};

}  // namespace quillon::testing
