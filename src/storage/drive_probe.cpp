#include "storage/drive_probe.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace quillon {

std::int64_t GetDriveSize(IDevice& drive) {
  const auto geometry = drive.DriveGeometry();
  if (!geometry) return 0;
  // Every factor is widened first: a drive of more than 4 GiB overflows 32 bits.
  return geometry->Cylinders * static_cast<std::int64_t>(geometry->TracksPerCylinder) *
         static_cast<std::int64_t>(geometry->SectorsPerTrack) *
         static_cast<std::int64_t>(geometry->BytesPerSector);
}

std::int64_t GetExactDriveSize(IDevice& drive) {
  if (const auto geometry = drive.DriveGeometryEx(); geometry && geometry->DiskSize > 0) {
    return geometry->DiskSize;
  }
  return GetDriveSize(drive);
}

std::string MediaTypeName(std::int32_t mediaType) {
  if (mediaType == 0) return "Unknown Media Type";
  if (mediaType >= 1 && mediaType <= 10) return "Floppy Disk";
  if (mediaType == kRemovableMedia) return "Removable Drive";
  if (mediaType == kFixedMedia) return "Fixed Drive";
  if (mediaType >= 13 && mediaType <= 25) return "Zip / Other";
  return "UNKNOWN";
}

std::string GetMediaTypeName(IDevice& drive) {
  const auto geometry = drive.DriveGeometryEx();
  return geometry ? MediaTypeName(geometry->MediaType) : "UNKNOWN";
}

std::string DiskSizeText(std::uint64_t bytes) {
  static const char* const kUnits[] = {" B", " KB", " MB", " GB", " TB"};
  std::uint64_t value = bytes;
  std::uint64_t remainder = 0;
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    remainder = value % 1024;
    value /= 1024;
    ++unit;
  }
  // The hundredths come from the last division only, and are cut rather than rounded.
  const unsigned hundredths = static_cast<unsigned>(remainder * 100 / 1024);
  char text[48];
  if (hundredths > 0) {
    std::snprintf(text, sizeof text, "%llu.%02u%s", static_cast<unsigned long long>(value),
                  hundredths, kUnits[unit]);
  } else {
    std::snprintf(text, sizeof text, "%llu%s", static_cast<unsigned long long>(value),
                  kUnits[unit]);
  }
  return text;
}

namespace {

// The drive's media type and size as its requests give them. A request that throws counts
// as one that failed ("UNKNOWN", 0 bytes): the drive opened, so it is listed, and the drives
// after it are still probed.
void DescribeDrive(IDevice& drive, TProbedDrive& entry) {
  try {
    entry.MediaTypeName = GetMediaTypeName(drive);
  } catch (const std::exception&) {
    entry.MediaTypeName = MediaTypeName(-1);
  }
  try {
    entry.Size = std::max<std::int64_t>(GetDriveSize(drive), 0);
  } catch (const std::exception&) {
    entry.Size = 0;
  }
}

}  // namespace

int ProbeDrives(IDeviceQueries& queries, const TPathConstants& constants,
                const std::function<void(const TProbedDrive&)>& onDrive) {
  int listed = 0;
  for (int number = 0; number < kMaxDrives; ++number) {
    TProbedDrive entry;
    entry.Number = number;
    entry.EntryName = constants.DrivePrefix + std::to_string(number);
    std::unique_ptr<IDevice> drive;
    try {
      drive = queries.OpenDevice(constants.DevicePrefix + entry.EntryName,
                                 TOpenMode::ReadWriteShared);
    } catch (const std::exception&) {
      // The first drive that does not open ends the probe: the normal end of every probe.
      break;  // no message: the drives already handed on stay listed
    }
    DescribeDrive(*drive, entry);
    drive.reset();
    entry.Caption = "HD" + std::to_string(number) + ", " + entry.MediaTypeName + ", [" +
                    DiskSizeText(static_cast<std::uint64_t>(entry.Size)) + "]";
    // Outside the probe's own checks: what the receiver throws is its caller's to see.
    onDrive(entry);
    ++listed;
  }
  return listed;
}

}  // namespace quillon
