#pragma once
// Everything in the window that waits for the user or hands work to the desktop: message
// boxes, the file dialogs, the source menu and the link handler. Tests answer in its place.

#include <windows.h>

#include <optional>
#include <string>

namespace quillon {

class TPopupMenu;

// What the commands set on od and sd before showing them.
struct TFileDialogSettings {
  enum class TKind { Open, Save };
  TKind Kind = TKind::Open;
  std::wstring Filter;            // "Name|pattern|..." pairs; empty: all files are listed
  std::wstring DefaultExtension;  // empty: nothing is appended to a typed name
  std::wstring FileName;          // pre-filled; empty: none
  bool ConfirmOverwrite = false;
};

class IWindowDialogs {
 public:
  virtual ~IWindowDialogs() = default;

  // A modal box over owner: the title, the text and OK, no icon. With closeAtOnce the box
  // closes by itself as soon as it is shown.
  virtual void Message(HWND owner, const std::wstring& title, const std::wstring& text,
                       bool closeAtOnce) = 0;
  // The default error display: like Message, with the error icon.
  virtual void Error(HWND owner, const std::wstring& title, const std::wstring& text) = 0;
  // A modal question with Yes and No, No as the default; true for Yes.
  virtual bool Question(HWND owner, const std::wstring& title, const std::wstring& text) = 0;
  // Returns the full path of the confirmed file, or nothing when cancelled.
  virtual std::optional<std::wstring> FileDialog(HWND owner,
                                                 const TFileDialogSettings& settings) = 0;
  // Opens menu with its top left corner at the bottom left of button (screen coordinates)
  // and waits. Returns the chosen entry's command, or 0.
  // The system's folder dialog: the chosen folder's full path, or nothing when cancelled.
  virtual std::optional<std::wstring> FolderDialog(HWND owner) = 0;
  virtual UINT PopupMenu(const TPopupMenu& menu, HWND owner, const RECT& button) = 0;
  // Hands url to the desktop's default handler without waiting. Returns false on failure.
  virtual bool OpenUrl(HWND owner, const std::wstring& url) = 0;
};

// The real dialogs of the system.
class TWin32WindowDialogs : public IWindowDialogs {
 public:
  void Message(HWND owner, const std::wstring& title, const std::wstring& text,
               bool closeAtOnce) override;
  void Error(HWND owner, const std::wstring& title, const std::wstring& text) override;
  bool Question(HWND owner, const std::wstring& title, const std::wstring& text) override;
  std::optional<std::wstring> FileDialog(HWND owner, const TFileDialogSettings& settings) override;
  std::optional<std::wstring> FolderDialog(HWND owner) override;
  UINT PopupMenu(const TPopupMenu& menu, HWND owner, const RECT& button) override;
  bool OpenUrl(HWND owner, const std::wstring& url) override;
};

}  // namespace quillon
