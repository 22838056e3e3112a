#include "gui_qt/desktop_user.h"

namespace quillon {

// No root to step down from: pages open as the user the program runs as.
TProcessFacts ThisProcessFacts() { return {}; }

}  // namespace quillon
