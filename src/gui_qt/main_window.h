#pragma once
// The desktop window around TMain: it draws the controls, hands every click to TMain and
// shows what TMain reports. It holds no program logic of its own.

#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "app/main_form.h"
#include "app/main_view.h"
#include "gui_qt/window_dialogs.h"

class QFrame;
class QLabel;
class QMenu;
class QTextEdit;
class QTimer;
class QToolButton;

namespace quillon {

class TDropDownToolButton;
class TGaugeWidget;
class TUrlLabel;

class TMainWindow : public QWidget, public IMainView {
  Q_OBJECT

 public:
  // language: of every text the window shows, for the whole session.
  TMainWindow(IFileSystem& fileSystem, IDeviceQueries& devices, IWindowDialogs& dialogs,
              TLanguage language = TLanguage::Chinese, QWidget* parent = nullptr);

  TMain& Main() { return main_; }

  // Shows the window centred on the screen it is on.
  void ShowCentred();

  // A request to end the program from outside the window (a termination signal): a
  // running scan stops at its next chunk and finishes its file, then the program ends.
  void RequestTermination();

  // IMainView
  void AppendLogLine(const std::string& line) override;
  // Kept; SegLabel takes the latest text at the message pump once the status timer has run
  // out, at most ten times a second, at the end of every command and before a box opens.
  void SetStatusText(const std::string& text) override;
  void ShowGauge(const TGauge& gauge) override;
  void ShowMessage(const std::string& text) override;
  void ProcessPendingMessages() override;
  void SetStartEnabled(bool enabled) override;
  void SetRecoverEnabled(bool enabled) override;
  std::optional<std::string> ShowFolderDialog() override;
  bool OpenDocument(const std::string& path) override;
  bool AskYesNo(const std::string& text) override;
  void ShowSelfClosingMessage(const std::string& text) override;
  void ClearSourceMenu() override;
  void AddSourceMenuEntry(const std::string& name, const std::string& caption,
                          int imageIndex) override;
  void AddSourceMenuSeparator() override;
  std::optional<std::string> ShowSourceMenu() override;
  void ClearOpenDialog() override;
  std::optional<std::string> ShowOpenDialog() override;
  std::optional<std::string> ShowSaveDialog(const std::string& fileName) override;

  // How many times SegLabel has taken a new text since the window was made.
  int StatusTextShows() const { return statusTextShows_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildToolbar();
  void BuildPanel();
  void BuildStatusBar();
  // Runs a command; a failure escaping it goes to the default error display and the
  // window goes on as before.
  void RunCommand(const std::function<void()>& command);
  // Runs a toolbar command, then closes the window where a close request waits for it.
  void CommandClicked(window::TCommand command);
  QString TitleText() const;
  // SegLabel takes the text last set, if it differs from what it shows.
  void ShowStatusText();

  IWindowDialogs& dialogs_;
  TMain main_;

  QFrame* RzToolbar1 = nullptr;
  TDropDownToolButton* RecBtn = nullptr;
  QToolButton* SaveBtn = nullptr;
  QToolButton* button2 = nullptr;
  QToolButton* Button1 = nullptr;
  QToolButton* RecoverBtn = nullptr;
  QFrame* RzPanel1 = nullptr;
  QLabel* Label1 = nullptr;
  TUrlLabel* RzURLLabel1 = nullptr;
  TUrlLabel* RzURLLabel2 = nullptr;
  TUrlLabel* RzURLLabel3 = nullptr;
  QTextEdit* memo2 = nullptr;
  QFrame* RzStatusBar1 = nullptr;
  QLabel* SegLabel = nullptr;
  TGaugeWidget* gg = nullptr;
  QMenu* pop = nullptr;
  TFileDialogSettings od;
  TFileDialogSettings sd;

  // A scan sets the status text for every fragment, tens of thousands of times a second on
  // dense data, and each new text of a label lays out and repaints the status bar: the
  // text is kept here and shown when statusTimer_ (single-shot, never more than one
  // pending) runs out.
  std::string statusText_;
  std::string shownStatusText_;
  QTimer* statusTimer_ = nullptr;
  int statusTextShows_ = 0;
};

}  // namespace quillon
