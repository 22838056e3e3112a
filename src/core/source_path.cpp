#include "core/source_path.h"

namespace quillon {
namespace {

// Characters first..first+count-1, counting from 1; empty when the text is shorter.
std::string Characters(const std::string& text, std::size_t first, std::size_t count) {
  if (first == 0 || first > text.size()) return {};
  return text.substr(first - 1, count);
}

}  // namespace

std::string ToSourcePath(const std::string& sourceText, const TPathConstants& c) {
  if (Characters(sourceText, 1, c.DrivePrefix.size()) == c.DrivePrefix) {
    return c.DevicePrefix + c.DrivePrefix + sourceText.substr(c.DrivePrefix.size());
  }
  if (Characters(sourceText, 2, 1) == c.DriveSeparator && sourceText.size() < 4) {
    return c.DevicePrefix + Characters(sourceText, 1, 2);
  }
  return sourceText;
}

TSourceKind SourceKindOf(const std::string& sourcePath, const TPathConstants& c) {
  if (Characters(sourcePath, c.DevicePrefix.size() + 1, c.DrivePrefix.size()) == c.DrivePrefix) {
    return TSourceKind::PhysicalDrive;
  }
  if (Characters(sourcePath, 1, c.DevicePrefix.size()) == c.DevicePrefix) {
    return TSourceKind::Volume;
  }
  return TSourceKind::ImageFile;
}

}  // namespace quillon
