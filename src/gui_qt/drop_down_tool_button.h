#pragma once
// A tool button drawn with a drop-down arrow part. It has no menu of its own: a click
// anywhere on it, arrow or not, is an ordinary click whose handler opens the menu.

#include <QToolButton>

namespace quillon {

class TDropDownToolButton : public QToolButton {
  Q_OBJECT

 public:
  using QToolButton::QToolButton;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quillon
