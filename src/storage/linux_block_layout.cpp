#include "storage/linux_block_layout.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <regex>
#include <system_error>

namespace quillon {
namespace fs = std::filesystem;
namespace {

constexpr const char* kDevicePrefix = "\\\\.\\";
constexpr int kMaxVolumes = 24;  // the letters C to Z

// Whole disks a person would call a physical drive, in the order they are numbered.
const std::regex& DiskPattern(std::size_t kind) {
  static const std::regex kPatterns[] = {
      std::regex("sd[a-z]+"),     std::regex("nvme[0-9]+n[0-9]+"), std::regex("vd[a-z]+"),
      std::regex("xvd[a-z]+"),    std::regex("hd[a-z]+"),          std::regex("mmcblk[0-9]+"),
      std::regex("loop[0-9]+"),
  };
  return kPatterns[kind];
}
constexpr std::size_t kDiskKinds = 7;

// The kind's index, or kDiskKinds when the name is no physical drive.
std::size_t DiskKindOf(const std::string& name) {
  for (std::size_t kind = 0; kind < kDiskKinds; ++kind) {
    if (std::regex_match(name, DiskPattern(kind))) return kind;
  }
  return kDiskKinds;
}

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

std::int64_t ReadNumber(const fs::path& file) {
  const std::string text = ReadLine(file);
  try {
    return text.empty() ? 0 : std::stoll(text);
  } catch (const std::exception&) {
    return 0;
  }
}

// sysfs counts sizes and starts in 512-byte units whatever the sector size.
constexpr std::int64_t kSysfsUnit = 512;

TBlockDevice DeviceAt(const fs::path& dir, const std::string& name) {
  TBlockDevice device;
  device.Name = name;
  device.SysDir = dir;
  device.DevNumber = ReadLine(dir / "dev");
  device.SysfsBytes = ReadNumber(dir / "size") * kSysfsUnit;
  return device;
}

bool IsPhysicalDisk(const fs::path& dir, const std::string& name) {
  if (DiskKindOf(name) == kDiskKinds) return false;
  if (ReadLine(dir / "hidden") == "1") return false;  // a multipath path, not a disk
  // An unbound loop device has no backing file and nothing behind it.
  if (name.starts_with("loop") && ReadLine(dir / "loop" / "backing_file").empty()) return false;
  // An empty card reader: listing it would end the drive probe before the disks after it.
  return ReadNumber(dir / "size") > 0;
}

std::vector<TBlockDevice> PartitionsOf(const TBlockDevice& disk) {
  std::vector<std::pair<std::int64_t, TBlockDevice>> found;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(disk.SysDir, ec)) {
    const fs::path dir = entry.path();
    if (!fs::exists(dir / "partition", ec)) continue;
    TBlockDevice part = DeviceAt(dir, dir.filename().string());
    // An extended partition's container is 1 KiB in sysfs and holds no file system.
    if (part.SysfsBytes <= 2 * kSysfsUnit) continue;
    part.StartBytes = ReadNumber(dir / "start") * kSysfsUnit;
    found.emplace_back(ReadNumber(dir / "partition"), std::move(part));
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TBlockDevice> parts;
  for (auto& [number, part] : found) parts.push_back(std::move(part));
  return parts;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The drive number of "physicaldriveN" (decimal, no leading zeros), or -1.
long DriveNumberOf(const std::string& rest) {
  static const std::string kDrive = "physicaldrive";
  if (rest.size() <= kDrive.size() || !EqualsIgnoringCase(rest.substr(0, kDrive.size()), kDrive)) {
    return -1;
  }
  const std::string digits = rest.substr(kDrive.size());
  if (digits.size() > 9 || (digits.size() > 1 && digits[0] == '0')) return -1;
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return -1;
  }
  return std::stol(digits);
}

// The upper-case letter of "X:", or 0.
char LetterOf(const std::string& rest) {
  if (rest.size() != 2 || rest[1] != ':' || !std::isalpha(static_cast<unsigned char>(rest[0]))) {
    return 0;
  }
  return static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
}

}  // namespace

bool DiskNameBefore(const std::string& a, const std::string& b) {
  const std::size_t kindA = DiskKindOf(a), kindB = DiskKindOf(b);
  if (kindA != kindB) return kindA < kindB;
  // Runs of letters compare shorter first (sdz before sdaa), runs of digits by value.
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool digitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool digitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (digitA != digitB) return digitA;
    std::size_t endA = i, endB = j;
    while (endA < a.size() && (std::isdigit(static_cast<unsigned char>(a[endA])) != 0) == digitA) ++endA;
    while (endB < b.size() && (std::isdigit(static_cast<unsigned char>(b[endB])) != 0) == digitB) ++endB;
    std::string runA = a.substr(i, endA - i), runB = b.substr(j, endB - j);
    if (digitA) {
      runA.erase(0, std::min(runA.find_first_not_of('0'), runA.size() - 1));
      runB.erase(0, std::min(runB.find_first_not_of('0'), runB.size() - 1));
    }
    if (runA.size() != runB.size()) return runA.size() < runB.size();
    if (runA != runB) return runA < runB;
    i = endA;
    j = endB;
  }
  return a.size() - i < b.size() - j;
}

TBlockLayout ReadBlockLayout(const TLinuxRoots& roots) {
  TBlockLayout layout;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(roots.Sys / "block", ec)) {
    const std::string name = entry.path().filename().string();
    if (IsPhysicalDisk(entry.path(), name)) layout.Disks.push_back(DeviceAt(entry.path(), name));
  }
  std::sort(layout.Disks.begin(), layout.Disks.end(),
            [](const TBlockDevice& a, const TBlockDevice& b) { return DiskNameBefore(a.Name, b.Name); });

  for (std::size_t index = 0; index < layout.Disks.size(); ++index) {
    TBlockDevice& disk = layout.Disks[index];
    disk.DiskIndex = static_cast<int>(index);
    disk.Removable = ReadLine(disk.SysDir / "removable") == "1";
    std::vector<TBlockDevice> parts = PartitionsOf(disk);
    // A disk without partitions (a stick formatted whole, a loop image of one file
    // system) is its own volume.
    if (parts.empty()) parts.push_back(disk);
    for (TBlockDevice& part : parts) {
      if (static_cast<int>(layout.Volumes.size()) == kMaxVolumes) break;
      part.DiskIndex = disk.DiskIndex;
      part.Removable = disk.Removable;
      part.IsVolume = true;
      layout.Volumes.push_back(std::move(part));
    }
  }
  return layout;
}

bool IsDevicePathForm(const std::string& path) {
  const std::string prefix = kDevicePrefix;
  if (!path.starts_with(prefix)) return false;
  const std::string rest = path.substr(prefix.size());
  return DriveNumberOf(rest) >= 0 || LetterOf(rest) != 0;
}

std::optional<TBlockDevice> FindBlockDevice(const TBlockLayout& layout, const std::string& path) {
  const std::string prefix = kDevicePrefix;
  if (!path.starts_with(prefix)) return std::nullopt;
  const std::string rest = path.substr(prefix.size());
  if (const long number = DriveNumberOf(rest); number >= 0) {
    if (number >= static_cast<long>(layout.Disks.size())) return std::nullopt;
    return layout.Disks[static_cast<std::size_t>(number)];
  }
  if (LetterOf(rest) != 0) return FindVolume(layout, rest);
  return std::nullopt;
}

std::optional<TBlockDevice> FindVolume(const TBlockLayout& layout, const std::string& root) {
  if (root.empty()) return std::nullopt;
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
  if (letter < 'C' || letter > 'Z') return std::nullopt;
  const std::size_t index = static_cast<std::size_t>(letter - 'C');
  if (index >= layout.Volumes.size()) return std::nullopt;
  return layout.Volumes[index];
}

}  // namespace quillon
