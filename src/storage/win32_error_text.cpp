#include "storage/win32_error_text.h"

#include <windows.h>

#include "storage/win32_text.h"

namespace quillon {

std::string Win32ErrorText(unsigned long code) {
  wchar_t buffer[512];
  // The wide form: the text is in the system's language, which the ANSI code page may not hold.
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       0, buffer, sizeof buffer / sizeof buffer[0], nullptr);
  std::string text = WideToUtf8(std::wstring(buffer, length));
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text.empty() ? "Error " + std::to_string(code) : text;
}

}  // namespace quillon
