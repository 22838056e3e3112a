#pragma once
// The system's own text for a Windows error code.

#include <string>

namespace quillon {

// FormatMessageA's text for code, without its line break; "Error N" when it has none.
std::string Win32ErrorText(unsigned long code);

}  // namespace quillon
