#include "storage/drive_probe.h"

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

int ProbeDrives(IDeviceQueries& queries, const TPathConstants& constants,
                const std::function<void(const TProbedDrive&)>& onDrive) {
  int listed = 0;
  for (int number = 0; number < kMaxDrives; ++number) {
    TProbedDrive entry;
    try {
      const std::string name = constants.DrivePrefix + std::to_string(number);
      // The first drive that does not open ends the probe: the normal end of every probe.
      const std::unique_ptr<IDevice> drive =
          queries.OpenDevice(constants.DevicePrefix + name, TOpenMode::ReadWriteShared);
      entry.Number = number;
      entry.EntryName = name;
      entry.MediaTypeName = GetMediaTypeName(*drive);
      entry.Size = GetDriveSize(*drive);
      entry.Caption = "HD" + std::to_string(number) + ", " + entry.MediaTypeName + ", [" +
                      DiskSizeText(static_cast<std::uint64_t>(entry.Size)) + "]";
      onDrive(entry);
    } catch (const std::exception&) {
      break;  // no message: the drives already handed on stay listed
    }
    ++listed;
  }
  return listed;
}

}  // namespace quillon
