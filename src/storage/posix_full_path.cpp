#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "storage/full_path.h"

namespace quillon {

std::string FullPath(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return path;
  return absolute.lexically_normal().string();
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace quillon
