#pragma once
// Paths are UTF-8 inside the program; std::filesystem takes them as such on every platform.

#include <filesystem>
#include <string>

namespace quillon {

inline std::filesystem::path PathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace quillon
