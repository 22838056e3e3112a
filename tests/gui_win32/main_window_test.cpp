// The native Windows window, driven by its command messages under a real message loop:
// its controls, their states around a scan, real scans of the sample database with the
// dialogs answered, close and end-of-session requests during a scan, and paths in the
// system's code page.

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "core/fragment_file_reader.h"
#include "fake_dialogs.h"
#include "gui_win32/control_ids.h"
#include "gui_win32/gauge_control.h"
#include "gui_win32/main_window.h"
#include "gui_win32/toolbar.h"
#include "gui_win32/url_label.h"
#include "gui_win32/wide_text.h"
#include "storage/file_system.h"
#include "storage/library_search.h"
#include "support/fake_device_queries.h"

// RECT is the system's, in the global namespace, where the comparisons must be found.
inline bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

inline std::ostream& operator<<(std::ostream& out, const RECT& r) {
  return out << "(" << r.left << "," << r.top << " " << r.right - r.left << "x" << r.bottom - r.top
             << ")";
}

namespace quillon {
namespace {

namespace fs = std::filesystem;
namespace ids = control_ids;

constexpr std::int64_t kSampleSize = 1052672;  // five chunks
const std::wstring kTitle = L"Quillon 2.0   " + WideFromUtf8(QUILLON_WEB_ADDRESS);
const std::wstring kClosingLine =
    L"扫描结束,请联系软件客服将扫描加密文件发送过去进行分析数据恢复情况";

// The sample database as a Windows path (under Wine the build tree is on Z:).
std::wstring SamplePath() {
  std::wstring path = WideFromUtf8(QUILLON_SAMPLES_DIR_WINDOWS "/sample-jet4.mdb");
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' || text[i] == L'\n') {
      if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += text[i];
    }
  }
  return lines;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// A window's rectangle in the client coordinates of another.
RECT RectIn(HWND window, HWND reference) {
  RECT rect;
  ::GetWindowRect(window, &rect);
  ::MapWindowPoints(nullptr, reference, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

RECT Rect(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}

SIZE ClientSize(HWND window) {
  RECT client;
  ::GetClientRect(window, &client);
  return {client.right, client.bottom};
}

// Runs what waits in the queue; a WM_QUIT is taken and kept in quitCode.
void Pump(std::optional<WPARAM>* quitCode = nullptr) {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      if (quitCode != nullptr) *quitCode = message.wParam;
      continue;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

// The window with a hook at every "process pending messages", which during a scan is
// once per chunk.
class TObservedWindow : public TMainWindow {
 public:
  using TMainWindow::TMainWindow;
  // Counts from 1 at the first call after it is set.
  void SetOnChunk(std::function<void(int chunk)> onChunk) {
    onChunk_ = std::move(onChunk);
    calls_ = 0;
  }
  void ProcessPendingMessages() override {
    TMainWindow::ProcessPendingMessages();
    if (onChunk_) onChunk_(++calls_);
  }

 private:
  std::function<void(int chunk)> onChunk_;
  int calls_ = 0;
};

struct TStates {
  bool RecBtn, SaveBtn, Start, Stop;
  std::wstring Status;
  std::wstring Gauge;
  int GaugeMax;
};

class TWindowRig {
 public:
  explicit TWindowRig(TLanguage language = TLanguage::Chinese)
      : folder(MakeFolder()),
        output((folder / L"out.frag").wstring()),
        fileSystem(MakePlatformFileSystem()),
        window(*fileSystem, devices, dialogs, language) {
    window.ShowCentred();
    Pump();
  }
  ~TWindowRig() {
    window.SetOnChunk({});
    Pump();  // also takes a WM_QUIT of a closed window, which would end later boxes
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  HWND Main() const { return window.Handle(); }
  HWND Control(int id) const { return window.Control(id); }
  void Click(int command) {
    ::SendMessageW(Main(), WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                   reinterpret_cast<LPARAM>(window.Toolbar().Handle()));
  }

  // Source and output chosen from the toolbar, as a user does.
  void Choose(const std::wstring& image) {
    dialogs.MenuChoice = "Openimage";
    dialogs.OpenAnswer = image;
    Click(ids::kRecBtn);
    dialogs.SaveAnswer = output;
    Click(ids::kSaveBtn);
  }

  std::wstring StatusText() const {
    const HWND bar = Control(ids::kRzStatusBar1);
    const auto length = LOWORD(::SendMessageW(bar, SB_GETTEXTLENGTHW, ids::kSegLabelPart, 0));
    std::wstring text(length + 1u, L'\0');
    ::SendMessageW(bar, SB_GETTEXTW, ids::kSegLabelPart, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length);
    return text;
  }

  TStates States() const {
    const TToolbar& bar = window.Toolbar();
    return {bar.IsEnabled(ids::kRecBtn),
            bar.IsEnabled(ids::kSaveBtn),
            bar.IsEnabled(ids::kButton2),
            bar.IsEnabled(ids::kButton1),
            StatusText(),
            window.Gauge().Text(),
            window.Gauge().Gauge().Max()};
  }

  std::vector<std::wstring> LogLines() const {
    const std::wstring text = WindowText(Control(ids::kMemo2));
    return text.empty() ? std::vector<std::wstring>{} : SplitLines(text);
  }

  // The output read back by the project's reader; its temporary path is ASCII, the same
  // bytes in UTF-8 and in the system's code page.
  TFragmentFileReport ReadOutput() {
    const std::unique_ptr<TStream> stream =
        fileSystem->Open(Utf8FromWide(output), TOpenMode::ReadShared);
    return ReadFragmentFile(*stream);
  }

  fs::path folder;
  std::wstring output;
  testing::TFakeDialogs dialogs;
  std::unique_ptr<IFileSystem> fileSystem;
  testing::TFakeDeviceQueries devices;  // a machine with no volume and no drive
  TObservedWindow window;

 private:
  static fs::path MakeFolder() {
    static int made = 0;
    const fs::path folder = fs::temp_directory_path() /
                            (L"quillon-window-test-" + std::to_wstring(::GetCurrentProcessId()) +
                             L"-" + std::to_wstring(++made));
    fs::create_directories(folder);
    return folder;
  }
};

// Draws image 0 of an image list on white and returns its pixels.
std::vector<COLORREF> ImagePixels(HIMAGELIST list) {
  const HDC screen = ::GetDC(nullptr);
  const HDC dc = ::CreateCompatibleDC(screen);
  const HBITMAP canvas = ::CreateCompatibleBitmap(screen, TToolbar::kIconSize, TToolbar::kIconSize);
  const HGDIOBJ old = ::SelectObject(dc, canvas);
  RECT all{0, 0, TToolbar::kIconSize, TToolbar::kIconSize};
  ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  ImageList_Draw(list, 0, dc, 0, 0, ILD_NORMAL);
  std::vector<COLORREF> pixels;
  for (int y = 0; y < TToolbar::kIconSize; ++y) {
    for (int x = 0; x < TToolbar::kIconSize; ++x) pixels.push_back(::GetPixel(dc, x, y));
  }
  ::SelectObject(dc, old);
  ::DeleteObject(canvas);
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
  return pixels;
}

// Whether the font a control draws with has a glyph for every character of text.
bool FontHasGlyphs(HWND control, const std::wstring& text) {
  const HDC dc = ::GetDC(control);
  const HGDIOBJ old =
      ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  std::vector<WORD> glyphs(text.size());
  ::GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                     GGI_MARK_NONEXISTING_GLYPHS);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  return std::find(glyphs.begin(), glyphs.end(), WORD{0xFFFF}) == glyphs.end();
}

class Win32MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { PrepareWindowControls(); }
};

// The window as its description has it (the description's own test pins the numbers).
TEST_F(Win32MainWindowTest, ControlsHaveTheirCaptionsPlacesAndSizes) {
  using namespace window;
  constexpr int kPanelHeight = kStartHeight - kToolbarHeight - kStatusBarHeight;
  TWindowRig rig;
  EXPECT_EQ(WindowText(rig.Main()), kTitle);
  EXPECT_EQ(ClientSize(rig.Main()).cx, kStartWidth);
  EXPECT_EQ(ClientSize(rig.Main()).cy, kStartHeight);
  const LONG_PTR style = ::GetWindowLongPtrW(rig.Main(), GWL_STYLE);
  EXPECT_FALSE(style & WS_THICKFRAME) << "the border cannot be dragged";
  EXPECT_TRUE((style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) ==
              (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  RECT work, frame;
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  ::GetWindowRect(rig.Main(), &frame);
  EXPECT_LE(std::abs((frame.left + frame.right) - (work.left + work.right)), 1);
  EXPECT_LE(std::abs((frame.top + frame.bottom) - (work.top + work.bottom)), 1);

  EXPECT_EQ(RectIn(rig.Control(ids::kRzToolbar1), rig.Main()), Rect(0, 0, kStartWidth, kToolbarHeight));
  EXPECT_EQ(RectIn(rig.Control(ids::kRzPanel1), rig.Main()), Rect(0, kToolbarHeight, kStartWidth, kPanelHeight));
  EXPECT_EQ(RectIn(rig.Control(ids::kRzStatusBar1), rig.Main()), Rect(0, kStartHeight - kStatusBarHeight, kStartWidth, kStatusBarHeight));

  // The buttons as the window's description has them (its own test pins the numbers).
  struct TButton {
    int Id;
    std::wstring Caption;
    RECT Place;
  };
  const int buttonIds[] = {ids::kRecBtn, ids::kSaveBtn, ids::kButton2, ids::kButton1,
                           ids::kRecoverBtn};
  ASSERT_EQ(window::ToolButtons().size(), std::size(buttonIds));
  std::vector<TButton> buttons;
  for (std::size_t i = 0; i < std::size(buttonIds); ++i) {
    const window::TToolButton& button = window::ToolButtons()[i];
    buttons.push_back({buttonIds[i], WideFromUtf8(button.Caption.Chinese),
                       Rect(button.Rect.X, button.Rect.Y, button.Rect.Width, button.Rect.Height)});
  }
  const TToolbar& toolbar = rig.window.Toolbar();
  for (const TButton& expected : buttons) {
    EXPECT_EQ(toolbar.Caption(expected.Id), expected.Caption);
    RECT place = toolbar.ButtonRect(expected.Id);
    ::MapWindowPoints(toolbar.Handle(), rig.Control(ids::kRzToolbar1),
                      reinterpret_cast<POINT*>(&place), 2);
    // As high as icon and caption need: 40, or 41 with a substitute font's taller lines.
    EXPECT_NEAR(place.bottom - place.top, 40, 1) << expected.Id;
    place.bottom = place.top + 40;
    EXPECT_EQ(place, expected.Place) << expected.Id;
    EXPECT_TRUE(toolbar.IsEnabled(expected.Id));
  }
  const HWND bar = toolbar.Handle();
  const auto normal = reinterpret_cast<HIMAGELIST>(::SendMessageW(bar, TB_GETIMAGELIST, 0, 0));
  const auto greyed =
      reinterpret_cast<HIMAGELIST>(::SendMessageW(bar, TB_GETDISABLEDIMAGELIST, 0, 0));
  ASSERT_TRUE(normal != nullptr && greyed != nullptr);
  EXPECT_NE(ImagePixels(normal), ImagePixels(greyed)) << "a disabled button shows a grey icon";
  EXPECT_NE(ImagePixels(normal), std::vector<COLORREF>(400, RGB(255, 255, 255)));

  const HWND panel = rig.Control(ids::kRzPanel1);
  const HWND label = rig.Control(ids::kLabel1);
  const RECT labelPlace = RectIn(label, panel);
  EXPECT_EQ(labelPlace.left, 0);
  EXPECT_EQ(labelPlace.top, 0);
  EXPECT_EQ(labelPlace.right, kLabelWidth);
  EXPECT_GE(labelPlace.bottom, kLabelHeight);
  EXPECT_LT(labelPlace.bottom, 232) << "the instructions end above the first link";
  EXPECT_EQ(SplitLines(WindowText(label)),
            (std::vector<std::wstring>{
                L"", L"第一步:选择磁盘,选择需要扫描的分区或镜像文件.", L"",
                L"第二步:保存文件,选择一个存放扫描结果的位置,输入文件名之后保存.", L"",
                L"第三步:开始扫描,等待扫描进度结束.", L"",
                L"第四步:扫描后的文件是加密状态需要将文件发送我们进行解析恢复您所需要的数据.", L"",
                L"第五步:恢复数据,选择保存位置,打开恢复报告.", L"",
                L"请以管理员权限运行此程序."}));
  // The last instruction is not cut off, whichever CJK font the system substitutes.
  {
    const std::wstring text = WindowText(label);
    RECT needed{0, 0, kLabelWidth, 0};
    const HDC dc = ::GetDC(label);
    ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0)));
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::ReleaseDC(label, dc);
    EXPECT_LE(needed.bottom, labelPlace.bottom);
  }

  const std::pair<int, int> links[] = {
      {ids::kRzURLLabel2, 232}, {ids::kRzURLLabel3, 256}, {ids::kRzURLLabel1, 280}};
  for (const auto& [id, top] : links) {
    const HWND link = rig.Control(id);
    const RECT place = RectIn(link, panel);
    EXPECT_EQ(place.left, 16);
    EXPECT_EQ(place.top, top);
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(link, WM_GETFONT, 0, 0)), sizeof font,
                 &font);
    EXPECT_EQ(font.lfHeight, -13);
    EXPECT_TRUE(font.lfUnderline);
    EXPECT_EQ(rig.window.Link(id).TextColour(), ::GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(rig.window.Link(id).Url(), WideFromUtf8(QUILLON_WEB_ADDRESS));
    ::SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_HAND));
  }
  EXPECT_EQ(WindowText(rig.Control(ids::kRzURLLabel2)),
            WideFromUtf8(QUILLON_SERVICE_LABEL QUILLON_SERVICE_NUMBER));
  EXPECT_EQ(WindowText(rig.Control(ids::kRzURLLabel3)),
            L"技术支持电话:" + WideFromUtf8(QUILLON_SUPPORT_TELEPHONE));
  EXPECT_EQ(WindowText(rig.Control(ids::kRzURLLabel1)),
            L"Quillon:" + WideFromUtf8(QUILLON_WEB_ADDRESS));

  const HWND memo = rig.Control(ids::kMemo2);
  const RECT memoPlace = RectIn(memo, panel);
  EXPECT_EQ(memoPlace.right - memoPlace.left, kMemoWidth);
  EXPECT_EQ(memoPlace.right, ClientSize(panel).cx);
  EXPECT_EQ(memoPlace.top, 0);
  EXPECT_EQ(memoPlace.bottom, ClientSize(panel).cy);
  EXPECT_TRUE(::GetWindowLongPtrW(memo, GWL_STYLE) & ES_READONLY);
  EXPECT_TRUE(rig.LogLines().empty());

  EXPECT_EQ(rig.StatusText(), L"文件数量：");
  RECT segLabel{};
  ::SendMessageW(rig.Control(ids::kRzStatusBar1), SB_GETRECT, ids::kSegLabelPart,
                 reinterpret_cast<LPARAM>(&segLabel));
  EXPECT_EQ(segLabel.left, 0);
  EXPECT_NEAR(segLabel.right, 200, 2);
  const RECT gauge = RectIn(rig.Control(ids::kGg), rig.Control(ids::kRzStatusBar1));
  EXPECT_GE(gauge.left, segLabel.right);
  EXPECT_GE(gauge.right, kStartWidth - 2) << "gg fills the rest of the status bar";
  EXPECT_EQ(rig.window.Gauge().Text(), L"0%");

  // Chinese text is drawn with a font that has the characters, not as empty boxes.
  EXPECT_TRUE(FontHasGlyphs(label, L"扫描磁盘"));
  EXPECT_TRUE(FontHasGlyphs(rig.Control(ids::kRzURLLabel3), L"技术支持电话"));
}

// The English window: the same controls in the same places, every text in English, each
// caption inside its button and the instructions above the first link in whatever font
// the system gives; a scan logs and shows English.
TEST_F(Win32MainWindowTest, TheEnglishWindowSpeaksEnglishInTheSamePlaces) {
  using namespace window;
  TWindowRig rig(TLanguage::English);
  EXPECT_EQ(WindowText(rig.Main()), kTitle);
  const int buttonIds[] = {ids::kRecBtn, ids::kSaveBtn, ids::kButton2, ids::kButton1,
                           ids::kRecoverBtn};
  const wchar_t* const captions[] = {L"Disk", L"Save", L"Start", L"Stop", L"Recover"};
  const TToolbar& toolbar = rig.window.Toolbar();
  const HDC dc = ::GetDC(toolbar.Handle());
  ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(toolbar.Handle(), WM_GETFONT, 0, 0)));
  for (std::size_t i = 0; i < std::size(buttonIds); ++i) {
    const window::TToolButton& button = window::ToolButtons()[i];
    EXPECT_EQ(toolbar.Caption(buttonIds[i]), captions[i]);
    RECT place = toolbar.ButtonRect(buttonIds[i]);
    ::MapWindowPoints(toolbar.Handle(), rig.Control(ids::kRzToolbar1),
                      reinterpret_cast<POINT*>(&place), 2);
    EXPECT_EQ(place.left, button.Rect.X) << i;
    EXPECT_EQ(place.right - place.left, button.Rect.Width) << i;
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, captions[i], static_cast<int>(std::wcslen(captions[i])), &extent);
    EXPECT_LE(extent.cx, button.Rect.Width - (button.DropDown ? 12 : 4)) << i;
  }
  ::ReleaseDC(toolbar.Handle(), dc);

  const HWND panel = rig.Control(ids::kRzPanel1);
  const HWND label = rig.Control(ids::kLabel1);
  EXPECT_EQ(WindowText(label), WideFromUtf8(window::InstructionText("\r\n", TLanguage::English)));
  const RECT labelPlace = RectIn(label, panel);
  EXPECT_EQ(labelPlace.right, kLabelWidth);
  EXPECT_LT(labelPlace.bottom, 232) << "the instructions end above the first link";
  {
    const std::wstring text = WindowText(label);
    RECT needed{0, 0, kLabelWidth, 0};
    const HDC labelDc = ::GetDC(label);
    ::SelectObject(labelDc, reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0)));
    ::DrawTextW(labelDc, text.c_str(), static_cast<int>(text.size()), &needed,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::ReleaseDC(label, labelDc);
    EXPECT_LE(needed.bottom, labelPlace.bottom);
  }
  EXPECT_EQ(WindowText(rig.Control(ids::kRzURLLabel2)),
            WideFromUtf8(QUILLON_SERVICE_LABEL_EN QUILLON_SERVICE_NUMBER));
  EXPECT_EQ(WindowText(rig.Control(ids::kRzURLLabel3)),
            L"Support telephone:" + WideFromUtf8(QUILLON_SUPPORT_TELEPHONE));
  EXPECT_EQ(RectIn(rig.Control(ids::kRzURLLabel1), panel).top, 280);
  EXPECT_EQ(rig.StatusText(), L"Files:");

  rig.Choose(SamplePath());
  rig.Click(ids::kButton2);
  const TFragmentFileReport report = rig.ReadOutput();
  EXPECT_EQ(report.State, TFragmentFileState::Complete) << report.Problem;
  EXPECT_EQ(rig.StatusText(), L"Fragments: " + std::to_wstring(report.Fragments));
  ASSERT_FALSE(rig.dialogs.Messages.empty());
  EXPECT_EQ(rig.dialogs.Messages.back().Text, L"Done!");
  const std::vector<std::wstring> log = rig.LogLines();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0].rfind(L"Source to scan: ", 0), 0u) << Utf8FromWide(log[0]);
  EXPECT_EQ(log[1].rfind(L"The database fragments are saved to: ", 0), 0u);
  EXPECT_EQ(log[3], L"Scan started!");
  EXPECT_EQ(log[4].rfind(L"Scan finished. ", 0), 0u);
}

TEST_F(Win32MainWindowTest, MaximisingRedocksTheRegions) {
  TWindowRig rig;
  const int gaugeBefore = ClientSize(rig.Control(ids::kGg)).cx;
  ::ShowWindow(rig.Main(), SW_MAXIMIZE);
  Pump();
  const SIZE client = ClientSize(rig.Main());
  ASSERT_GT(client.cx, 789);
  ASSERT_GT(client.cy, 400);
  EXPECT_EQ(RectIn(rig.Control(ids::kRzToolbar1), rig.Main()), Rect(0, 0, client.cx, 44));
  EXPECT_EQ(RectIn(rig.Control(ids::kRzStatusBar1), rig.Main()),
            Rect(0, client.cy - 19, client.cx, 19));
  const HWND panel = rig.Control(ids::kRzPanel1);
  EXPECT_EQ(RectIn(panel, rig.Main()), Rect(0, 44, client.cx, client.cy - 63));
  const RECT memo = RectIn(rig.Control(ids::kMemo2), panel);
  EXPECT_EQ(memo, Rect(ClientSize(panel).cx - 499, 0, 499, ClientSize(panel).cy));
  EXPECT_EQ(RectIn(rig.Control(ids::kLabel1), panel).left, 0);
  EXPECT_EQ(RectIn(rig.Control(ids::kLabel1), panel).top, 0);
  EXPECT_EQ(RectIn(rig.Control(ids::kRzURLLabel1), panel).left, 16);
  EXPECT_EQ(RectIn(rig.Control(ids::kRzURLLabel1), panel).top, 280);
  EXPECT_EQ(ClientSize(rig.Control(ids::kGg)).cx, gaugeBefore + client.cx - 789)
      << "the gauge takes the extra width";
}

// The screen's pixels inside a window's client rectangle, rows from the top.
std::vector<COLORREF> ScreenPixels(HWND window) {
  RECT area;
  ::GetClientRect(window, &area);
  ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  const HDC screen = ::GetDC(nullptr);
  const HDC dc = ::CreateCompatibleDC(screen);
  const HBITMAP canvas = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = ::SelectObject(dc, canvas);
  ::BitBlt(dc, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  ::GdiFlush();
  std::vector<COLORREF> pixels;
  const auto* bgr = static_cast<const std::uint32_t*>(bits);
  for (int i = 0; i < width * height; ++i) {
    const std::uint32_t p = bgr[i];
    pixels.push_back(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
  }
  ::SelectObject(dc, old);
  ::DeleteObject(canvas);
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
  return pixels;
}

TEST_F(Win32MainWindowTest, TheStatusBarIsDrawnAfterMaximising) {
  TWindowRig rig;
  ::ShowWindow(rig.Main(), SW_MAXIMIZE);
  Pump();
  // SegLabel's text and the gauge's white are on the screen, not a blank bar.
  const std::vector<COLORREF> bar = ScreenPixels(rig.Control(ids::kRzStatusBar1));
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  const auto inked = std::count_if(bar.begin(), bar.end(), [&](COLORREF c) {
    return c != face && c != RGB(255, 255, 255) && c != CLR_INVALID;
  });
  EXPECT_GT(inked, 20) << "SegLabel's text is drawn";
  const std::vector<COLORREF> gauge = ScreenPixels(rig.Control(ids::kGg));
  EXPECT_GT(std::count(gauge.begin(), gauge.end(), RGB(255, 255, 255)),
            static_cast<std::ptrdiff_t>(gauge.size() / 2))
      << "the gauge is drawn across its new width";
}

// Counts the texts SegLabel is given, by subclassing the status bar.
class TStatusTextCounter {
 public:
  explicit TStatusTextCounter(HWND bar) : bar_(bar) {
    ::SetWindowSubclass(bar_, &TStatusTextCounter::Procedure, 1, reinterpret_cast<DWORD_PTR>(this));
  }
  ~TStatusTextCounter() { ::RemoveWindowSubclass(bar_, &TStatusTextCounter::Procedure, 1); }
  int Count() const { return count_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR, DWORD_PTR self) {
    if (message == SB_SETTEXTW) ++reinterpret_cast<TStatusTextCounter*>(self)->count_;
    return ::DefSubclassProc(window, message, wParam, lParam);
  }
  HWND bar_;
  int count_ = 0;
};

TEST_F(Win32MainWindowTest, TheStatusTextIsDrawnAtThePumpNotForEveryFragment) {
  TWindowRig rig;
  rig.Choose(SamplePath());
  TStatusTextCounter counter(rig.Control(ids::kRzStatusBar1));
  std::wstring shownDuringScan;
  rig.window.SetOnChunk([&](int chunk) {
    // Once the status timer has run out, the pump shows the count so far.
    if (chunk == 3) {
      ::Sleep(150);
      rig.window.TMainWindow::ProcessPendingMessages();
      shownDuringScan = rig.StatusText();
    }
  });
  rig.Click(ids::kButton2);

  const std::int64_t fragments = rig.window.Main().LastScan().Fragments;
  ASSERT_GT(fragments, 20);
  EXPECT_EQ(shownDuringScan.rfind(L"碎片：", 0), 0u) << Utf8FromWide(shownDuringScan);
  EXPECT_NE(shownDuringScan, L"碎片：" + std::to_wstring(fragments)) << "a count from the middle";
  // Once during the scan and once at the command's end, not once for every fragment.
  EXPECT_LE(counter.Count(), 3) << fragments << " fragments";
  EXPECT_EQ(rig.StatusText(), L"碎片：" + std::to_wstring(fragments)) << "the last count shows";
}

TEST_F(Win32MainWindowTest, ALinkTurnsPurpleOnlyWhenItOpened) {
  TWindowRig rig;
  const HWND link = rig.Control(ids::kRzURLLabel2);
  const auto click = [&] {
    ::SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    ::SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  };
  rig.dialogs.OpenUrlSucceeds = false;
  click();
  ASSERT_EQ(rig.dialogs.OpenedUrls.size(), 1u);
  EXPECT_EQ(rig.window.Link(ids::kRzURLLabel2).TextColour(), ::GetSysColor(COLOR_HIGHLIGHT));
  EXPECT_TRUE(rig.dialogs.Errors.empty() && rig.dialogs.Messages.empty());

  rig.dialogs.OpenUrlSucceeds = true;
  click();
  EXPECT_EQ(rig.window.Link(ids::kRzURLLabel2).TextColour(), RGB(128, 0, 128));
  EXPECT_EQ(rig.dialogs.OpenedUrls.back(), WideFromUtf8(QUILLON_WEB_ADDRESS));
  EXPECT_EQ(rig.window.Link(ids::kRzURLLabel1).TextColour(), ::GetSysColor(COLOR_HIGHLIGHT));
}

TEST_F(Win32MainWindowTest, TheSourceMenuOpensBelowRecBtnAndTheDialogsAreSetUp) {
  TWindowRig rig;
  rig.dialogs.MenuChoice = "Openimage";
  rig.dialogs.OpenAnswer = SamplePath();
  // A press on RecBtn's caption, not on its arrow, drops the menu down. The release
  // already waits in the queue while the press is handled, as it does for a quick click.
  const HWND toolbar = rig.window.Toolbar().Handle();
  const RECT recBtn = rig.window.Toolbar().ButtonRect(ids::kRecBtn);
  const LPARAM onCaption = MAKELPARAM(recBtn.left + 10, recBtn.bottom - 8);
  ::PostMessageW(toolbar, WM_LBUTTONUP, 0, onCaption);
  ::SendMessageW(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, onCaption);
  Pump();
  ASSERT_EQ(rig.dialogs.MenusShown.size(), 1u) << "one click, one menu";
  EXPECT_FALSE(::SendMessageW(toolbar, TB_ISBUTTONPRESSED, ids::kRecBtn, 0));
  rig.dialogs.SaveAnswer = rig.output;
  rig.Click(ids::kSaveBtn);
  rig.dialogs.SaveAnswer.reset();
  rig.Click(ids::kSaveBtn);  // cancelled: opens with the last name, logs it again

  POINT below{recBtn.left, recBtn.bottom};
  ::ClientToScreen(toolbar, &below);
  EXPECT_EQ(rig.dialogs.LastMenuPosition.x, below.x);
  EXPECT_EQ(rig.dialogs.LastMenuPosition.y, below.y);
  EXPECT_EQ(rig.dialogs.MenusShown.back(), (std::vector<std::string>{"Openimage", "-"}));
  EXPECT_EQ(rig.dialogs.MenuCaptions.back().front(), L"打开磁盘镜像");

  ASSERT_EQ(rig.dialogs.FileDialogs.size(), 3u);
  const TFileDialogSettings& od = rig.dialogs.FileDialogs[0];
  EXPECT_TRUE(od.Kind == TFileDialogSettings::TKind::Open);
  EXPECT_TRUE(od.Filter.empty() && od.DefaultExtension.empty() && od.FileName.empty());
  for (std::size_t i = 1; i < 3; ++i) {
    const TFileDialogSettings& sd = rig.dialogs.FileDialogs[i];
    EXPECT_TRUE(sd.Kind == TFileDialogSettings::TKind::Save);
    EXPECT_TRUE(sd.Filter.empty() && sd.DefaultExtension.empty() && sd.ConfirmOverwrite);
  }
  EXPECT_TRUE(rig.dialogs.FileDialogs[1].FileName.empty());
  EXPECT_EQ(rig.dialogs.FileDialogs[2].FileName, rig.output);

  EXPECT_EQ(rig.LogLines(), (std::vector<std::wstring>{L"扫描存储介质: " + SamplePath(),
                                                       L"数据库碎片保存路径为: " + rig.output,
                                                       L"数据库碎片保存路径为: " + rig.output}));
  EXPECT_EQ(rig.window.Main().SourceSize, kSampleSize);
}

TEST_F(Win32MainWindowTest, AScanFromTheToolbarFollowsTheStateTable) {
  TWindowRig rig;
  rig.Choose(SamplePath());
  const TStates before = rig.States();
  EXPECT_TRUE(before.RecBtn && before.SaveBtn && before.Start && before.Stop);

  std::vector<TStates> during;
  rig.window.SetOnChunk([&](int) { during.push_back(rig.States()); });
  rig.Click(ids::kButton2);

  ASSERT_EQ(during.size(), 5u);
  for (const TStates& states : during) {
    EXPECT_TRUE(states.RecBtn && states.SaveBtn && !states.Start && states.Stop);
    EXPECT_EQ(states.GaugeMax, 1028);  // KiB
  }
  // Taken before the chunk sets the gauge: the third chunk shows the second's 256 KiB.
  EXPECT_EQ(during[2].Gauge, L"24%");
  const TStates after = rig.States();
  EXPECT_TRUE(after.RecBtn && after.SaveBtn && after.Start && after.Stop);
  EXPECT_EQ(after.Gauge, L"0%");

  const TFragmentFileReport report = rig.ReadOutput();
  EXPECT_EQ(report.State, TFragmentFileState::Complete) << report.Problem;
  EXPECT_GT(report.Fragments, 0u);
  EXPECT_EQ(after.Status, L"碎片：" + std::to_wstring(report.Fragments));

  ASSERT_EQ(rig.dialogs.Messages.size(), 2u);
  EXPECT_EQ(rig.dialogs.Messages[0].Text, std::to_wstring(kSampleSize));
  EXPECT_EQ(rig.dialogs.Messages[1].Text, L"完成！");
  for (const auto& box : rig.dialogs.Messages) {
    EXPECT_EQ(box.Title, kTitle);
    EXPECT_FALSE(box.ClosedAtOnce);
  }
  EXPECT_TRUE(rig.dialogs.Errors.empty());
  const std::vector<std::wstring> log = rig.LogLines();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(std::vector<std::wstring>(log.begin() + 2, log.end()),
            (std::vector<std::wstring>{L"======================================================",
                                       L"开始扫描!", kClosingLine}));
  EXPECT_TRUE(::IsWindowVisible(rig.Main()));
}

TEST_F(Win32MainWindowTest, StopTakenByTheMessagePumpFinishesTheFile) {
  TWindowRig rig;
  rig.Choose(SamplePath());
  // Posted during the first chunk's turn, the click is dispatched at the second's.
  rig.window.SetOnChunk([&](int chunk) {
    if (chunk == 1) ::PostMessageW(rig.Main(), WM_COMMAND, ids::kButton1, 0);
  });
  rig.Click(ids::kButton2);

  EXPECT_EQ(rig.window.Main().LastScan().End, TScanEnd::Stopped);
  EXPECT_EQ(rig.window.Main().LastScan().BytesScanned, std::int64_t{262144});
  EXPECT_EQ(rig.ReadOutput().State, TFragmentFileState::Complete);
  EXPECT_EQ(rig.States().Gauge, L"0%");
  EXPECT_TRUE(rig.States().Start);
  EXPECT_EQ(rig.dialogs.Messages.back().Text, L"完成！");
  EXPECT_FALSE(rig.dialogs.Messages.back().ClosedAtOnce);
  EXPECT_EQ(rig.LogLines().back(), kClosingLine);
  EXPECT_TRUE(::IsWindowVisible(rig.Main()));
}

TEST_F(Win32MainWindowTest, ACloseRequestDuringAScanEndsTheProgramAfterTheScan) {
  TWindowRig rig;
  rig.Choose(SamplePath());
  const std::size_t menusBefore = rig.dialogs.MenusShown.size();
  std::vector<bool> visible;
  rig.window.SetOnChunk([&](int chunk) {
    // The second close request changes nothing.
    if (chunk == 2 || chunk == 3) ::PostMessageW(rig.Main(), WM_CLOSE, 0, 0);
    // After the request the window stays open and usable until the scan ends: the source
    // menu still opens.
    if (chunk == 4) rig.Click(ids::kRecBtn);
    visible.push_back(::IsWindow(rig.Main()) && ::IsWindowVisible(rig.Main()));
  });
  rig.Click(ids::kButton2);

  EXPECT_EQ(visible, std::vector<bool>(6, true));  // five chunks and the menu's own turn
  EXPECT_EQ(rig.window.Main().LastScan().End, TScanEnd::Completed);
  EXPECT_EQ(rig.window.Main().LastScan().BytesScanned, kSampleSize);
  EXPECT_EQ(rig.ReadOutput().State, TFragmentFileState::Complete);
  EXPECT_EQ(rig.dialogs.Messages.back().Text, L"完成！");
  EXPECT_TRUE(rig.dialogs.Messages.back().ClosedAtOnce);
  EXPECT_EQ(rig.dialogs.MenusShown.size(), menusBefore + 1);
  EXPECT_TRUE(rig.dialogs.Errors.empty());

  std::optional<WPARAM> quit;
  Pump(&quit);  // the message loop closes the window and ends the program with 0
  EXPECT_FALSE(::IsWindow(rig.Main()));
  EXPECT_EQ(quit, std::optional<WPARAM>(0));
}

// The fifth command: the sample recovered into a chosen folder through the button, both
// start buttons locked meanwhile, and the report handed to the shell's "open".
TEST_F(Win32MainWindowTest, TheRecoverButtonRecoversTheSampleAndOpensTheReport) {
  TWindowRig rig;
  rig.dialogs.MenuChoice = "Openimage";
  rig.dialogs.OpenAnswer = SamplePath();
  rig.Click(ids::kRecBtn);
  const std::wstring folder = (rig.folder / L"recovered").wstring();
  rig.dialogs.FolderAnswer = folder;
  std::vector<bool> locked;
  rig.window.SetOnChunk([&](int) {
    const TToolbar& bar = rig.window.Toolbar();
    locked.push_back(!bar.IsEnabled(ids::kButton2) && !bar.IsEnabled(ids::kRecoverBtn) &&
                     bar.IsEnabled(ids::kButton1));
  });
  rig.Click(ids::kRecoverBtn);

  EXPECT_EQ(rig.dialogs.FolderDialogs, 1);
  EXPECT_TRUE(rig.dialogs.Errors.empty()) << (rig.dialogs.Errors.empty() ? "" : Utf8FromWide(rig.dialogs.Errors[0].Text));
  EXPECT_GT(locked.size(), 5u);
  EXPECT_EQ(locked, std::vector<bool>(locked.size(), true));
  EXPECT_TRUE(rig.window.Toolbar().IsEnabled(ids::kButton2));
  EXPECT_TRUE(rig.window.Toolbar().IsEnabled(ids::kRecoverBtn));
  const std::wstring report = folder + L"/report.html";
  ASSERT_EQ(rig.dialogs.OpenedUrls.size(), 1u);
  EXPECT_EQ(fs::path(rig.dialogs.OpenedUrls[0]), fs::path(report));
  EXPECT_TRUE(fs::is_regular_file(report));
  EXPECT_TRUE(fs::is_regular_file(folder + L"/database-1.sqlite"));
  EXPECT_TRUE(fs::is_regular_file(folder + L"/database-1.xlsx"));  // the workbook too
  EXPECT_EQ(rig.StatusText(), L"碎片：235");
  EXPECT_EQ(rig.States().Gauge, L"0%");
  const std::vector<std::wstring> log = rig.LogLines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2].rfind(L"恢复完成：1 个数据库，2 张表，978 行数据，保存在: ", 0), 0u);
  EXPECT_EQ(rig.dialogs.Messages.back().Text, L"完成！");
  EXPECT_TRUE(::IsWindowVisible(rig.Main()));
}

TEST_F(Win32MainWindowTest, AnEndingSessionWaitsForTheScanOrFinishesTheFileBeforeItEnds) {
  TWindowRig rig;
  rig.Choose(SamplePath());
  EXPECT_TRUE(::SendMessageW(rig.Main(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF))
      << "without a scan the session may end";
  LRESULT mayEnd = TRUE;
  std::optional<TFragmentFileReport> whenEnded;
  rig.window.SetOnChunk([&](int chunk) {
    // Asked during a scan, the window says no (and names its reason to Windows).
    if (chunk == 2) mayEnd = ::SendMessageW(rig.Main(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    // Ended anyway: the process may be gone the moment WM_ENDSESSION returns, so by then the
    // file must be complete on disk, not at the next chunk.
    if (chunk == 3) {
      ::SendMessageW(rig.Main(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
      whenEnded = rig.ReadOutput();
    }
  });
  rig.Click(ids::kButton2);

  EXPECT_FALSE(mayEnd);
  ASSERT_TRUE(whenEnded.has_value());
  EXPECT_EQ(whenEnded->State, TFragmentFileState::Complete) << whenEnded->Problem;
  EXPECT_EQ(rig.window.Main().LastScan().End, TScanEnd::Stopped);
  EXPECT_LT(rig.window.Main().LastScan().BytesScanned, kSampleSize);
  const TFragmentFileReport after = rig.ReadOutput();
  EXPECT_EQ(after.State, TFragmentFileState::Complete);
  EXPECT_EQ(after.Fragments, whenEnded->Fragments) << "nothing was written after the end";
  EXPECT_TRUE(rig.dialogs.Errors.empty());
  EXPECT_TRUE(rig.dialogs.Messages.back().ClosedAtOnce);
  std::optional<WPARAM> quit;
  Pump(&quit);
  EXPECT_FALSE(::IsWindow(rig.Main()));
  EXPECT_EQ(quit, std::optional<WPARAM>(0));
}

TEST_F(Win32MainWindowTest, ClosingWhileIdleEndsTheProgramAtOnce) {
  TWindowRig rig;
  ::SendMessageW(rig.Main(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(::IsWindow(rig.Main()));
  std::optional<WPARAM> quit;
  Pump(&quit);
  EXPECT_EQ(quit, std::optional<WPARAM>(0));
}

TEST_F(Win32MainWindowTest, FailuresGoToTheErrorDisplayAndTheWindowGoesOn) {
  TWindowRig rig;
  const std::wstring missing = (rig.folder / L"gone.img").wstring();
  rig.Choose(missing);
  ASSERT_EQ(rig.dialogs.Errors.size(), 1u);
  EXPECT_EQ(rig.dialogs.Errors[0].Title, kTitle);
  EXPECT_EQ(rig.dialogs.Errors[0].Text.rfind(L"Cannot open file \"" + missing + L"\". ", 0), 0u)
      << Utf8FromWide(rig.dialogs.Errors[0].Text);
  // Ends as a sentence: the system's reason in Chinese ends with its own full stop, which
  // takes no '.' after it.
  const wchar_t last = rig.dialogs.Errors[0].Text.back();
  EXPECT_TRUE(last == L'.' || last == L'\x3002') << Utf8FromWide(rig.dialogs.Errors[0].Text);
  EXPECT_EQ(rig.dialogs.Errors[0].Text.find(L"\x3002."), std::wstring::npos);

  // The scan of the same path fails too, after its cleanup; the window still works.
  rig.Click(ids::kButton2);
  EXPECT_EQ(rig.dialogs.Errors.size(), 2u);
  EXPECT_EQ(rig.dialogs.Messages.back().Text, L"完成！");
  EXPECT_TRUE(rig.States().Start);
  rig.Choose(SamplePath());
  rig.Click(ids::kButton2);
  EXPECT_EQ(rig.ReadOutput().State, TFragmentFileState::Complete);
  EXPECT_EQ(rig.dialogs.Errors.size(), 2u);
}

TEST_F(Win32MainWindowTest, PendingMessagesRunAndAQuitGoesBackToTheLoop) {
  TWindowRig rig;
  ::PostMessageW(rig.Main(), WM_COMMAND, ids::kButton1, 0);
  ::PostQuitMessage(7);
  rig.window.TMainWindow::ProcessPendingMessages();
  EXPECT_TRUE(rig.window.Main().StopRequested) << "the posted stop was dispatched";
  MSG message;
  ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 7u);
}

TEST_F(Win32MainWindowTest, TheLogKeepsEveryLineAndShowsItsEnd) {
  TWindowRig rig;
  // Far beyond the 32K characters a rich edit holds unless told otherwise.
  const std::string line = "数据库碎片保存路径为: C:\\扫描结果\\" + std::string(200, 'x') + ".frag";
  for (int i = 0; i < 200; ++i) rig.window.AppendLogLine(line + " " + std::to_string(i));
  Pump();
  const std::vector<std::wstring> log = rig.LogLines();
  ASSERT_EQ(log.size(), 200u);
  EXPECT_EQ(log.back(), WideFromUtf8(line + " 199"));
  // Lines wrap, so the last of them lies far below line 200 of the control.
  const HWND memo = rig.Control(ids::kMemo2);
  EXPECT_GT(::SendMessageW(memo, EM_GETFIRSTVISIBLELINE, 0, 0), 200) << "scrolled to the end";
}

TEST_F(Win32MainWindowTest, TheLayoutScalesWithTheSystemDpi) {
  // At 96 dots per inch this restates the layout; scripts/test-windows.sh runs it once more
  // at 144 (150%), set through Wine's LogPixels.
  const HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  const auto scaled = [dpi](int pixels) { return ::MulDiv(pixels, dpi, 96); };
  std::printf("system DPI %d\n", dpi);

  TWindowRig rig;
  const int width = scaled(789);
  EXPECT_EQ(ClientSize(rig.Main()).cx, width);
  EXPECT_EQ(ClientSize(rig.Main()).cy, scaled(400));
  EXPECT_EQ(RectIn(rig.Control(ids::kRzToolbar1), rig.Main()), Rect(0, 0, width, scaled(44)));
  EXPECT_EQ(RectIn(rig.Control(ids::kRzStatusBar1), rig.Main()),
            Rect(0, scaled(400) - scaled(19), width, scaled(19)));
  const HWND panel = rig.Control(ids::kRzPanel1);
  EXPECT_EQ(RectIn(rig.Control(ids::kMemo2), panel).left, ClientSize(panel).cx - scaled(499));
  EXPECT_EQ(RectIn(rig.Control(ids::kRzURLLabel1), panel).top, scaled(280));
  EXPECT_EQ(RectIn(rig.Control(ids::kLabel1), panel).right, scaled(289));
  LOGFONTW font{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(rig.Control(ids::kRzURLLabel1), WM_GETFONT,
                                                      0, 0)),
               sizeof font, &font);
  EXPECT_EQ(font.lfHeight, -scaled(13));

  const TToolbar& toolbar = rig.window.Toolbar();
  RECT button = toolbar.ButtonRect(ids::kRecBtn);
  ::MapWindowPoints(toolbar.Handle(), rig.Control(ids::kRzToolbar1),
                    reinterpret_cast<POINT*>(&button), 2);
  EXPECT_EQ(button.left, scaled(4));
  EXPECT_EQ(button.top, scaled(2));
  EXPECT_EQ(button.right - button.left, scaled(74));
  // The control sizes a button to its icon and caption once it has them: Wine 8 makes it
  // 41 pixels at 96 and 58 at 144 for the 40 asked for.
  EXPECT_NEAR(button.bottom - button.top, scaled(40), 2);
  int iconWidth = 0, iconHeight = 0;
  ImageList_GetIconSize(
      reinterpret_cast<HIMAGELIST>(::SendMessageW(toolbar.Handle(), TB_GETIMAGELIST, 0, 0)),
      &iconWidth, &iconHeight);
  EXPECT_EQ(iconWidth, scaled(TToolbar::kIconSize));
  RECT segLabel{};
  ::SendMessageW(rig.Control(ids::kRzStatusBar1), SB_GETRECT, ids::kSegLabelPart,
                 reinterpret_cast<LPARAM>(&segLabel));
  EXPECT_NEAR(segLabel.right, scaled(200), 2);
  // The program's icon on the window, from the resources (the test program has them too).
  EXPECT_NE(::GetClassLongPtrW(rig.Main(), GCLP_HICON), 0);
}

TEST(Win32StartUp, LibrariesComeFromTheSystemFolderOnly) {
  wchar_t system[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(length, 0u);
  const HMODULE edit = LoadSystemLibrary(L"Msftedit.dll");
  ASSERT_NE(edit, nullptr);
  wchar_t loaded[MAX_PATH];
  ::GetModuleFileNameW(edit, loaded, MAX_PATH);
  EXPECT_EQ(::CompareStringOrdinal(loaded, static_cast<int>(length), system,
                                   static_cast<int>(length), TRUE),
            CSTR_EQUAL)
      << Utf8FromWide(loaded);

  // quillon-planted.dll lies beside this program, as a DLL planted in a Downloads folder.
  wchar_t program[MAX_PATH];
  ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  const std::wstring planted = (fs::path(program).parent_path() / L"quillon-planted.dll").wstring();
  ASSERT_TRUE(fs::exists(planted));
  LoadLibrariesFromSystemFolderOnly();
  EXPECT_EQ(::LoadLibraryW(L"quillon-planted.dll"), nullptr) << "found beside the program";
  const HMODULE byPath = ::LoadLibraryW(planted.c_str());
  EXPECT_NE(byPath, nullptr) << "the DLL itself loads when asked for by its full path";
  if (byPath != nullptr) ::FreeLibrary(byPath);
}

TEST(Win32GaugeControlTest, ShowsTheWholePercentAndRepaintsOnlyWhenItChanges) {
  const HWND parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 40, nullptr,
                                        nullptr, ::GetModuleHandleW(nullptr), nullptr);
  const TFont font = WindowFont(12);
  {
    TGaugeControl gauge(parent, 1, font.get());
    EXPECT_EQ(gauge.Text(), L"0%");
    TGauge model;
    model.SetMax(100000);
    for (int position = 0; position <= 100000; position += 256) {
      model.SetPosition(position);
      gauge.SetGauge(model);
    }
    // 0% is shown already; each of 1% .. 99% once. 100000 is not reached in steps of 256.
    EXPECT_EQ(gauge.RepaintRequests(), 99);
    EXPECT_EQ(gauge.Text(), L"99%");

    model.SetPosition(50000);
    gauge.SetGauge(model);
    ::MoveWindow(gauge.Handle(), 0, 0, 202, 19, FALSE);
    const HDC screen = ::GetDC(nullptr);
    const HDC dc = ::CreateCompatibleDC(screen);
    const HBITMAP canvas = ::CreateCompatibleBitmap(screen, 202, 19);
    const HGDIOBJ old = ::SelectObject(dc, canvas);
    ::SendMessageW(gauge.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    EXPECT_EQ(::GetPixel(dc, 10, 3), RGB(0, 0, 128));
    EXPECT_EQ(::GetPixel(dc, 190, 3), RGB(255, 255, 255));
    EXPECT_NE(::GetPixel(dc, 0, 10), RGB(255, 255, 255)) << "a single-line border";
    ::SelectObject(dc, old);
    ::DeleteObject(canvas);
    ::DeleteDC(dc);
    ::ReleaseDC(nullptr, screen);
  }
  ::DestroyWindow(parent);
}

}  // namespace
}  // namespace quillon
