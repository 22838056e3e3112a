#pragma once
// gg: the progress gauge of the status bar, a navy bar on white with the whole-number
// percentage centred across it.

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include "app/gauge.h"

namespace quillon {

class TGaugeWidget : public QWidget {
  Q_OBJECT

 public:
  explicit TGaugeWidget(QWidget* parent = nullptr);

  // Takes the gauge's range and position; repaints only when the percentage changes, and
  // at most every kRepaintIntervalMs: a repaint asked for sooner waits for the rest of the
  // interval (one at most waits) and then draws the percentage of that moment.
  void SetGauge(const TGauge& gauge);
  static constexpr int kRepaintIntervalMs = 100;

  const TGauge& Gauge() const { return gauge_; }
  // The text drawn across the bar, for example "99%".
  QString Text() const;
  // How many repaints SetGauge has asked for since the widget was made.
  int RepaintRequests() const { return repaintRequests_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TGauge gauge_;
  int repaintRequests_ = 0;
  // A fast scan of a small source moves the percentage a hundred times a second: more
  // paints than anyone sees, each of them done at the scan's pump, in the scan's time.
  QElapsedTimer sincePaint_;  // started at the last paint
  QTimer delayedRepaint_;
};

}  // namespace quillon
