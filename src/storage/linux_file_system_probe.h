#pragma once
// What file system a Linux block device holds, read from the device itself so that
// unmounted partitions are named too.

#include <cstdint>
#include <optional>
#include <string>

#include "storage/linux_block_layout.h"

namespace quillon {

// What a device holds, as libblkid or the udev database tell it.
struct TFileSystemId {
  std::string Type;  // "ext4", "vfat", "ntfs"; empty when none was recognised
  std::string Label;
  std::string Uuid;
};

// The file system on the device at node, read by libblkid; when the node cannot be read
// (no rights) the udev database under roots.Run is asked instead. Nothing when neither knows.
std::optional<TFileSystemId> ProbeFileSystem(const std::string& node, const std::string& devNumber,
                                             const TLinuxRoots& roots);

// The 32-bit serial number in a file system's UUID: its last eight hex digits, which is
// the whole serial of FAT and exFAT and the low half of NTFS's.
std::uint32_t SerialNumberOfUuid(const std::string& uuid);

}  // namespace quillon
