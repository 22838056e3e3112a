#pragma once
// gg: the progress gauge of the status bar, a navy bar on white inside a single-line
// border, with the whole-number percentage centred across it.

#include <string>

#include "app/gauge.h"
#include "gui_win32/window_base.h"

namespace quillon {

class TGaugeControl : public TWindowBase {
 public:
  // Creates the control as a child of parent; it draws its text in font.
  TGaugeControl(HWND parent, int id, HFONT font);
  ~TGaugeControl() override;

  // Takes the gauge's range and position; repaints only when the percentage changes.
  void SetGauge(const TGauge& gauge);

  const TGauge& Gauge() const { return gauge_; }
  // The text drawn across the bar, for example "99%".
  std::wstring Text() const;
  // How many repaints SetGauge has asked for since the control was made.
  int RepaintRequests() const { return repaintRequests_; }

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Paint(HDC dc);

  HFONT font_;
  TGauge gauge_;
  int repaintRequests_ = 0;
};

}  // namespace quillon
