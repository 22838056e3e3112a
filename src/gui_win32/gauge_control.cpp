#include "gui_win32/gauge_control.h"

namespace quillon {
namespace {

constexpr wchar_t kClassName[] = L"QuillonGauge";
constexpr COLORREF kBarColour = RGB(0, 0, 128);  // navy

}  // namespace

TGaugeControl::TGaugeControl(HWND parent, int id, HFONT font) : font_(font) {
  RegisterWindowClass(kClassName, ::LoadCursorW(nullptr, IDC_ARROW), nullptr);
  Create(0, kClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)));
}

TGaugeControl::~TGaugeControl() { Destroy(); }

void TGaugeControl::SetGauge(const TGauge& gauge) {
  const int before = gauge_.Percent();
  gauge_ = gauge;
  if (gauge_.Percent() == before) return;
  ++repaintRequests_;
  ::InvalidateRect(Handle(), nullptr, FALSE);
}

std::wstring TGaugeControl::Text() const { return std::to_wstring(gauge_.Percent()) + L"%"; }

LRESULT TGaugeControl::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = ::BeginPaint(Handle(), &paint);
      Paint(dc);
      ::EndPaint(Handle(), &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_ERASEBKGND:
      return 1;  // Paint covers every pixel
    default:
      return TWindowBase::HandleMessage(message, wParam, lParam);
  }
}

void TGaugeControl::Paint(HDC target) {
  RECT area;
  ::GetClientRect(Handle(), &area);
  const int width = area.right;
  const int height = area.bottom;
  if (width <= 0 || height <= 0) return;
  // Drawn off screen and copied in one piece, so the bar never flickers.
  const HDC dc = ::CreateCompatibleDC(target);
  const HBITMAP canvas = ::CreateCompatibleBitmap(target, width, height);
  const HGDIOBJ oldBitmap = ::SelectObject(dc, canvas);

  ::FillRect(dc, &area, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  const HBRUSH frame = ::GetSysColorBrush(COLOR_BTNSHADOW);
  ::FrameRect(dc, &area, frame);
  RECT inside = {1, 1, width - 1, height - 1};
  RECT bar = inside;
  bar.right = inside.left + (inside.right - inside.left) * gauge_.Percent() / 100;
  const HBRUSH navy = ::CreateSolidBrush(kBarColour);
  ::FillRect(dc, &bar, navy);
  ::DeleteObject(navy);

  // The text reads black on white and white on the bar.
  const std::wstring text = Text();
  const HGDIOBJ oldFont = ::SelectObject(dc, font_);
  ::SetBkMode(dc, TRANSPARENT);
  const UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
  const int saved = ::SaveDC(dc);
  ::ExcludeClipRect(dc, bar.left, bar.top, bar.right, bar.bottom);
  ::SetTextColor(dc, RGB(0, 0, 0));
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inside, format);
  ::RestoreDC(dc, saved);
  ::IntersectClipRect(dc, bar.left, bar.top, bar.right, bar.bottom);
  ::SetTextColor(dc, RGB(255, 255, 255));
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inside, format);
  ::SelectClipRgn(dc, nullptr);
  ::SelectObject(dc, oldFont);

  ::BitBlt(target, 0, 0, width, height, dc, 0, 0, SRCCOPY);
  ::SelectObject(dc, oldBitmap);
  ::DeleteObject(canvas);
  ::DeleteDC(dc);
}

}  // namespace quillon
