#include "gui_qt/gauge_widget.h"

#include <QPainter>

namespace quillon {
namespace {

const QColor kBarColour(0, 0, 128);  // navy

}  // namespace

TGaugeWidget::TGaugeWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  delayedRepaint_.setSingleShot(true);
  connect(&delayedRepaint_, &QTimer::timeout, this, [this] { update(); });
}

void TGaugeWidget::SetGauge(const TGauge& gauge) {
  const int before = gauge_.Percent();
  gauge_ = gauge;
  if (gauge_.Percent() == before) return;
  ++repaintRequests_;
  if (delayedRepaint_.isActive()) return;  // it paints gauge_ as it is by then
  const qint64 since = sincePaint_.isValid() ? sincePaint_.elapsed() : kRepaintIntervalMs;
  if (since >= kRepaintIntervalMs) {
    update();
  } else {
    delayedRepaint_.start(static_cast<int>(kRepaintIntervalMs - since));
  }
}

QString TGaugeWidget::Text() const { return QString::number(gauge_.Percent()) + '%'; }

void TGaugeWidget::paintEvent(QPaintEvent*) {
  sincePaint_.start();
  QPainter painter(this);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  painter.fillRect(rect(), Qt::white);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(frame);

  const QRect inside = rect().adjusted(1, 1, -1, -1);
  QRect bar = inside;
  bar.setWidth(inside.width() * gauge_.Percent() / 100);
  painter.fillRect(bar, kBarColour);

  // The text reads black on white and white on the bar.
  const QString text = Text();
  painter.setPen(Qt::black);
  painter.setClipRect(inside.adjusted(bar.width(), 0, 0, 0));
  painter.drawText(inside, Qt::AlignCenter, text);
  painter.setPen(Qt::white);
  painter.setClipRect(bar);
  painter.drawText(inside, Qt::AlignCenter, text);
}

}  // namespace quillon
