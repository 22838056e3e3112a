#pragma once
// The window's typeface: 宋体 (SimSun) where it is installed, otherwise an installed
// CJK font, so that no Chinese text is drawn as empty boxes.

#include <QFont>

namespace quillon {

QFont WindowFont(int pixelSize);

}  // namespace quillon
