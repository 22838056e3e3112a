#pragma once
// The window's icons, painted at run time from their shapes (app/window_layout.h): the
// toolbar commands, each with a separate greyed form for the disabled state, and the three
// kinds of entry of the source menu.

#include <QIcon>

#include "app/window_layout.h"

namespace quillon {

QIcon ToolIcon(window::TIconKind kind);

// By the image index of a source menu entry: 17 drive, 18 volume, 19 image file. Any other
// index gives no icon.
QIcon MenuEntryIcon(int imageIndex);

}  // namespace quillon
