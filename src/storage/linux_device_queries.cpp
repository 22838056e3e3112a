#include "storage/linux_device_queries.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/errors.h"

namespace quillon {
namespace fs = std::filesystem;
namespace {

// An open block device, or in tests the image file that stands in for one.
class TLinuxDevice : public IDevice {
 public:
  TLinuxDevice(int fd, TBlockDevice device) : fd_(fd), device_(std::move(device)) {}
  ~TLinuxDevice() override { ::close(fd_); }
  TLinuxDevice(const TLinuxDevice&) = delete;
  TLinuxDevice& operator=(const TLinuxDevice&) = delete;

  std::optional<TDiskGeometry> DriveGeometry() override {
    const std::int64_t bytes = ExactBytes();
    if (bytes <= 0) return std::nullopt;
    // Linux has no cylinders worth the name: one sector per track and one track per
    // cylinder make the product the exact size in whole sectors.
    TDiskGeometry geometry;
    geometry.BytesPerSector = SectorBytes();
    geometry.SectorsPerTrack = 1;
    geometry.TracksPerCylinder = 1;
    geometry.Cylinders = bytes / geometry.BytesPerSector;
    return geometry;
  }

  std::optional<TDiskGeometryEx> DriveGeometryEx() override {
    const std::int64_t bytes = ExactBytes();
    if (bytes <= 0) return std::nullopt;
    return TDiskGeometryEx{device_.Removable ? kRemovableMedia : kFixedMedia, bytes};
  }

  std::optional<std::int64_t> Length() override {
    const std::int64_t bytes = ExactBytes();
    if (bytes <= 0) return std::nullopt;
    return bytes;
  }

  std::optional<TDiskExtent> FirstDiskExtent() override {
    // Only a volume lies in an extent; a whole drive answers this request with a failure.
    if (!device_.IsVolume || device_.DiskIndex < 0) return std::nullopt;
    return TDiskExtent{static_cast<std::uint32_t>(device_.DiskIndex), device_.StartBytes,
                       ExactBytes()};
  }

 private:
  std::int64_t ExactBytes() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return device_.SysfsBytes;
    if (S_ISREG(st.st_mode)) return static_cast<std::int64_t>(st.st_size);
    std::uint64_t bytes = 0;
    if (S_ISBLK(st.st_mode) && ::ioctl(fd_, BLKGETSIZE64, &bytes) == 0) {
      return static_cast<std::int64_t>(bytes);
    }
    return device_.SysfsBytes;
  }

  std::uint32_t SectorBytes() const {
    int bytes = 0;
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode) && ::ioctl(fd_, BLKSSZGET, &bytes) == 0 &&
        bytes > 0) {
      return static_cast<std::uint32_t>(bytes);
    }
    return 512;
  }

  int fd_;
  TBlockDevice device_;
};

// Undoes the octal escapes (\040 for a space) of a path in the mount tables.
std::string DecodeMountPath(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool escape = text[i] == '\\' && i + 3 < text.size() &&
                        text.find_first_not_of("01234567", i + 1) >= i + 4;
    if (escape) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}

std::string NodeOf(const TBlockDevice& device, const TLinuxRoots& roots) {
  return (roots.Dev / device.Name).string();
}

}  // namespace

std::string MountPointOf(const std::string& devNumber, const std::string& node,
                         const TLinuxRoots& roots) {
  // mountinfo: id parent major:minor root mount-point options [tags] - type source options.
  // A file system such as btrfs shows an anonymous major:minor, so the source counts too.
  std::ifstream mountInfo(roots.Proc / "self" / "mountinfo");
  for (std::string line; std::getline(mountInfo, line);) {
    const std::vector<std::string> f = Fields(line);
    if (f.size() < 5) continue;
    std::string source;
    for (std::size_t i = 5; i + 2 < f.size(); ++i) {
      if (f[i] == "-") {
        source = DecodeMountPath(f[i + 2]);
        break;
      }
    }
    if ((!devNumber.empty() && f[2] == devNumber) || source == node) return DecodeMountPath(f[4]);
  }
  std::ifstream mounts(roots.Proc / "mounts");
  for (std::string line; std::getline(mounts, line);) {
    const std::vector<std::string> f = Fields(line);
    if (f.size() >= 2 && DecodeMountPath(f[0]) == node) return DecodeMountPath(f[1]);
  }
  return {};
}

TLinuxDeviceQueries::TLinuxDeviceQueries(TLinuxRoots roots) : roots_(std::move(roots)) {}

std::optional<TVolumeInformation> TLinuxDeviceQueries::VolumeInformation(const std::string& rootPath) {
  const auto volume = FindVolume(ReadBlockLayout(roots_), rootPath);
  if (!volume) return std::nullopt;
  const auto id = ProbeFileSystem(NodeOf(*volume, roots_), volume->DevNumber, roots_);
  if (!id) return std::nullopt;  // no recognised file system: the system cannot read it
  return TVolumeInformation{id->Label, SerialNumberOfUuid(id->Uuid), id->Type};
}

std::optional<TDiskFreeSpace> TLinuxDeviceQueries::DiskFreeSpace(const std::string& rootPath) {
  const auto volume = FindVolume(ReadBlockLayout(roots_), rootPath);
  if (!volume) return std::nullopt;
  const std::string mountPoint = MountPointOf(volume->DevNumber, NodeOf(*volume, roots_), roots_);
  if (mountPoint.empty()) return std::nullopt;  // an unmounted file system has no free space
  struct statvfs st {};
  if (::statvfs(mountPoint.c_str(), &st) != 0) return std::nullopt;
  const auto unit = static_cast<std::int64_t>(st.f_frsize != 0 ? st.f_frsize : st.f_bsize);
  return TDiskFreeSpace{static_cast<std::int64_t>(st.f_bavail) * unit,
                        static_cast<std::int64_t>(st.f_blocks) * unit};
}

int TLinuxDeviceQueries::DriveType(const std::string& rootPath) {
  const auto volume = FindVolume(ReadBlockLayout(roots_), rootPath);
  if (!volume) return DriveNoRootDir;
  return volume->Removable ? DriveRemovable : DriveFixed;
}

std::string TLinuxDeviceQueries::VolumeDeviceName(const std::string& rootPath) {
  const auto volume = FindVolume(ReadBlockLayout(roots_), rootPath);
  return volume ? volume->Name : std::string();
}

std::unique_ptr<IDevice> TLinuxDeviceQueries::OpenDevice(const std::string& devicePath,
                                                         TOpenMode mode) {
  if (mode == TOpenMode::CreateExclusive) {
    throw EQuillonError(CreateErrorText(devicePath, std::strerror(EPERM)));
  }
  const auto device = FindBlockDevice(ReadBlockLayout(roots_), devicePath);
  if (!device) throw EQuillonError(OpenErrorText(devicePath, std::strerror(ENOENT)));
  const std::string node = NodeOf(*device, roots_);
  // Nothing is ever written through a device handle, so it is opened for reading alone,
  // whatever the mode: the rights needed are the same, and a write-protected card that
  // refuses a read-write open does not end the drive probe.
  const int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw EQuillonError(OpenErrorText(devicePath, std::string(std::strerror(errno)) + " (" + node + ")"));
  }
  return std::make_unique<TLinuxDevice>(fd, *device);
}

namespace {

// "major:minor" of the block device that holds filePath, or of its nearest existing
// folder when the file does not exist yet; empty when nothing can be told.
std::string HoldingDevice(const std::string& filePath) {
  std::error_code ec;
  fs::path at = fs::absolute(filePath, ec);
  struct stat st {};
  while (::stat(at.c_str(), &st) != 0) {
    if (!at.has_parent_path() || at.parent_path() == at) return {};
    at = at.parent_path();
  }
  return std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
}

// The kernel name of a block device's directory in sysfs and of its parent: sda1 and sda
// for a partition, sda and "block" for a whole disk.
std::pair<std::string, std::string> SysfsNames(const fs::path& link) {
  std::error_code ec;
  const fs::path real = fs::canonical(link, ec);
  if (ec) return {};
  return {real.filename().string(), real.parent_path().filename().string()};
}

}  // namespace

// The block device a scan reads: a drive or volume path, or a device node named as a path
// (/dev/loop1, or a link to it).
std::optional<TBlockDevice> TLinuxDeviceQueries::SourceDevice(const std::string& devicePath) const {
  if (IsDevicePathForm(devicePath)) return FindBlockDevice(ReadBlockLayout(roots_), devicePath);
  struct stat st {};
  if (::stat(devicePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
  TBlockDevice device;
  device.DevNumber = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  const fs::path dir = fs::path(roots_.Sys) / "dev" / "block" / device.DevNumber;
  device.Name = SysfsNames(dir).first;
  std::error_code ec;
  device.IsVolume = fs::exists(dir / "partition", ec);
  if (device.Name.empty()) device.Name = fs::path(devicePath).filename().string();
  return device;
}

bool TLinuxDeviceQueries::FileLiesOnDevice(const std::string& filePath,
                                           const std::string& devicePath) {
  const auto source = SourceDevice(devicePath);
  if (!source) return false;
  if (FileBacksDevice(filePath, *source)) return true;
  const std::string holder = HoldingDevice(filePath);
  if (holder.empty()) return false;
  if (holder == source->DevNumber) return true;
  const fs::path holderDir = fs::path(roots_.Sys) / "dev" / "block" / holder;
  // Besides the device itself: for a whole drive, each of its partitions; for both, a
  // mapped device (LVM, encryption) built directly on one of them.
  auto isSourceOrPart = [&](const fs::path& dir) {
    const auto [name, parent] = SysfsNames(dir);
    if (name.empty()) return false;
    return name == source->Name || (!source->IsVolume && parent == source->Name);
  };
  if (isSourceOrPart(holderDir)) return true;
  std::error_code ec;
  for (const auto& slave : fs::directory_iterator(holderDir / "slaves", ec)) {
    if (isSourceOrPart(slave.path())) return true;
  }
  return false;
}

bool TLinuxDeviceQueries::FileBacksDevice(const std::string& filePath,
                                          const TBlockDevice& device) const {
  // A loop device (or a partition of one) reads its bytes from a file: that file is the
  // device's content, wherever it lies.
  const auto [name, parent] = SysfsNames(fs::path(roots_.Sys) / "dev" / "block" / device.DevNumber);
  const std::string disk = name.empty() ? device.Name : (parent == "block" ? name : parent);
  if (!disk.starts_with("loop")) return false;
  std::ifstream in(fs::path(roots_.Sys) / "block" / disk / "loop" / "backing_file");
  std::string backing;
  if (!std::getline(in, backing) || backing.empty()) return false;
  struct stat file {};
  struct stat back {};
  return ::stat(filePath.c_str(), &file) == 0 && ::stat(backing.c_str(), &back) == 0 &&
         file.st_dev == back.st_dev && file.st_ino == back.st_ino;
}

bool TLinuxDeviceQueries::MayOpenDevices() {
  // Being root is not enough inside a container whose device rules forbid the disks, so
  // the disks are tried: opened for reading and closed at once.
  for (const TBlockDevice& disk : ReadBlockLayout(roots_).Disks) {
    const std::string node = NodeOf(disk, roots_);
    const int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && (errno == EACCES || errno == EPERM)) {
      // EACCES: the node's permissions, which root passes. EPERM: a rule root is held to
      // as well (a container's device list, a security module).
      refusal_.Text = node + ": " + std::strerror(errno);
      refusal_.RightsWouldHelp = errno == EACCES && ::geteuid() != 0;
      return false;
    }
    if (fd >= 0) ::close(fd);
  }
  return true;
}

std::optional<std::string> TLinuxDeviceQueries::DeviceNode(const std::string& devicePath) const {
  const auto device = FindBlockDevice(ReadBlockLayout(roots_), devicePath);
  if (!device) return std::nullopt;
  return NodeOf(*device, roots_);
}

std::unique_ptr<IDeviceQueries> MakePlatformDeviceQueries() {
  return std::make_unique<TLinuxDeviceQueries>();
}

}  // namespace quillon
