#include "gui_qt/url_label.h"

#include <QMouseEvent>

#include "gui_qt/window_dialogs.h"

namespace quillon {

TUrlLabel::TUrlLabel(const QString& caption, const QUrl& url, IWindowDialogs& dialogs,
                     QWidget* parent)
    : QLabel(caption, parent), url_(url), dialogs_(dialogs) {
  setTextFormat(Qt::PlainText);
  setCursor(Qt::PointingHandCursor);
  SetTextColour(palette().color(QPalette::Highlight));
}

void TUrlLabel::SetTextColour(const QColor& colour) {
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, colour);
  setPalette(colours);
}

void TUrlLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) {
    return;
  }
  // A link that cannot be opened is not reported.
  if (!dialogs_.OpenUrl(url_)) return;
  visited_ = true;
  SetTextColour(QColor(128, 0, 128));
}

}  // namespace quillon
