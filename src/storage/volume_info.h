#pragma once
// TNTVolumeInfo: what the system tells about the volume behind one drive letter.

#include <cstdint>
#include <string>

#include "core/source_path.h"
#include "storage/device_queries.h"

namespace quillon {

class TNTVolumeInfo {
 public:
  // Examines the volume of letter; raises nothing when the letter has none. The paths are
  // built from constants: root "C" + RootSuffix, device DevicePrefix + "C" + DriveSeparator.
  TNTVolumeInfo(const std::string& letter, IDeviceQueries& queries,
                const TPathConstants& constants);

  std::string Letter;
  std::string VolumeLabel;     // empty when unreadable or the volume has none
  std::string SerialNumber;    // 8 upper-case hex digits; empty when unreadable
  std::string FileSystemName;  // empty when unreadable
  std::int64_t TotalBytes = 0;  // 0 when the free-space query fails
  std::int64_t FreeBytes = 0;   // free bytes available to the caller; 0 when the query fails
  std::string DriveTypeCode;    // "HD", "RD", "ND", "CD", or empty when there is no volume
  TDiskExtent Extent;           // the first disk extent; DiskNumber 255 when not found

  std::string RootPath() const;
  std::string DevicePath() const;

 private:
  void ReadVolumeInformation();
  void ReadDiskLocation();

  IDeviceQueries& queries_;
  TPathConstants constants_;
};

// The two letters of a drive type; empty for unknown types and letters without a volume.
std::string DriveTypeCodeOf(int driveType);

// The bytes a scan of the volume must cover: TotalBytes when the free-space query gave it,
// otherwise the length of its disk extent. 0 when neither is known, and the caller must
// then take the length of the opened device: a volume whose file system is not recognised
// is the one a person most needs to recover from, and must not be scanned as 0 bytes.
std::int64_t VolumeBytesToScan(const TNTVolumeInfo& info);

}  // namespace quillon
