#pragma once
// The window's icons, painted at run time from their shapes (app/window_layout.h): the
// toolbar commands, each with a separate greyed form for the disabled state, and the three
// kinds of entry of the source menu.
// They are drawn with GDI at four times their size and scaled down, which smooths their
// edges into the alpha channel.

#include <windows.h>
#include <commctrl.h>

#include "app/window_layout.h"

namespace quillon {

// The toolbar buttons' icons in the order of window::ToolButtons(), size x size pixels, in
// colour or greyed. The caller destroys it.
HIMAGELIST MakeToolImageList(int size, bool greyed);

// By the image index of a source menu entry: 17 drive, 18 volume, 19 image file; a 32-bit
// bitmap with premultiplied alpha, as a menu item shows it. nullptr for any other index.
// The caller deletes it.
HBITMAP MakeMenuEntryBitmap(int imageIndex, int size);

}  // namespace quillon
