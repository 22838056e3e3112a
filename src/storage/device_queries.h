#pragma once
// The questions the volume list and the drive probe ask the system about volumes and
// drives. One implementation per platform: the Windows calls themselves, or on Linux a
// stand-in that answers the same from sysfs, /dev, the mount table and libblkid.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/stream.h"

namespace quillon {

// Drive types as the system numbers them.
enum TDriveType : int {
  DriveUnknown = 0,    // the type cannot be told
  DriveNoRootDir = 1,  // the letter has no usable volume
  DriveRemovable = 2,
  DriveFixed = 3,
  DriveRemote = 4,
  DriveCdRom = 5,
  DriveRamDisk = 6,
};

struct TVolumeInformation {
  std::string Label;  // empty when the volume has none
  std::uint32_t SerialNumber = 0;
  std::string FileSystemName;
};

struct TDiskFreeSpace {
  std::int64_t FreeBytesAvailable = 0;  // free bytes available to the caller
  std::int64_t TotalBytes = 0;
};

// Where a volume lies: the physical drive that holds it and the byte range on it.
struct TDiskExtent {
  std::uint32_t DiskNumber = 255;  // 255: not found
  std::int64_t StartingOffset = 0;
  std::int64_t ExtentLength = 0;
};

struct TDiskGeometry {
  std::int64_t Cylinders = 0;
  std::uint32_t TracksPerCylinder = 0;
  std::uint32_t SectorsPerTrack = 0;
  std::uint32_t BytesPerSector = 0;
};

// The extended geometry: the media type and the drive's exact size in bytes.
struct TDiskGeometryEx {
  std::int32_t MediaType = 0;
  std::int64_t DiskSize = 0;
};

// Media type values the drive probe names.
inline constexpr std::int32_t kRemovableMedia = 11;
inline constexpr std::int32_t kFixedMedia = 12;

// An open volume or drive device. Nothing is ever written through it.
class IDevice {
 public:
  virtual ~IDevice() = default;
  // The drive geometry, or nothing when the request fails.
  virtual std::optional<TDiskGeometry> DriveGeometry() = 0;
  // The extended drive geometry, or nothing when the request fails.
  virtual std::optional<TDiskGeometryEx> DriveGeometryEx() = 0;
  // The first disk extent of a volume, or nothing when the request fails or reports none.
  virtual std::optional<TDiskExtent> FirstDiskExtent() = 0;
  // The exact length in bytes of the open drive or volume, or nothing when it cannot be
  // told. Used to size a device whose other size requests gave nothing.
  virtual std::optional<std::int64_t> Length() = 0;
};

class IDeviceQueries {
 public:
  virtual ~IDeviceQueries() = default;

  // Label, serial number and file system of the volume at rootPath ("C:\"); nothing when
  // the volume information cannot be read.
  virtual std::optional<TVolumeInformation> VolumeInformation(const std::string& rootPath) = 0;
  // Free and total bytes of the volume at rootPath; nothing when the query fails.
  virtual std::optional<TDiskFreeSpace> DiskFreeSpace(const std::string& rootPath) = 0;
  // The drive type of rootPath, one of TDriveType or another number the system gives.
  virtual int DriveType(const std::string& rootPath) = 0;
  // A name a person knows the volume at rootPath by when it has no label (on Linux its
  // device, such as sda1); empty where the system has none to offer.
  virtual std::string VolumeDeviceName(const std::string& rootPath) = 0;

  // Opens a device path ("\\.\C:", "\\.\physicaldrive0") in mode ReadShared or
  // ReadWriteShared. Throws EQuillonError with the open error text when it does not open.
  virtual std::unique_ptr<IDevice> OpenDevice(const std::string& devicePath, TOpenMode mode) = 0;

  // False when this process plainly lacks the rights to open drive and volume devices.
  virtual bool MayOpenDevices() = 0;
  // What the system said when MayOpenDevices last returned false, naming the device
  // ("/dev/sda: Operation not permitted"), and whether administrator rights would lift it
  // (not for a refusal that holds for root too, such as a container's device rules).
  // Empty text where the system says no more than that the rights are missing.
  struct TDeviceRefusal {
    std::string Text;
    bool RightsWouldHelp = true;
  };
  virtual TDeviceRefusal LastDeviceRefusal() const { return {}; }

  // Whether a file at filePath (existing or about to be created) would be stored on the
  // device of devicePath ("\\.\C:", "\\.\physicaldrive0", or a device node named as a
  // path): on that very volume, on any volume of that physical drive, or in the file a loop
  // device reads from. Writing such a file overwrites what a scan of the device hopes to
  // recover. False for a devicePath that is no device.
  virtual bool FileLiesOnDevice(const std::string& filePath, const std::string& devicePath) = 0;
};

// The queries of the platform the program runs on.
std::unique_ptr<IDeviceQueries> MakePlatformDeviceQueries();

}  // namespace quillon
