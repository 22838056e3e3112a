#pragma once
// The three forms of a source: a physical drive, a volume, or an image file's path.

#include <string>

namespace quillon {

struct TPathConstants {
  std::string DrivePrefix;     // "physicaldrive"
  std::string DevicePrefix;    // "\\.\"
  std::string DriveSeparator;  // ":"
  std::string RootSuffix;      // ":\"
};

enum class TSourceKind { PhysicalDrive, Volume, ImageFile };

// The text of Source brought into path form: "physicaldriveN" becomes "\\.\physicaldriveN",
// a drive letter with colon ("C:" or "C:\") becomes "\\.\C:", anything else stays.
std::string ToSourcePath(const std::string& sourceText, const TPathConstants& constants);

// The kind of a path in path form.
TSourceKind SourceKindOf(const std::string& sourcePath, const TPathConstants& constants);

}  // namespace quillon
