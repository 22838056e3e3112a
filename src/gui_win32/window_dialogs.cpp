#include "gui_win32/window_dialogs.h"

#include <objbase.h>
#include <shlobj.h>

#include <commdlg.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

#include "gui_win32/popup_menu.h"

namespace quillon {
namespace {

// Answers the first message box to be activated on this thread with OK. Needs no state:
// the hook is removed as soon as the box has returned.
LRESULT CALLBACK CloseBoxAtOnce(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    const HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t className[16] = {};
    ::GetClassNameW(box, className, 16);
    if (lstrcmpW(className, L"#32770") == 0) ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// "Name|pattern|Name|pattern" as the dialogs take it: pairs ended by NULs, and one more.
std::wstring DialogFilter(const std::wstring& filter) {
  std::wstring pairs = filter;
  for (wchar_t& c : pairs) {
    if (c == L'|') c = L'\0';
  }
  pairs.push_back(L'\0');
  pairs.push_back(L'\0');
  return pairs;
}

// What the folder dialog's callback keeps between its messages.
struct TFolderBrowse {
  std::wstring Selected;               // the folder selected in the tree; empty: none
  std::optional<std::wstring> Typed;   // a typed folder that does not exist yet
};

bool IsAbsolutePath(const std::wstring& path) {
  const auto slash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  return (path.size() >= 3 && path[1] == L':' && slash(path[2])) ||
         (path.size() >= 2 && slash(path[0]) && slash(path[1]));
}

// The folder dialog's callback: follows the selection, and takes a typed name the dialog
// finds no folder for (one the recovery is to make) instead of refusing it. A relative name
// lies in the selected folder.
int CALLBACK FolderBrowseCallback(HWND, UINT message, LPARAM lParam, LPARAM data) {
  auto& browse = *reinterpret_cast<TFolderBrowse*>(data);
  if (message == BFFM_SELCHANGED) {
    wchar_t path[MAX_PATH] = {};
    const bool known = ::SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path);
    browse.Selected = known ? path : L"";
    return 0;
  }
  if (message != BFFM_VALIDATEFAILEDW) return 0;
  std::wstring typed = reinterpret_cast<const wchar_t*>(lParam);
  while (!typed.empty() && typed.back() == L' ') typed.pop_back();
  if (typed.empty()) return 1;  // nothing typed: the dialog stays open
  if (!IsAbsolutePath(typed)) {
    if (browse.Selected.empty()) return 1;
    typed = browse.Selected + (browse.Selected.back() == L'\\' ? L"" : L"\\") + typed;
  }
  for (wchar_t& c : typed) {
    if (c == L'/') c = L'\\';
  }
  browse.Typed = std::move(typed);
  return 0;  // the dialog closes with it
}

}  // namespace

void TWin32WindowDialogs::Message(HWND owner, const std::wstring& title, const std::wstring& text,
                                  bool closeAtOnce) {
  HHOOK hook = nullptr;
  if (closeAtOnce) {
    hook = ::SetWindowsHookExW(WH_CBT, CloseBoxAtOnce, nullptr, ::GetCurrentThreadId());
  }
  ::MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK);
  if (hook != nullptr) ::UnhookWindowsHookEx(hook);
}

void TWin32WindowDialogs::Error(HWND owner, const std::wstring& title, const std::wstring& text) {
  ::MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}

bool TWin32WindowDialogs::Question(HWND owner, const std::wstring& title,
                                   const std::wstring& text) {
  return ::MessageBoxW(owner, text.c_str(), title.c_str(),
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

std::optional<std::wstring> TWin32WindowDialogs::FileDialog(HWND owner,
                                                            const TFileDialogSettings& settings) {
  // Room for the longest path the system takes.
  std::vector<wchar_t> path(32768, L'\0');
  settings.FileName.copy(path.data(), path.size() - 1);
  const std::wstring filter = DialogFilter(settings.Filter);

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = settings.Filter.empty() ? nullptr : filter.c_str();
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrDefExt =
      settings.DefaultExtension.empty() ? nullptr : settings.DefaultExtension.c_str();
  // The process's current folder is left alone: relative paths never depend on a dialog.
  dialog.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
  BOOL confirmed = FALSE;
  if (settings.Kind == TFileDialogSettings::TKind::Open) {
    dialog.Flags |= OFN_FILEMUSTEXIST;
    confirmed = ::GetOpenFileNameW(&dialog);
  } else {
    if (settings.ConfirmOverwrite) dialog.Flags |= OFN_OVERWRITEPROMPT;
    confirmed = ::GetSaveFileNameW(&dialog);
  }
  if (!confirmed) return std::nullopt;
  return std::wstring(path.data());
}

UINT TWin32WindowDialogs::PopupMenu(const TPopupMenu& menu, HWND owner, const RECT& button) {
  TPMPARAMS keepClear{};
  keepClear.cbSize = sizeof keepClear;
  keepClear.rcExclude = button;  // near a screen edge the menu opens above, not over it
  // The menu's own window must be in front for a click elsewhere to close it.
  ::SetForegroundWindow(owner);
  return static_cast<UINT>(::TrackPopupMenuEx(
      menu.Handle(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_VERTICAL | TPM_RETURNCMD | TPM_NONOTIFY,
      button.left, button.bottom, owner, &keepClear));
}

std::optional<std::wstring> TWin32WindowDialogs::FolderDialog(HWND owner) {
  // The new-style dialog needs COM on this thread; balanced however it ends.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  TFolderBrowse browse;
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  // The edit box takes a typed folder; one that does not exist yet comes back through the
  // callback, as the "Make New Folder" button's folders come back through the tree.
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_EDITBOX | BIF_VALIDATE;
  info.lpfn = FolderBrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(&browse);
  std::optional<std::wstring> chosen;
  if (PIDLIST_ABSOLUTE list = ::SHBrowseForFolderW(&info)) {
    wchar_t path[MAX_PATH] = {};
    if (::SHGetPathFromIDListW(list, path)) chosen = path;
    ::CoTaskMemFree(list);
  }
  if (browse.Typed) chosen = browse.Typed;
  if (SUCCEEDED(com)) ::CoUninitialize();
  return chosen;
}

bool TWin32WindowDialogs::OpenUrl(HWND owner, const std::wstring& url) {
  // Above 32 means the handler was started; the call does not wait for it.
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(owner, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

}  // namespace quillon
