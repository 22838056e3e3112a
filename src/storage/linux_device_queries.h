#pragma once
// The Linux stand-in for the system's volume and drive queries: drive letters and drive
// numbers as laid out by linux_block_layout.h, labels and file systems read from the
// devices themselves by libblkid (mounted or not), sizes from statvfs and the devices.

#include <optional>
#include <string>

#include "storage/device_queries.h"
#include "storage/linux_block_layout.h"
#include "storage/linux_file_system_probe.h"

namespace quillon {

class TLinuxDeviceQueries : public IDeviceQueries {
 public:
  explicit TLinuxDeviceQueries(TLinuxRoots roots = {});

  std::optional<TVolumeInformation> VolumeInformation(const std::string& rootPath) override;
  std::optional<TDiskFreeSpace> DiskFreeSpace(const std::string& rootPath) override;
  int DriveType(const std::string& rootPath) override;
  std::string VolumeDeviceName(const std::string& rootPath) override;
  std::unique_ptr<IDevice> OpenDevice(const std::string& devicePath, TOpenMode mode) override;
  bool MayOpenDevices() override;
  TDeviceRefusal LastDeviceRefusal() const override { return refusal_; }
  bool FileLiesOnDevice(const std::string& filePath, const std::string& devicePath) override;

  // The /dev node behind a device-form path, or nothing for any other path.
  std::optional<std::string> DeviceNode(const std::string& devicePath) const;

  const TLinuxRoots& Roots() const { return roots_; }

 private:
  std::optional<TBlockDevice> SourceDevice(const std::string& devicePath) const;
  // Whether filePath is the file a loop device (or its partition) reads from.
  bool FileBacksDevice(const std::string& filePath, const TBlockDevice& device) const;

  TLinuxRoots roots_;
  TDeviceRefusal refusal_;  // set where MayOpenDevices returns false
};

// Where the device with major:minor devNumber, or named node, is mounted; empty if nowhere.
std::string MountPointOf(const std::string& devNumber, const std::string& node,
                         const TLinuxRoots& roots);

}  // namespace quillon
