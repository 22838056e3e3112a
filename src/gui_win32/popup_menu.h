#pragma once
// pop, the source menu: a Windows popup menu whose entries keep the names TMain gave them,
// so the command the menu returns can be told back as an entry's name.

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

class TPopupMenu {
 public:
  struct TEntry {
    std::string Name;      // UTF-8, as TMain knows the entry; empty for a separator
    std::wstring Caption;  // as given, before "&" is doubled for the menu
    int ImageIndex = -1;
    UINT Command = 0;  // what the menu returns when the entry is chosen; 0 for a separator
    bool Separator = false;
  };

  TPopupMenu();
  TPopupMenu(const TPopupMenu&) = delete;
  TPopupMenu& operator=(const TPopupMenu&) = delete;
  ~TPopupMenu();

  HMENU Handle() const { return menu_; }
  const std::vector<TEntry>& Entries() const { return entries_; }

  void Clear();
  // An entry with the icon of imageIndex (17 drive, 18 volume, 19 image file).
  void AddEntry(const std::string& name, const std::wstring& caption, int imageIndex);
  void AddSeparator();
  // The name of the entry a command belongs to; nothing for 0 (no choice) or a separator.
  std::optional<std::string> NameOf(UINT command) const;

 private:
  HBITMAP IconFor(int imageIndex);

  HMENU menu_;
  std::vector<TEntry> entries_;
  std::map<int, HBITMAP> icons_;  // by image index, made at first use; nullptr for none
};

}  // namespace quillon
