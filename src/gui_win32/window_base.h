#pragma once
// A window whose procedure is a member function: the object's address travels in the
// creation parameters and then lives in GWLP_USERDATA, so each window class is one small
// C++ class.

#include <windows.h>

namespace quillon {

class TWindowBase {
 public:
  TWindowBase() = default;
  TWindowBase(const TWindowBase&) = delete;
  TWindowBase& operator=(const TWindowBase&) = delete;
  // A derived class destroys its window in its own destructor, while its members live.
  virtual ~TWindowBase();

  // Nothing before Create and after the window is destroyed.
  HWND Handle() const { return hwnd_; }

 protected:
  // Registers a class whose windows run this base's procedure. A second registration
  // of the same name, by another object, is harmless.
  static void RegisterWindowClass(const wchar_t* className, HCURSOR cursor, HBRUSH background,
                                  HICON icon = nullptr);
  // Creates the window; throws EQuillonError when the system refuses.
  void Create(DWORD exStyle, const wchar_t* className, const wchar_t* text, DWORD style, int x,
              int y, int width, int height, HWND parent, HMENU menuOrId);
  void Destroy();

  // Every message after WM_NCCREATE. The default is DefWindowProcW.
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
};

// The module that holds the window code: the program itself, or a test program.
HINSTANCE ThisModule();

}  // namespace quillon
