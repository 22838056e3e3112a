#include "storage/volume_info.h"

#include <cstdio>
#include <exception>

namespace quillon {

TNTVolumeInfo::TNTVolumeInfo(const std::string& letter, IDeviceQueries& queries,
                             const TPathConstants& constants)
    : Letter(letter), queries_(queries), constants_(constants) {
  ReadVolumeInformation();
  ReadDiskLocation();
}

std::string TNTVolumeInfo::RootPath() const { return Letter + constants_.RootSuffix; }

std::string TNTVolumeInfo::DevicePath() const {
  return constants_.DevicePrefix + Letter + constants_.DriveSeparator;
}

void TNTVolumeInfo::ReadVolumeInformation() {
  VolumeLabel.clear();
  SerialNumber.clear();
  FileSystemName.clear();
  TotalBytes = 0;
  FreeBytes = 0;
  if (const auto information = queries_.VolumeInformation(RootPath())) {
    VolumeLabel = information->Label;
    char serial[9];
    std::snprintf(serial, sizeof serial, "%08X", static_cast<unsigned>(information->SerialNumber));
    SerialNumber = serial;
    FileSystemName = information->FileSystemName;
  }
  if (const auto space = queries_.DiskFreeSpace(RootPath())) {
    TotalBytes = space->TotalBytes;
    FreeBytes = space->FreeBytesAvailable;
  }
}

void TNTVolumeInfo::ReadDiskLocation() {
  Extent = TDiskExtent{};
  const int driveType = queries_.DriveType(RootPath());
  DriveTypeCode = DriveTypeCodeOf(driveType);
  if (driveType != DriveRemovable && driveType != DriveFixed) return;
  // The device is opened for reading and writing, as the volume list always opened it,
  // although the extents request itself needs no access rights (DisksOfVolume asks for
  // none): without administrator rights the open fails and the volume stays on drive 255.
  // Nothing is written through it.
  std::unique_ptr<IDevice> device;
  try {
    device = queries_.OpenDevice(DevicePath(), TOpenMode::ReadWriteShared);
  } catch (const std::exception&) {
    return;  // without the right to open the device, the volume stays on drive 255
  }
  // A volume that spans several disks is placed on the disk of its first extent.
  if (const auto extent = device->FirstDiskExtent()) Extent = *extent;
}

std::string DriveTypeCodeOf(int driveType) {
  switch (driveType) {
    case DriveRemovable: return "RD";
    case DriveFixed: return "HD";
    case DriveRemote: return "ND";
    case DriveCdRom: return "CD";
    case DriveRamDisk: return "RD";
    default: return "";
  }
}

std::int64_t VolumeBytesToScan(const TNTVolumeInfo& info) {
  if (info.TotalBytes > 0) return info.TotalBytes;
  return info.Extent.ExtentLength > 0 ? info.Extent.ExtentLength : 0;
}

}  // namespace quillon
