#include "gui_win32/window_base.h"

#include <string>

#include "core/errors.h"

namespace quillon {

TWindowBase::~TWindowBase() { Destroy(); }

HINSTANCE ThisModule() { return ::GetModuleHandleW(nullptr); }

void TWindowBase::RegisterWindowClass(const wchar_t* className, HCURSOR cursor, HBRUSH background,
                                      HICON icon) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &TWindowBase::Procedure;
  windowClass.hInstance = ThisModule();
  windowClass.hCursor = cursor;
  // The small icon is taken from the same resource, at its own size.
  windowClass.hIcon = icon;
  windowClass.hbrBackground = background;
  windowClass.lpszClassName = className;
  ::RegisterClassExW(&windowClass);  // fails harmlessly when the class exists
}

void TWindowBase::Create(DWORD exStyle, const wchar_t* className, const wchar_t* text, DWORD style,
                         int x, int y, int width, int height, HWND parent, HMENU menuOrId) {
  ::CreateWindowExW(exStyle, className, text, style, x, y, width, height, parent, menuOrId,
                    ThisModule(), this);
  if (hwnd_ == nullptr) {
    throw EQuillonError("Cannot create a window (error " + std::to_string(::GetLastError()) + ")");
  }
}

void TWindowBase::Destroy() {
  if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
}

LRESULT TWindowBase::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK TWindowBase::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<TWindowBase*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TWindowBase*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  // Messages before WM_NCCREATE (WM_GETMINMAXINFO) find no object yet.
  if (self == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  const LRESULT result = self->HandleMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

}  // namespace quillon
