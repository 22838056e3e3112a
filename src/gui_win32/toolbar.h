#pragma once
// RzToolbar1: the common toolbar control with buttons that show an icon above their
// caption, and a greyed icon while disabled. A drop-down button reports a click anywhere
// on it, arrow or not, as TBN_DROPDOWN; the others send WM_COMMAND with their command.

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "gui_win32/icons.h"

namespace quillon {

class TToolbar {
 public:
  static constexpr int kIconSize = window::kToolIconSize;  // at 96 dots per inch

  // Creates the control as a child of parent, with its icons (iconSize pixels square) and
  // font; its clicks and drop-downs go to notified.
  TToolbar(HWND parent, HWND notified, HFONT font, int iconSize = kIconSize);
  TToolbar(const TToolbar&) = delete;
  TToolbar& operator=(const TToolbar&) = delete;
  // Frees the icons; the control itself goes with its parent, which is destroyed first.
  ~TToolbar();

  HWND Handle() const { return toolbar_; }

  // One more button at the right end, width pixels wide (an arrow included), with the
  // icon at image of the image lists.
  void AddButton(int command, const std::wstring& caption, int image, int width, bool dropDown);
  // Puts the buttons left pixels from the left edge, height pixels high, or as high as their
  // icon and caption need where that is more. Before the first AddButton: the control takes
  // the button size only before it has buttons.
  void SetLayout(int left, int height);
  void SetEnabled(int command, bool enabled);
  bool IsEnabled(int command) const;
  // The button's rectangle in the toolbar's client coordinates.
  RECT ButtonRect(int command) const;
  std::wstring Caption(int command) const;

 private:
  HWND toolbar_ = nullptr;
  HIMAGELIST icons_ = nullptr;
  HIMAGELIST greyedIcons_ = nullptr;
};

}  // namespace quillon
