// The real message boxes of the window: what each kind shows, which button is the
// default, and that the self-closing box closes without anyone answering it.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "gui_win32/window_dialogs.h"

namespace quillon {
namespace {

struct TBoxSeen {
  HWND Box = nullptr;
  std::wstring Title;
  std::wstring Text;
  bool Icon = false;      // a visible icon beside the text
  int DefaultButton = 0;  // the button that has the focus, which Enter presses
};

// What the boxes of this thread looked like; the hook answers each by pressing Enter.
std::vector<TBoxSeen>* seenBoxes = nullptr;

BOOL CALLBACK FindText(HWND child, LPARAM found) {
  wchar_t className[16] = {};
  ::GetClassNameW(child, className, 16);
  const LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE);
  auto* seen = reinterpret_cast<TBoxSeen*>(found);
  if (lstrcmpiW(className, L"Static") != 0 || !(style & WS_VISIBLE)) return TRUE;
  if ((style & SS_TYPEMASK) == SS_ICON) {
    seen->Icon = seen->Icon || ::SendMessageW(child, STM_GETICON, 0, 0) != 0;
  } else {
    wchar_t text[256] = {};
    ::GetWindowTextW(child, text, 256);
    if (text[0] != L'\0') seen->Text = text;
  }
  return TRUE;
}

// Runs inside the box's own message loop, once it is set up: looks and answers.
void CALLBACK InspectAndAnswer(HWND box, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(box, timer);
  TBoxSeen seen;
  seen.Box = box;
  wchar_t title[256] = {};
  ::GetWindowTextW(box, title, 256);
  seen.Title = title;
  ::EnumChildWindows(box, FindText, reinterpret_cast<LPARAM>(&seen));
  // Enter, as a user presses it, goes to the button that has the focus.
  const HWND focus = ::GetFocus();
  seen.DefaultButton = ::GetDlgCtrlID(focus);
  seenBoxes->push_back(seen);
  ::PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 0);
  ::PostMessageW(focus, WM_KEYUP, VK_RETURN, 0);
}

LRESULT CALLBACK AnswerWithEnter(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && seenBoxes != nullptr) {
    const HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t className[16] = {};
    ::GetClassNameW(box, className, 16);
    // Once per box: a box can be activated more than once before it answers.
    if (lstrcmpW(className, L"#32770") == 0) ::SetTimer(box, 1, 50, InspectAndAnswer);
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(Win32WindowDialogsTest, ASelfClosingBoxClosesByItself) {
  TWin32WindowDialogs dialogs;
  const DWORD started = ::GetTickCount();
  // Nobody answers: a box that stayed would hang the test until ctest's time-out.
  dialogs.Message(nullptr, L"Quillon", L"完成！", true);
  EXPECT_LT(::GetTickCount() - started, 10000u);
}

TEST(Win32WindowDialogsTest, BoxesShowTheirIconsAndTheQuestionDefaultsToNo) {
  std::vector<TBoxSeen> boxes;
  seenBoxes = &boxes;
  const HHOOK hook = ::SetWindowsHookExW(WH_CBT, AnswerWithEnter, nullptr, ::GetCurrentThreadId());
  TWin32WindowDialogs dialogs;
  dialogs.Message(nullptr, L"标题", L"请填写数据源以及保存路径信息！", false);
  dialogs.Error(nullptr, L"标题", L"Cannot open file \"C:\\gone.img\". Not found.");
  const bool yes = dialogs.Question(nullptr, L"标题", L"仍要继续扫描吗？");
  ::UnhookWindowsHookEx(hook);
  seenBoxes = nullptr;

  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].Title, L"标题");
  EXPECT_EQ(boxes[0].Text, L"请填写数据源以及保存路径信息！");
  EXPECT_FALSE(boxes[0].Icon) << "a plain message has no icon";
  EXPECT_EQ(boxes[0].DefaultButton, IDOK);
  EXPECT_TRUE(boxes[1].Icon) << "the error display shows the error icon";
  EXPECT_EQ(boxes[2].DefaultButton, IDNO);
  EXPECT_FALSE(yes) << "Enter answers No";
}

}  // namespace
}  // namespace quillon
