#include "storage/system_error_mode.h"

namespace quillon {

// POSIX systems raise no boxes of their own.
void SuppressSystemErrorBoxes() {}

}  // namespace quillon
