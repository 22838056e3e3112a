#pragma once
// A link label: underlined text in the highlight colour with a hand cursor. A click hands
// the address to the desktop; once that has worked the text turns purple for good.

#include <string>

#include "gui_win32/window_base.h"

namespace quillon {

class IWindowDialogs;

class TUrlLabel : public TWindowBase {
 public:
  static constexpr COLORREF kVisitedColour = RGB(128, 0, 128);

  // Creates the label at (x, y) in parent, just large enough for caption in font.
  TUrlLabel(const std::wstring& caption, const std::wstring& url, IWindowDialogs& dialogs,
            HWND parent, int id, int x, int y, HFONT font);
  ~TUrlLabel() override;

  const std::wstring& Url() const { return url_; }
  const std::wstring& Caption() const { return caption_; }
  bool Visited() const { return visited_; }
  COLORREF TextColour() const;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Paint(HDC dc);
  void Clicked();

  std::wstring caption_;
  std::wstring url_;
  IWindowDialogs& dialogs_;
  HFONT font_;
  bool pressed_ = false;
  bool visited_ = false;
};

}  // namespace quillon
