#pragma once
// The physical drive probe: drives 0, 1, 2, ... up to the first that does not open, each
// with its size and media type for the source menu.

#include <cstdint>
#include <functional>
#include <string>

#include "core/source_path.h"
#include "storage/device_queries.h"

namespace quillon {

inline constexpr int kMaxDrives = 256;

// One drive the probe opened.
struct TProbedDrive {
  int Number = 0;
  std::string EntryName;  // DrivePrefix followed by the number: physicaldrive0
  std::string Caption;    // "HD0, Fixed Drive, [465.75 GB]"
  std::string MediaTypeName;
  std::int64_t Size = 0;  // GetDriveSize of the drive
};

// The drive's size by its geometry: cylinders x tracks x sectors x bytes per sector, in
// 64-bit arithmetic. 0 when the geometry request fails.
std::int64_t GetDriveSize(IDevice& drive);

// The drive's exact size when the extended geometry gives it, otherwise GetDriveSize.
std::int64_t GetExactDriveSize(IDevice& drive);

// One of "Unknown Media Type", "Floppy Disk", "Removable Drive", "Fixed Drive",
// "Zip / Other", "UNKNOWN" by the extended geometry's media type; "UNKNOWN" when the
// request fails.
std::string GetMediaTypeName(IDevice& drive);
std::string MediaTypeName(std::int32_t mediaType);

// A drive size as a short text in B, KB, MB, GB or TB with truncated hundredths, always
// with a full stop: 1035 gives "1.01 KB", 1025 gives "1 KB".
std::string DiskSizeText(std::uint64_t bytes);

// Opens drive 0, 1, ... (at most kMaxDrives) in mode ReadWriteShared, as the system needs
// for its requests, and hands each one that opens to onDrive at once, before the next is
// tried. Stops silently at the first drive that does not open; a drive that opens but
// whose requests fail (or throw) is listed as "UNKNOWN" of 0 bytes, and the probe goes on.
// Nothing is ever written.
// Returns the number of drives handed on.
int ProbeDrives(IDeviceQueries& queries, const TPathConstants& constants,
                const std::function<void(const TProbedDrive&)>& onDrive);

}  // namespace quillon
