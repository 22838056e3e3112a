#include "storage/full_path.h"

#include <filesystem>
#include <system_error>

namespace quillon {

std::string FullPath(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return path;
  return absolute.lexically_normal().string();
}

}  // namespace quillon
