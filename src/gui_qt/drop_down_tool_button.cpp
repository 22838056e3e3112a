#include "gui_qt/drop_down_tool_button.h"

#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace quillon {

void TDropDownToolButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionToolButton option;
  initStyleOption(&option);
  option.features |= QStyleOptionToolButton::HasMenu | QStyleOptionToolButton::MenuButtonPopup;
  painter.drawComplexControl(QStyle::CC_ToolButton, option);
}

}  // namespace quillon
