#include <windows.h>

#include "storage/system_error_mode.h"

namespace quillon {

void SuppressSystemErrorBoxes() {
  // Failures of critical calls (no disk in the drive) go to the caller as errors.
  ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS);
}

}  // namespace quillon
