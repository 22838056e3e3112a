#pragma once
// A link label: underlined text in the highlight colour with a hand cursor. A click hands
// the address to the desktop; once that has worked the text turns purple for good.

#include <QLabel>
#include <QUrl>

namespace quillon {

class IWindowDialogs;

class TUrlLabel : public QLabel {
  Q_OBJECT

 public:
  TUrlLabel(const QString& caption, const QUrl& url, IWindowDialogs& dialogs,
            QWidget* parent = nullptr);

  const QUrl& Url() const { return url_; }
  bool Visited() const { return visited_; }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void SetTextColour(const QColor& colour);

  QUrl url_;
  IWindowDialogs& dialogs_;
  bool visited_ = false;
};

}  // namespace quillon
