#include "gui_win32/url_label.h"

#include <windowsx.h>

#include "gui_win32/window_dialogs.h"

namespace quillon {
namespace {

constexpr wchar_t kClassName[] = L"QuillonUrlLabel";

SIZE TextSize(const std::wstring& text, HFONT font) {
  SIZE size{0, 0};
  const HDC dc = ::GetDC(nullptr);
  const HGDIOBJ old = ::SelectObject(dc, font);
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return size;
}

}  // namespace

TUrlLabel::TUrlLabel(const std::wstring& caption, const std::wstring& url, IWindowDialogs& dialogs,
                     HWND parent, int id, int x, int y, HFONT font)
    : caption_(caption), url_(url), dialogs_(dialogs), font_(font) {
  RegisterWindowClass(kClassName, ::LoadCursorW(nullptr, IDC_HAND), nullptr);
  const SIZE size = TextSize(caption_, font_);
  Create(0, kClassName, caption_.c_str(), WS_CHILD | WS_VISIBLE, x, y, size.cx, size.cy, parent,
         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)));
}

TUrlLabel::~TUrlLabel() { Destroy(); }

COLORREF TUrlLabel::TextColour() const {
  return visited_ ? kVisitedColour : ::GetSysColor(COLOR_HIGHLIGHT);
}

LRESULT TUrlLabel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = ::BeginPaint(Handle(), &paint);
      Paint(dc);
      ::EndPaint(Handle(), &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_SETCURSOR:
      ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
      return TRUE;
    case WM_LBUTTONDOWN:
      pressed_ = true;
      ::SetCapture(Handle());
      return 0;
    case WM_LBUTTONUP: {
      // A click is a press and a release on the label; releasing elsewhere cancels it.
      const bool wasPressed = pressed_;
      pressed_ = false;
      if (::GetCapture() == Handle()) ::ReleaseCapture();
      RECT client;
      ::GetClientRect(Handle(), &client);
      const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (wasPressed && ::PtInRect(&client, at)) Clicked();
      return 0;
    }
    case WM_CAPTURECHANGED:
      pressed_ = false;
      return 0;
    default:
      return TWindowBase::HandleMessage(message, wParam, lParam);
  }
}

void TUrlLabel::Paint(HDC dc) {
  RECT client;
  ::GetClientRect(Handle(), &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
  const HGDIOBJ old = ::SelectObject(dc, font_);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, TextColour());
  ::DrawTextW(dc, caption_.c_str(), static_cast<int>(caption_.size()), &client,
              DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  ::SelectObject(dc, old);
}

void TUrlLabel::Clicked() {
  // A link that cannot be opened is not reported.
  if (!dialogs_.OpenUrl(::GetAncestor(Handle(), GA_ROOT), url_)) return;
  visited_ = true;
  ::InvalidateRect(Handle(), nullptr, TRUE);
}

}  // namespace quillon
