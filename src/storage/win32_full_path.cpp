// Paths through the system's ANSI calls: std::filesystem would read each byte of an ANSI
// path as a Latin-1 character and hand back UTF-8, which names another file.

#include <windows.h>

#include <string>

#include "storage/full_path.h"

namespace quillon {

std::string FullPath(const std::string& path) {
  if (path.empty()) return path;
  std::string full(MAX_PATH, '\0');
  for (;;) {
    const DWORD needed =
        ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (needed == 0) return path;
    if (needed < full.size()) {
      full.resize(needed);
      return full;
    }
    full.resize(needed);  // too small: needed counts the terminating zero
  }
}

bool PathExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace quillon
