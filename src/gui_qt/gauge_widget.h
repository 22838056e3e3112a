#pragma once
// gg: the progress gauge of the status bar, a navy bar on white with the whole-number
// percentage centred across it.

#include <QWidget>

#include "app/gauge.h"

namespace quillon {

class TGaugeWidget : public QWidget {
  Q_OBJECT

 public:
  explicit TGaugeWidget(QWidget* parent = nullptr);

  // Takes the gauge's range and position; repaints only when the percentage changes.
  void SetGauge(const TGauge& gauge);

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
};

}  // namespace quillon
