#pragma once
// Everything in the window that waits for the user or hands work to the desktop: message
// boxes, the file dialogs, the source menu and the link handler. Tests answer in its place.

#include <QString>
#include <optional>

class QAction;
class QMenu;
class QPoint;
class QUrl;
class QWidget;

namespace quillon {

// What the commands set on od and sd before showing them.
struct TFileDialogSettings {
  enum class TKind { Open, Save };
  TKind Kind = TKind::Open;
  QString Filter;            // empty: all files are listed
  QString DefaultExtension;  // empty: nothing is appended to a typed name
  QString FileName;          // pre-filled; empty: none
  bool ConfirmOverwrite = false;
};

class IWindowDialogs {
 public:
  virtual ~IWindowDialogs() = default;

  // A modal box centred on the screen: the title, the text and OK, no icon. With
  // closeAtOnce the box closes by itself as soon as it is shown.
  virtual void Message(const QString& title, const QString& text, bool closeAtOnce) = 0;
  // The default error display: like Message, with an error icon.
  virtual void Error(const QString& title, const QString& text) = 0;
  // A modal question with Yes and No, No as the default; true for Yes.
  virtual bool Question(const QString& title, const QString& text) = 0;
  // Returns the full path of the confirmed file, or nothing when cancelled.
  virtual std::optional<QString> FileDialog(QWidget* parent,
                                            const TFileDialogSettings& settings) = 0;
  // A folder dialog: the chosen folder's full path, one that does not exist yet too (typed
  // or made in the dialog), or nothing when cancelled.
  virtual std::optional<QString> FolderDialog(QWidget* parent) = 0;
  // Opens menu at a global position and waits. Returns the chosen action or nullptr.
  virtual QAction* PopupMenu(QMenu& menu, const QPoint& globalPosition) = 0;
  // Hands url to the desktop's default handler without waiting; as root, as the person who
  // started the program (desktop_user.h). Returns false on failure, or as root where no
  // such person is known.
  virtual bool OpenUrl(const QUrl& url) = 0;
};

// The real dialogs of the desktop.
class TQtWindowDialogs : public IWindowDialogs {
 public:
  void Message(const QString& title, const QString& text, bool closeAtOnce) override;
  void Error(const QString& title, const QString& text) override;
  bool Question(const QString& title, const QString& text) override;
  std::optional<QString> FileDialog(QWidget* parent,
                                    const TFileDialogSettings& settings) override;
  std::optional<QString> FolderDialog(QWidget* parent) override;
  QAction* PopupMenu(QMenu& menu, const QPoint& globalPosition) override;
  bool OpenUrl(const QUrl& url) override;

 private:
  QString lastDirectory_;  // the file dialogs open where the user last chose a file
};

}  // namespace quillon
