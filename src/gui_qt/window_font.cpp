#include "gui_qt/window_font.h"

#include <QStringList>

namespace quillon {

QFont WindowFont(int pixelSize) {
  QFont font;
  font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                    QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                    QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Droid Sans Fallback"),
                    QStringLiteral("AR PL UMing CN")});
  font.setPixelSize(pixelSize);
  return font;
}

}  // namespace quillon
