#include "gui_win32/toolbar.h"

#include <vector>

#include "core/errors.h"
#include "gui_win32/window_base.h"

namespace quillon {

TToolbar::TToolbar(HWND parent, HWND notified, HFONT font, int iconSize) {
  // Placed by the parent's layout (CCS_NORESIZE, CCS_NOPARENTALIGN), not by itself; the
  // parent's background shows between the buttons (TBSTYLE_TRANSPARENT).
  toolbar_ =
      ::CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBSTYLE_FLAT |
                            TBSTYLE_TRANSPARENT | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER,
                        0, 0, 0, 0, parent, nullptr, ThisModule(), nullptr);
  if (toolbar_ == nullptr) throw EQuillonError("Cannot create the toolbar");
  ::SendMessageW(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  ::SendMessageW(toolbar_, TB_SETPARENT, reinterpret_cast<WPARAM>(notified), 0);
  ::SendMessageW(toolbar_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ::SendMessageW(toolbar_, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
  icons_ = MakeToolImageList(iconSize, false);
  greyedIcons_ = MakeToolImageList(iconSize, true);
  ::SendMessageW(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(icons_));
  ::SendMessageW(toolbar_, TB_SETDISABLEDIMAGELIST, 0, reinterpret_cast<LPARAM>(greyedIcons_));
}

TToolbar::~TToolbar() {
  // The window itself goes with its parent, which must be destroyed first.
  ImageList_Destroy(icons_);
  ImageList_Destroy(greyedIcons_);
}

void TToolbar::AddButton(int command, const std::wstring& caption, int image, int width,
                         bool dropDown) {
  std::wstring text = caption;
  TBBUTTON button{};
  button.iBitmap = image;
  button.idCommand = command;
  button.fsState = TBSTATE_ENABLED;
  button.fsStyle = static_cast<BYTE>(BTNS_BUTTON | (dropDown ? BTNS_WHOLEDROPDOWN : 0));
  button.iString = reinterpret_cast<INT_PTR>(text.c_str());
  ::SendMessageW(toolbar_, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));

  TBBUTTONINFOW size{};
  size.cbSize = sizeof size;
  size.dwMask = TBIF_SIZE;
  size.cx = static_cast<WORD>(width);
  ::SendMessageW(toolbar_, TB_SETBUTTONINFOW, command, reinterpret_cast<LPARAM>(&size));
}

void TToolbar::SetLayout(int left, int height) {
  ::SendMessageW(toolbar_, TB_SETINDENT, left, 0);
  // The height of every button; the widths set per button stay.
  const auto size = static_cast<DWORD>(::SendMessageW(toolbar_, TB_GETBUTTONSIZE, 0, 0));
  ::SendMessageW(toolbar_, TB_SETBUTTONSIZE, 0, MAKELPARAM(LOWORD(size), height));
}

void TToolbar::SetEnabled(int command, bool enabled) {
  ::SendMessageW(toolbar_, TB_ENABLEBUTTON, command, MAKELPARAM(enabled ? TRUE : FALSE, 0));
}

bool TToolbar::IsEnabled(int command) const {
  return ::SendMessageW(toolbar_, TB_ISBUTTONENABLED, command, 0) != 0;
}

RECT TToolbar::ButtonRect(int command) const {
  RECT rect{};
  ::SendMessageW(toolbar_, TB_GETRECT, command, reinterpret_cast<LPARAM>(&rect));
  return rect;
}

std::wstring TToolbar::Caption(int command) const {
  const LRESULT length = ::SendMessageW(toolbar_, TB_GETBUTTONTEXTW, command, 0);
  if (length <= 0) return {};
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
  ::SendMessageW(toolbar_, TB_GETBUTTONTEXTW, command, reinterpret_cast<LPARAM>(text.data()));
  return text.data();
}

}  // namespace quillon
