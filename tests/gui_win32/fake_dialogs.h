#pragma once
// Dialogs for window tests: every box, file dialog and menu is recorded and answered at
// once from what the test has set, so no test waits for a user.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "gui_win32/popup_menu.h"
#include "gui_win32/window_dialogs.h"

namespace quillon::testing {

class TFakeDialogs : public IWindowDialogs {
 public:
  struct TBox {
    std::wstring Title;
    std::wstring Text;
    bool ClosedAtOnce = false;
  };
  std::vector<TBox> Messages;
  std::vector<TBox> Errors;
  std::vector<TBox> Questions;
  bool QuestionAnswer = true;

  std::vector<TFileDialogSettings> FileDialogs;  // the settings at each showing
  std::optional<std::wstring> OpenAnswer;        // od: confirmed path, or a cancel
  std::optional<std::wstring> SaveAnswer;        // sd: confirmed path, or a cancel

  std::string MenuChoice;  // the name of the entry to pick; empty picks nothing
  std::vector<std::vector<std::string>> MenusShown;     // entries' names, "-" for a separator
  std::vector<std::vector<std::wstring>> MenuCaptions;  // as the system menu holds them
  POINT LastMenuPosition{-1, -1};

  bool OpenUrlSucceeds = true;
  std::vector<std::wstring> OpenedUrls;

  void Message(HWND, const std::wstring& title, const std::wstring& text,
               bool closeAtOnce) override {
    Messages.push_back({title, text, closeAtOnce});
  }
  void Error(HWND, const std::wstring& title, const std::wstring& text) override {
    Errors.push_back({title, text, false});
  }
  bool Question(HWND, const std::wstring& title, const std::wstring& text) override {
    Questions.push_back({title, text, false});
    return QuestionAnswer;
  }
  std::optional<std::wstring> FileDialog(HWND, const TFileDialogSettings& settings) override {
    FileDialogs.push_back(settings);
    return settings.Kind == TFileDialogSettings::TKind::Open ? OpenAnswer : SaveAnswer;
  }
  UINT PopupMenu(const TPopupMenu& menu, HWND, const RECT& button) override {
    LastMenuPosition = {button.left, button.bottom};
    std::vector<std::string> names;
    std::vector<std::wstring> captions;
    UINT chosen = 0;
    const int count = ::GetMenuItemCount(menu.Handle());
    for (int i = 0; i < count; ++i) {
      wchar_t caption[256] = {};
      ::GetMenuStringW(menu.Handle(), i, caption, 256, MF_BYPOSITION);
      const UINT command = ::GetMenuItemID(menu.Handle(), i);
      const std::optional<std::string> name = menu.NameOf(command);
      names.push_back(name ? *name : "-");
      captions.push_back(caption);
      if (name && !MenuChoice.empty() && *name == MenuChoice) chosen = command;
    }
    MenusShown.push_back(names);
    MenuCaptions.push_back(captions);
    return chosen;
  }
  std::optional<std::wstring> FolderAnswer;  // the folder dialog: chosen folder, or a cancel
  int FolderDialogs = 0;
  std::optional<std::wstring> FolderDialog(HWND) override {
    ++FolderDialogs;
    return FolderAnswer;
  }
  bool OpenUrl(HWND, const std::wstring& url) override {
    OpenedUrls.push_back(url);
    return OpenUrlSucceeds;
  }
};

}  // namespace quillon::testing
