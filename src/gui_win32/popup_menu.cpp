#include "gui_win32/popup_menu.h"

#include "gui_win32/icons.h"

namespace quillon {
namespace {

// A caption as the menu shows it: "&" stands for itself, not for a shortcut.
std::wstring MenuCaption(const std::wstring& caption) {
  std::wstring shown;
  for (const wchar_t c : caption) {
    if (c == L'&') shown += L'&';
    shown += c;
  }
  return shown;
}

}  // namespace

TPopupMenu::TPopupMenu() : menu_(::CreatePopupMenu()) {}

TPopupMenu::~TPopupMenu() {
  ::DestroyMenu(menu_);
  for (const auto& [index, icon] : icons_) {
    if (icon != nullptr) ::DeleteObject(icon);
  }
}

void TPopupMenu::Clear() {
  while (::GetMenuItemCount(menu_) > 0) ::DeleteMenu(menu_, 0, MF_BYPOSITION);
  entries_.clear();
}

void TPopupMenu::AddEntry(const std::string& name, const std::wstring& caption, int imageIndex) {
  // Commands count from 1: the menu returns 0 when nothing is chosen.
  const UINT command = static_cast<UINT>(entries_.size() + 1);
  std::wstring shown = MenuCaption(caption);
  MENUITEMINFOW item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE | MIIM_BITMAP;
  item.fType = MFT_STRING;
  item.wID = command;
  item.dwTypeData = shown.data();
  item.hbmpItem = IconFor(imageIndex);
  ::InsertMenuItemW(menu_, ::GetMenuItemCount(menu_), TRUE, &item);
  entries_.push_back({name, caption, imageIndex, command, false});
}

void TPopupMenu::AddSeparator() {
  ::AppendMenuW(menu_, MF_SEPARATOR, 0, nullptr);
  entries_.push_back({"", L"-", -1, 0, true});
}

std::optional<std::string> TPopupMenu::NameOf(UINT command) const {
  for (const TEntry& entry : entries_) {
    if (!entry.Separator && entry.Command == command) return entry.Name;
  }
  return std::nullopt;
}

HBITMAP TPopupMenu::IconFor(int imageIndex) {
  const auto known = icons_.find(imageIndex);
  if (known != icons_.end()) return known->second;
  const int size = ::GetSystemMetrics(SM_CYMENUCHECK);
  return icons_[imageIndex] = MakeMenuEntryBitmap(imageIndex, size > 0 ? size : 16);
}

}  // namespace quillon
