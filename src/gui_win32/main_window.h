#pragma once
// The native Windows window around TMain: it draws the controls, hands every click to
// TMain and shows what TMain reports. It holds no program logic of its own.

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/main_form.h"
#include "app/main_view.h"
#include "gui_win32/popup_menu.h"
#include "gui_win32/window_base.h"
#include "gui_win32/window_dialogs.h"
#include "gui_win32/window_font.h"

namespace quillon {

class TGaugeControl;
class TToolbar;
class TUrlLabel;

// Loads what the window's controls need: the common controls and the rich edit control.
// Runs once, before the first window is made.
void PrepareWindowControls();

// The icon resource of both programs (ICON 1 in their .rc files): Explorer shows the first.
inline constexpr int kProgramIconId = 1;
// The program's icon, shared; nullptr in a program without it.
HICON ProgramIcon();

// Loads the DLL name from the system folder, and from nowhere else; nullptr where it is not.
HMODULE LoadSystemLibrary(const wchar_t* name);

class TMainWindow : public TWindowBase, public IMainView {
 public:
  // The client area's size at start.
  static constexpr int kStartWidth = window::kStartWidth;
  static constexpr int kStartHeight = window::kStartHeight;

  // Makes the window and its controls, hidden. Throws EQuillonError when the system
  // refuses a window. language: of every text the window shows, for the whole session.
  TMainWindow(IFileSystem& fileSystem, IDeviceQueries& devices, IWindowDialogs& dialogs,
              TLanguage language = TLanguage::Chinese);
  ~TMainWindow() override;

  TMain& Main() { return main_; }

  // Shows the window centred on the desktop's work area.
  void ShowCentred(int showCommand = SW_SHOWNORMAL);

  // One message taken from the queue: the dialog keys first, then its window's procedure.
  // The message loop and ProcessPendingMessages both hand messages on through it.
  void Dispatch(MSG& message);

  // A request to end the program from outside the window (the session ends): a running
  // scan stops at its next chunk and finishes its file, then the program ends. Open
  // menus and boxes give way.
  void RequestTermination();

  // The controls, for tests and tools: by the identifiers of control_ids.h.
  HWND Control(int id) const;
  const TToolbar& Toolbar() const { return *toolbar_; }
  const TGaugeControl& Gauge() const { return *gg; }
  const TUrlLabel& Link(int id) const;

  // IMainView
  void AppendLogLine(const std::string& line) override;
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

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void BuildToolbar();
  void BuildPanel();
  void BuildStatusBar();
  // Docks the regions into the client area: after creation and at every change of size.
  void Layout();
  // pixels at 96 dots per inch, at the system's dots per inch.
  int Scaled(int pixels) const;
  // SegLabel takes statusText_, unless it shows it already.
  void ShowStatusText();
  void OnCommand(int command);
  // A request to close the window: the system menu, the close box, Alt+F4.
  void OnCloseRequest();
  // Runs a command; a failure escaping it goes to the default error display and the
  // window goes on as before.
  void RunCommand(const std::function<void()>& command);
  std::wstring TitleText() const;

  IWindowDialogs& dialogs_;
  TMain main_;
  int dpi_;
  TFont font_;
  TFont linkFont_;
  // Above zero while a command runs, counting those started inside it by the message
  // pump; the window is destroyed only outside every command.
  int commandDepth_ = 0;
  bool logHasLines_ = false;
  std::wstring statusText_;       // SegLabel's text as TMain last set it
  std::wstring shownStatusText_;  // what SegLabel shows
  bool statusTimerSet_ = false;   // the timer that shows statusText_ runs
  bool shutdownBlocked_ = false;  // a shutdown-block reason is set (a scan runs)

  HWND RzToolbar1 = nullptr;  // holds the toolbar control
  std::unique_ptr<TToolbar> toolbar_;
  HWND RzPanel1 = nullptr;
  HWND Label1 = nullptr;
  std::unique_ptr<TUrlLabel> RzURLLabel1;
  std::unique_ptr<TUrlLabel> RzURLLabel2;
  std::unique_ptr<TUrlLabel> RzURLLabel3;
  HWND memo2 = nullptr;
  HWND RzStatusBar1 = nullptr;  // SegLabel is its first part
  std::unique_ptr<TGaugeControl> gg;
  TPopupMenu pop;
  TFileDialogSettings od;
  TFileDialogSettings sd;
};

}  // namespace quillon
