#pragma once
// How Linux block devices stand in for the system's physical drives and drive letters:
// physical drive N is the N-th whole disk in a stable order, and the partitions of those
// disks (or an unpartitioned disk itself) get the letters C, D, E, ... in the same order.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

// Where the system's tables are; tests point them at a made-up tree.
struct TLinuxRoots {
  std::filesystem::path Sys = "/sys";
  std::filesystem::path Dev = "/dev";
  std::filesystem::path Proc = "/proc";
  std::filesystem::path Run = "/run";  // the udev database: labels of devices we may not read
};

struct TBlockDevice {
  std::string Name;              // sda, sda1, nvme0n1p2, loop0
  std::filesystem::path SysDir;  // its directory in sysfs
  std::string DevNumber;         // "major:minor"
  int DiskIndex = -1;            // the physical drive that holds it
  bool Removable = false;        // by its disk's removable flag
  bool IsVolume = false;         // reached through a drive letter, not a drive number
  std::int64_t StartBytes = 0;   // where it begins on its disk; 0 for a whole disk
  std::int64_t SysfsBytes = 0;   // its size as sysfs gives it
};

struct TBlockLayout {
  std::vector<TBlockDevice> Disks;    // physical drive N is Disks[N]
  std::vector<TBlockDevice> Volumes;  // drive letter C + i is Volumes[i]; at most 24
};

// Reads the disks and volumes from sysfs. Left out: RAM disks, zram, loop devices without
// a backing file, disks without a medium, device-mapper and RAID devices, and extended
// partition containers.
TBlockLayout ReadBlockLayout(const TLinuxRoots& roots);

// The device of "\\.\physicaldriveN" or "\\.\X:" (any case); nothing for another path.
std::optional<TBlockDevice> FindBlockDevice(const TBlockLayout& layout, const std::string& path);

// The volume with drive letter root[0] ("C:\" or "C"); nothing when the letter has none.
std::optional<TBlockDevice> FindVolume(const TBlockLayout& layout, const std::string& root);

// True for a path in one of the two device forms, whether or not such a device exists.
bool IsDevicePathForm(const std::string& path);

// Orders disk names: by kind (sd, nvme, vd, xvd, hd, mmcblk, loop), then naturally
// (sdb before sdaa, nvme0n2 before nvme0n10).
bool DiskNameBefore(const std::string& a, const std::string& b);

}  // namespace quillon
