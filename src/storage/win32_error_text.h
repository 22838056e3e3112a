#pragma once
// The system's own text for a Windows error code.

#include <string>

namespace quillon {

// The system's text for code as UTF-8, without its line break; "Error N" when it has none.
std::string Win32ErrorText(unsigned long code);

}  // namespace quillon
