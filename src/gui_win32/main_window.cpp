#include "gui_win32/main_window.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <exception>
#include <iterator>

#include "app/branding.h"
#include "app/error_display.h"
#include "app/texts.h"
#include "core/errors.h"
#include "gui_win32/control_ids.h"
#include "gui_win32/gauge_control.h"
#include "gui_win32/toolbar.h"
#include "gui_win32/url_label.h"
#include "gui_win32/wide_text.h"

namespace quillon {
namespace {

constexpr wchar_t kClassName[] = L"QuillonMainWindow";
constexpr wchar_t kPanelClassName[] = L"QuillonPanel";
// A fixed border the user cannot drag; it can still be minimised and maximised.
constexpr DWORD kStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_APPWINDOW;

using namespace window;

// The toolbar buttons' identifiers, which are also their commands.
int CommandId(TCommand command) {
  switch (command) {
    case TCommand::ChooseSource: return control_ids::kRecBtn;
    case TCommand::Save: return control_ids::kSaveBtn;
    case TCommand::Start: return control_ids::kButton2;
    case TCommand::Stop: return control_ids::kButton1;
    case TCommand::Recover: return control_ids::kRecoverBtn;
  }
  return 0;
}

// The log holds far more than a rich edit's default 32K characters.
constexpr LPARAM kLogCharacterLimit = 0x7FFFFFFE;
// Set by SetStatusText: SegLabel takes its latest text when the timer's message comes, at
// most ten times a second, at the message pump. A scan sets the text for every fragment,
// and the status bar repaints at once on each new text (1.4 ms under Wine).
constexpr UINT_PTR kStatusTimer = 1;
constexpr UINT kStatusDelayMilliseconds = 100;
// The sizes above are those at 96 dots per inch, the system's 100%.
constexpr int kDesignDpi = 96;

// The system's dots per inch: 144 at 150%. The program declares itself aware of it, so
// Windows leaves the scaling (and the sharpness) to the window.
int SystemDpi() {
  const HDC screen = ::GetDC(nullptr);
  const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : kDesignDpi;
  if (screen != nullptr) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDesignDpi;
}

HMENU ChildId(int id) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)); }

void SetFont(HWND control, HFONT font) {
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

// The height the text needs at width in font, wrapped as a static control wraps it.
int WrappedHeight(const std::wstring& text, HFONT font, int width) {
  RECT needed{0, 0, width, 0};
  const HDC dc = ::GetDC(nullptr);
  const HGDIOBJ old = ::SelectObject(dc, font);
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed,
              DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return needed.bottom;
}

// A plain container in the dialog colour; it does nothing of its own.
HWND MakePanel(HWND parent, int id, DWORD exStyle) {
  WNDCLASSEXW panelClass{};
  panelClass.cbSize = sizeof panelClass;
  panelClass.lpfnWndProc = ::DefWindowProcW;
  panelClass.hInstance = ThisModule();
  panelClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  panelClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  panelClass.lpszClassName = kPanelClassName;
  ::RegisterClassExW(&panelClass);  // fails harmlessly when the class exists
  const HWND panel = ::CreateWindowExW(exStyle | WS_EX_CONTROLPARENT, kPanelClassName, L"",
                                       WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0, parent,
                                       ChildId(id), ThisModule(), nullptr);
  if (panel == nullptr) throw EQuillonError("Cannot create a panel of the window");
  return panel;
}

const wchar_t* RichEditClass() {
  return ::GetModuleHandleW(L"Msftedit.dll") != nullptr ? MSFTEDIT_CLASS : RICHEDIT_CLASSW;
}

// Closes a box or file dialog that waits over the window; cancelling one changes nothing.
BOOL CALLBACK CloseOwnedDialog(HWND window, LPARAM owner) {
  wchar_t className[16] = {};
  ::GetClassNameW(window, className, 16);
  if (::GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner) &&
      lstrcmpW(className, L"#32770") == 0) {
    ::PostMessageW(window, WM_CLOSE, 0, 0);
  }
  return TRUE;
}

}  // namespace

HICON ProgramIcon() {
  // The icon resource of the program (the test programs carry it too).
  return static_cast<HICON>(::LoadImageW(ThisModule(), MAKEINTRESOURCEW(kProgramIconId),
                                         IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
}

void PrepareWindowControls() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_BAR_CLASSES | ICC_STANDARD_CLASSES;
  ::InitCommonControlsEx(&controls);
  // The log's control: Msftedit's rich edit where the system has it, else Riched20's.
  if (LoadSystemLibrary(L"Msftedit.dll") == nullptr) LoadSystemLibrary(L"Riched20.dll");
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  // By full path: neither is a known DLL, so by bare name a copy in the program's folder
  // (a Downloads folder) would come first.
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

TMainWindow::TMainWindow(IFileSystem& fileSystem, IDeviceQueries& devices, IWindowDialogs& dialogs,
                         TLanguage language)
    : dialogs_(dialogs),
      main_(*this, fileSystem, devices, language),
      dpi_(SystemDpi()),
      font_(WindowFont(Scaled(kFontPixels))),
      linkFont_(WindowFont(Scaled(kLinkFontPixels), true)) {
  RegisterWindowClass(kClassName, ::LoadCursorW(nullptr, IDC_ARROW),
                      reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), ProgramIcon());
  RECT frame{0, 0, Scaled(kStartWidth), Scaled(kStartHeight)};
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  Create(kExStyle, kClassName, TitleText().c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
         frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr);
  SetFont(Handle(), font_.get());

  BuildToolbar();
  BuildPanel();
  BuildStatusBar();
  Layout();
}

int TMainWindow::Scaled(int pixels) const { return ::MulDiv(pixels, dpi_, kDesignDpi); }

TMainWindow::~TMainWindow() {
  // The controls go with the window, while the fonts and icons they use still exist.
  Destroy();
}

std::wstring TMainWindow::TitleText() const { return WideFromUtf8(main_.Title()); }

void TMainWindow::BuildToolbar() {
  // The toolbar control lays its buttons out from its top edge; it sits kButtonTop below
  // the top of RzToolbar1, and tells this window of its clicks.
  RzToolbar1 = MakePanel(Handle(), control_ids::kRzToolbar1, 0);
  toolbar_ = std::make_unique<TToolbar>(RzToolbar1, Handle(), font_.get(),
                                        Scaled(TToolbar::kIconSize));
  TToolbar& bar = *toolbar_;
  // The button size before the buttons, as the toolbar control requires.
  bar.SetLayout(Scaled(kButtonLeft), Scaled(kButtonHeight));
  int image = 0;  // the image lists hold the icons in the buttons' order
  for (const TToolButton& button : ToolButtons()) {
    bar.AddButton(CommandId(button.Command), WideFromUtf8(button.Caption.In(main_.Language())), image++,
                  Scaled(button.Rect.Width), button.DropDown);
  }
}

void TMainWindow::BuildPanel() {
  RzPanel1 = MakePanel(Handle(), control_ids::kRzPanel1, WS_EX_STATICEDGE);

  const std::wstring instructions = WideFromUtf8(InstructionText("\r\n", main_.Language()));
  // 289 x 169 holds the ten lines in 宋体; a substitute font with taller lines gets the
  // height it needs, which still ends above the first link.
  const int labelHeight = std::max(
      Scaled(kLabelHeight), WrappedHeight(instructions, font_.get(), Scaled(kLabelWidth)));
  Label1 = ::CreateWindowExW(
      0, L"STATIC", instructions.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0,
      Scaled(kLabelWidth), labelHeight, RzPanel1, ChildId(control_ids::kLabel1), ThisModule(),
      nullptr);
  SetFont(Label1, font_.get());

  const std::wstring address = WideFromUtf8(branding::kWebAddress);
  // Links() lists RzURLLabel2, RzURLLabel3 and RzURLLabel1, top to bottom.
  std::unique_ptr<TUrlLabel>* const labels[] = {&RzURLLabel2, &RzURLLabel3, &RzURLLabel1};
  const int ids[] = {control_ids::kRzURLLabel2, control_ids::kRzURLLabel3,
                     control_ids::kRzURLLabel1};
  const std::vector<TLink> links = Links(main_.Language());
  for (std::size_t i = 0; i < links.size(); ++i) {
    *labels[i] = std::make_unique<TUrlLabel>(WideFromUtf8(links[i].Caption), address, dialogs_,
                                             RzPanel1, ids[i], Scaled(kLinkLeft),
                                             Scaled(links[i].Top), linkFont_.get());
  }

  memo2 =
      ::CreateWindowExW(WS_EX_CLIENTEDGE, RichEditClass(), L"",
                        WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                            ES_AUTOVSCROLL | ES_NOHIDESEL,
                        0, 0, 0, 0, RzPanel1, ChildId(control_ids::kMemo2), ThisModule(), nullptr);
  if (memo2 == nullptr) throw EQuillonError("Cannot create the log (no rich edit control)");
  // Plain text: a path or a system message is shown as it is, never as formatting.
  ::SendMessageW(memo2, EM_SETTEXTMODE, TM_PLAINTEXT, 0);
  ::SendMessageW(memo2, EM_SETUNDOLIMIT, 0, 0);
  ::SendMessageW(memo2, EM_EXLIMITTEXT, 0, kLogCharacterLimit);
  SetFont(memo2, font_.get());
}

void TMainWindow::BuildStatusBar() {
  RzStatusBar1 = ::CreateWindowExW(
      0, STATUSCLASSNAMEW, L"",
      WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, 0,
      0, 0, 0, Handle(), ChildId(control_ids::kRzStatusBar1), ThisModule(), nullptr);
  SetFont(RzStatusBar1, font_.get());
  int edges[2] = {Scaled(kSegLabelWidth), -1};  // -1: to the right edge
  ::SendMessageW(RzStatusBar1, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(edges));
  statusText_ = WideFromUtf8(main_.Say(texts::kInitialStatus));
  ShowStatusText();
  gg = std::make_unique<TGaugeControl>(RzStatusBar1, control_ids::kGg, font_.get());
}

void TMainWindow::Layout() {
  if (RzStatusBar1 == nullptr) return;  // still being built
  RECT client;
  ::GetClientRect(Handle(), &client);
  const int width = client.right;
  const int height = client.bottom;
  const int toolbarHeight = Scaled(kToolbarHeight);
  const int statusBarHeight = Scaled(kStatusBarHeight);
  const int buttonTop = Scaled(kButtonTop);
  const int panelHeight = std::max(0, height - toolbarHeight - statusBarHeight);
  ::MoveWindow(RzToolbar1, 0, 0, width, toolbarHeight, TRUE);
  ::MoveWindow(toolbar_->Handle(), 0, buttonTop, width, toolbarHeight - buttonTop, TRUE);
  ::MoveWindow(RzPanel1, 0, toolbarHeight, width, panelHeight, TRUE);
  ::MoveWindow(RzStatusBar1, 0, height - statusBarHeight, width, statusBarHeight, TRUE);

  // memo2 stays docked to the panel's right edge; Label1 and the links keep their places.
  RECT inside;
  ::GetClientRect(RzPanel1, &inside);
  const int memoWidth = Scaled(kMemoWidth);
  ::MoveWindow(memo2, inside.right - memoWidth, 0, memoWidth, inside.bottom, TRUE);

  // gg fills the status bar's second part, from past the gap after SegLabel to the right
  // edge, inside the bar's borders. Worked out here: a status bar placed by its parent
  // (CCS_NORESIZE) need not lay its parts out again at once.
  int borders[3] = {0, 0, 0};  // horizontal, vertical, between parts
  ::SendMessageW(RzStatusBar1, SB_GETBORDERS, 0, reinterpret_cast<LPARAM>(borders));
  const int left = Scaled(kSegLabelWidth) + borders[2];
  ::MoveWindow(gg->Handle(), left, borders[1], std::max(0, width - left),
               std::max(0, statusBarHeight - 2 * borders[1]), TRUE);
  // The status bar, SegLabel and gg alike, is drawn anew at its new size: after a maximise
  // it would otherwise stay blank until its next change.
  ::RedrawWindow(RzStatusBar1, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TMainWindow::ShowCentred(int showCommand) {
  RECT work;
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT window;
  ::GetWindowRect(Handle(), &window);
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  ::SetWindowPos(Handle(), nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::ShowWindow(Handle(), showCommand);
  ::UpdateWindow(Handle());
}

HWND TMainWindow::Control(int id) const {
  switch (id) {
    case control_ids::kRzToolbar1:
      return RzToolbar1;
    case control_ids::kRzPanel1:
      return RzPanel1;
    case control_ids::kLabel1:
      return Label1;
    case control_ids::kRzURLLabel1:
    case control_ids::kRzURLLabel2:
    case control_ids::kRzURLLabel3:
      return Link(id).Handle();
    case control_ids::kMemo2:
      return memo2;
    case control_ids::kRzStatusBar1:
      return RzStatusBar1;
    case control_ids::kGg:
      return gg->Handle();
    default:
      return nullptr;
  }
}

const TUrlLabel& TMainWindow::Link(int id) const {
  if (id == control_ids::kRzURLLabel1) return *RzURLLabel1;
  if (id == control_ids::kRzURLLabel2) return *RzURLLabel2;
  return *RzURLLabel3;
}

LRESULT TMainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      Layout();
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      // RecBtn drops down on a click anywhere on it; its handler opens the menu.
      if (header->code == TBN_DROPDOWN && toolbar_ != nullptr &&
          header->hwndFrom == toolbar_->Handle()) {
        OnCommand(reinterpret_cast<const NMTOOLBARW*>(lParam)->iItem);
        return TBDDRET_DEFAULT;
      }
      break;
    }
    case WM_CLOSE:
      OnCloseRequest();
      return 0;
    case WM_QUERYENDSESSION:
      // While a scan runs the session may not end: the user sees the reason and may wait.
      // A forced end (critical) does not wait for the answer, so the file is finished now.
      if (!main_.Busy()) return TRUE;
      if ((static_cast<DWORD>(lParam) & ENDSESSION_CRITICAL) != 0) main_.FinishFileNow();
      return FALSE;
    case WM_ENDSESSION:
      // The process may end as soon as this returns: the file is finished before it does.
      if (wParam != FALSE) {
        main_.FinishFileNow();
        RequestTermination();
      }
      return 0;
    case WM_TIMER:
      if (wParam != kStatusTimer) break;
      ::KillTimer(Handle(), kStatusTimer);
      statusTimerSet_ = false;
      ShowStatusText();
      return 0;
    default:
      break;
  }
  return TWindowBase::HandleMessage(message, wParam, lParam);
}

void TMainWindow::OnCommand(int command) {
  ++commandDepth_;
  switch (command) {
    case control_ids::kRecBtn:
      RunCommand([this] { main_.RecBtnClick(); });
      break;
    case control_ids::kSaveBtn:
      RunCommand([this] { main_.SaveBtnClick(); });
      break;
    case control_ids::kButton2:
      RunCommand([this] { main_.button2Click(); });
      break;
    case control_ids::kButton1:
      RunCommand([this] { main_.Button1Click(); });
      break;
    case control_ids::kRecoverBtn:
      RunCommand([this] { main_.RecoverBtnClick(); });
      break;
    default:
      break;
  }
  --commandDepth_;
  // The status text of the command's end shows at once, also without a pump.
  if (commandDepth_ == 0) ShowStatusText();
  // A close request taken during the command (a scan, the menu being built): the file is
  // finished, so the window closes now, from the message loop.
  if (commandDepth_ == 0 && main_.ClosesAfterCommand() && Handle() != nullptr) {
    ::PostMessageW(Handle(), WM_CLOSE, 0, 0);
  }
}

void TMainWindow::OnCloseRequest() {
  if (!main_.FormCloseQuery()) return;  // a scan runs; TMain remembers the request
  if (commandDepth_ > 0) return;        // the command's end carries the close out
  Destroy();
  ::PostQuitMessage(0);
}

void TMainWindow::RequestTermination() {
  main_.Button1Click();
  if (Handle() == nullptr) return;
  OnCloseRequest();
  // Menus, boxes and file dialogs give way: the scan waits while one is open.
  ::EndMenu();
  ::EnumThreadWindows(::GetCurrentThreadId(), CloseOwnedDialog, reinterpret_cast<LPARAM>(Handle()));
}

void TMainWindow::RunCommand(const std::function<void()>& command) {
  if (const auto failure = RunForErrorDisplay(command)) {
    dialogs_.Error(Handle(), TitleText(), WideFromUtf8(*failure));
  }
}

void TMainWindow::Dispatch(MSG& message) {
  if (Handle() != nullptr && ::IsDialogMessageW(Handle(), &message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

void TMainWindow::AppendLogLine(const std::string& line) {
  // At the very end, wherever the user has put the caret or a selection.
  const std::wstring text = (logHasLines_ ? L"\r\n" : L"") + WideFromUtf8(line);
  logHasLines_ = true;
  ::SendMessageW(memo2, EM_SETSEL, static_cast<WPARAM>(-1), -1);
  ::SendMessageW(memo2, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  ::SendMessageW(memo2, WM_VSCROLL, SB_BOTTOM, 0);
}

void TMainWindow::SetStatusText(const std::string& text) {
  // Kept, and drawn at the pump once the timer has run out.
  statusText_ = WideFromUtf8(text);
  if (!statusTimerSet_ && Handle() != nullptr) {
    statusTimerSet_ = ::SetTimer(Handle(), kStatusTimer, kStatusDelayMilliseconds, nullptr) != 0;
  }
  // Without a timer (none left, or no window yet) the text shows at once.
  if (!statusTimerSet_) ShowStatusText();
}

void TMainWindow::ShowStatusText() {
  if (RzStatusBar1 == nullptr || statusText_ == shownStatusText_) return;
  shownStatusText_ = statusText_;
  ::SendMessageW(RzStatusBar1, SB_SETTEXTW, control_ids::kSegLabelPart,
                 reinterpret_cast<LPARAM>(shownStatusText_.c_str()));
}

void TMainWindow::ShowGauge(const TGauge& gauge) { gg->SetGauge(gauge); }

void TMainWindow::ShowMessage(const std::string& text) {
  dialogs_.Message(Handle(), TitleText(), WideFromUtf8(text), false);
}

bool TMainWindow::AskYesNo(const std::string& text) {
  return dialogs_.Question(Handle(), TitleText(), WideFromUtf8(text));
}

void TMainWindow::ShowSelfClosingMessage(const std::string& text) {
  dialogs_.Message(Handle(), TitleText(), WideFromUtf8(text), true);
}

void TMainWindow::ProcessPendingMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Not ours to act on: the message loop ends the program once the scan is done.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    Dispatch(message);
  }
}

void TMainWindow::SetStartEnabled(bool enabled) {
  toolbar_->SetEnabled(control_ids::kButton2, enabled);
  // Disabled exactly while a scan runs: shutting Windows down then names the reason to wait.
  if (!enabled) {
    shutdownBlocked_ =
        ::ShutdownBlockReasonCreate(Handle(), WideFromUtf8(main_.Say(texts::kShutdownBlockReason)).c_str());
  } else if (shutdownBlocked_) {
    ::ShutdownBlockReasonDestroy(Handle());
    shutdownBlocked_ = false;
  }
}

void TMainWindow::ClearSourceMenu() { pop.Clear(); }

void TMainWindow::AddSourceMenuEntry(const std::string& name, const std::string& caption,
                                     int imageIndex) {
  pop.AddEntry(name, WideFromUtf8(caption), imageIndex);
}

void TMainWindow::AddSourceMenuSeparator() { pop.AddSeparator(); }

std::optional<std::string> TMainWindow::ShowSourceMenu() {
  RECT button = toolbar_->ButtonRect(control_ids::kRecBtn);
  ::MapWindowPoints(toolbar_->Handle(), nullptr, reinterpret_cast<POINT*>(&button), 2);
  return pop.NameOf(dialogs_.PopupMenu(pop, Handle(), button));
}

void TMainWindow::ClearOpenDialog() {
  od.Filter.clear();
  od.DefaultExtension.clear();
  od.FileName.clear();
}

std::optional<std::string> TMainWindow::ShowOpenDialog() {
  od.Kind = TFileDialogSettings::TKind::Open;
  const std::optional<std::wstring> path = dialogs_.FileDialog(Handle(), od);
  if (!path) return std::nullopt;
  od.FileName = *path;
  return Utf8FromWide(*path);
}

void TMainWindow::SetRecoverEnabled(bool enabled) {
  toolbar_->SetEnabled(control_ids::kRecoverBtn, enabled);
}

std::optional<std::string> TMainWindow::ShowFolderDialog() {
  const std::optional<std::wstring> folder = dialogs_.FolderDialog(Handle());
  if (!folder) return std::nullopt;
  return Utf8FromWide(*folder);
}

bool TMainWindow::OpenDocument(const std::string& path) {
  return dialogs_.OpenUrl(Handle(), WideFromUtf8(path));
}

std::optional<std::string> TMainWindow::ShowSaveDialog(const std::string& fileName) {
  sd.Kind = TFileDialogSettings::TKind::Save;
  sd.Filter.clear();
  sd.DefaultExtension.clear();
  sd.ConfirmOverwrite = true;  // a scan replaces the chosen file: the system asks first
  sd.FileName = WideFromUtf8(fileName);
  const std::optional<std::wstring> path = dialogs_.FileDialog(Handle(), sd);
  if (!path) return std::nullopt;
  sd.FileName = *path;
  return Utf8FromWide(*path);
}

}  // namespace quillon
