#pragma once
// The window's icons, painted at run time: the four toolbar commands, each with a separate
// greyed form for the disabled state, and the three kinds of entry of the source menu.

#include <QIcon>

namespace quillon {

enum class TToolIcon { ChooseDisk, SaveFile, StartScan, StopScan };

QIcon ToolIcon(TToolIcon kind);

// By the image index of a source menu entry: 17 drive, 18 volume, 19 image file. Any other
// index gives no icon.
QIcon MenuEntryIcon(int imageIndex);

}  // namespace quillon
