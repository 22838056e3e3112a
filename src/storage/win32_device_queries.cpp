// The volume and drive queries through the Windows calls themselves.

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "core/errors.h"
#include "storage/device_queries.h"
#include "storage/win32_error_text.h"
#include "storage/win32_text.h"

namespace quillon {
namespace {

class TWin32Device : public IDevice {
 public:
  explicit TWin32Device(HANDLE handle) : handle_(handle) {}
  ~TWin32Device() override { ::CloseHandle(handle_); }
  TWin32Device(const TWin32Device&) = delete;
  TWin32Device& operator=(const TWin32Device&) = delete;

  std::optional<TDiskGeometry> DriveGeometry() override {
    DISK_GEOMETRY geometry;
    std::memset(&geometry, 0, sizeof geometry);
    DWORD returned = 0;
    if (!::DeviceIoControl(handle_, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                           sizeof geometry, &returned, nullptr)) {
      return std::nullopt;
    }
    TDiskGeometry result;
    result.Cylinders = geometry.Cylinders.QuadPart;
    result.TracksPerCylinder = geometry.TracksPerCylinder;
    result.SectorsPerTrack = geometry.SectorsPerTrack;
    result.BytesPerSector = geometry.BytesPerSector;
    return result;
  }

  std::optional<TDiskGeometryEx> DriveGeometryEx() override {
    // DISK_GEOMETRY_EX ends in a variable part; the fixed 40 bytes are all that is read.
    alignas(DISK_GEOMETRY_EX) unsigned char buffer[40];
    static_assert(sizeof buffer >= offsetof(DISK_GEOMETRY_EX, Data));
    std::memset(buffer, 0, sizeof buffer);
    DWORD returned = 0;
    if (!::DeviceIoControl(handle_, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, buffer,
                           sizeof buffer, &returned, nullptr)) {
      return std::nullopt;
    }
    DISK_GEOMETRY_EX geometry;
    std::memcpy(&geometry, buffer, offsetof(DISK_GEOMETRY_EX, Data));
    return TDiskGeometryEx{static_cast<std::int32_t>(geometry.Geometry.MediaType),
                           geometry.DiskSize.QuadPart};
  }

  std::optional<std::int64_t> Length() override {
    GET_LENGTH_INFORMATION length;
    std::memset(&length, 0, sizeof length);
    DWORD returned = 0;
    if (!::DeviceIoControl(handle_, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                           sizeof length, &returned, nullptr) ||
        length.Length.QuadPart <= 0) {
      return std::nullopt;
    }
    return length.Length.QuadPart;
  }

  std::optional<TDiskExtent> FirstDiskExtent() override {
    alignas(VOLUME_DISK_EXTENTS) unsigned char buffer[260];
    std::memset(buffer, 0, sizeof buffer);
    DWORD returned = 0;
    if (!::DeviceIoControl(handle_, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer,
                           sizeof buffer, &returned, nullptr)) {
      return std::nullopt;
    }
    VOLUME_DISK_EXTENTS extents;
    std::memcpy(&extents, buffer, sizeof extents);
    if (extents.NumberOfDiskExtents == 0) return std::nullopt;
    const DISK_EXTENT& first = extents.Extents[0];
    return TDiskExtent{static_cast<std::uint32_t>(first.DiskNumber),
                       first.StartingOffset.QuadPart, first.ExtentLength.QuadPart};
  }

 private:
  HANDLE handle_;
};

// A volume as the system names it: its GUID path ("\\?\Volume{...}\") where it has one,
// and the root of its mount point ("C:\" or "C:\mnt\data\").
struct TVolumeName {
  std::string Guid;
  std::string MountPoint;
};

// The system's own text as the ANSI calls give it ('?' for what the code page lacks), like
// every other name the storage layer returns.
std::string AnsiOfWide(const wchar_t* text) {
  const int length = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string ansi(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.data(), length, nullptr, nullptr);
  ansi.resize(static_cast<std::size_t>(length) - 1);
  return ansi;
}

// The path in the system's code page as UTF-16, for the wide calls, which take paths of
// any length.
std::wstring WideOfAnsi(const std::string& ansi) { return Utf8ToWide(AnsiToUtf8(ansi)); }

// The volume that holds path (existing or about to be created), however long the path.
std::optional<TVolumeName> VolumeOfPath(const std::string& path) {
  const std::wstring given = WideOfAnsi(path);
  const DWORD needed = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return std::nullopt;
  full.resize(length);
  // The mount point is never longer than the path it holds.
  std::wstring mount(full.size() + 2, L'\0');
  if (!::GetVolumePathNameW(full.c_str(), mount.data(), static_cast<DWORD>(mount.size())) ||
      mount[0] == 0) {
    return std::nullopt;
  }
  mount.resize(std::wcslen(mount.c_str()));
  TVolumeName name;
  name.MountPoint = WideToUtf8(mount);
  wchar_t guid[64] = {};  // "\\?\Volume{GUID}\": 49 characters and the end
  if (::GetVolumeNameForVolumeMountPointW(mount.c_str(), guid, 64)) name.Guid = WideToUtf8(guid);
  return name;
}

bool SameVolume(const TVolumeName& a, const TVolumeName& b) {
  const auto same = [](const std::string& x, const std::string& y) {
    return ::lstrcmpiW(Utf8ToWide(x).c_str(), Utf8ToWide(y).c_str()) == 0;
  };
  // The GUID path tells a volume mounted in a folder apart from the one holding the folder.
  if (!a.Guid.empty() && !b.Guid.empty()) return same(a.Guid, b.Guid);
  return same(a.MountPoint, b.MountPoint);
}

// The physical drives a volume has extents on; empty when the system does not say.
std::vector<std::uint32_t> DisksOfVolume(const TVolumeName& volume) {
  std::string device;
  if (!volume.Guid.empty()) {
    device = volume.Guid;
    if (device.back() == '\\') device.pop_back();  // the volume itself, not its root folder
  } else if (volume.MountPoint.size() >= 2 && volume.MountPoint[1] == ':') {
    device = std::string("\\\\.\\") + volume.MountPoint.substr(0, 2);
  } else {
    return {};
  }
  // No access rights are asked for: the extents request needs none, so this works without
  // administrator rights too.
  const HANDLE handle = ::CreateFileW(Utf8ToWide(device).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  alignas(VOLUME_DISK_EXTENTS) unsigned char buffer[sizeof(VOLUME_DISK_EXTENTS) +
                                                    31 * sizeof(DISK_EXTENT)];
  std::memset(buffer, 0, sizeof buffer);
  DWORD returned = 0;
  const BOOL ok = ::DeviceIoControl(handle, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                    buffer, sizeof buffer, &returned, nullptr);
  ::CloseHandle(handle);
  std::vector<std::uint32_t> disks;
  if (!ok) return disks;
  const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer);
  const DWORD count = std::min<DWORD>(extents->NumberOfDiskExtents, 32);
  for (DWORD i = 0; i < count; ++i) {
    disks.push_back(static_cast<std::uint32_t>(extents->Extents[i].DiskNumber));
  }
  return disks;
}

class TWin32DeviceQueries : public IDeviceQueries {
 public:
  std::optional<TVolumeInformation> VolumeInformation(const std::string& rootPath) override {
    // Asked of the open root folder rather than by path: by path, Wine reads the volume's
    // device for its label and prints "Read access denied for device" without the rights.
    const HANDLE root = ::CreateFileW(WideOfAnsi(rootPath).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (root == INVALID_HANDLE_VALUE) return std::nullopt;
    wchar_t label[MAX_PATH + 1] = {};
    wchar_t fileSystem[MAX_PATH + 1] = {};
    DWORD serial = 0, maximumComponentLength = 0, flags = 0;
    const BOOL known = ::GetVolumeInformationByHandleW(root, label, MAX_PATH + 1, &serial,
                                                       &maximumComponentLength, &flags,
                                                       fileSystem, MAX_PATH + 1);
    ::CloseHandle(root);
    if (!known) return std::nullopt;
    return TVolumeInformation{AnsiOfWide(label), static_cast<std::uint32_t>(serial),
                              AnsiOfWide(fileSystem)};
  }

  std::optional<TDiskFreeSpace> DiskFreeSpace(const std::string& rootPath) override {
    ULARGE_INTEGER freeToCaller, total, totalFree;
    if (!::GetDiskFreeSpaceExA(rootPath.c_str(), &freeToCaller, &total, &totalFree)) {
      return std::nullopt;
    }
    return TDiskFreeSpace{static_cast<std::int64_t>(freeToCaller.QuadPart),
                          static_cast<std::int64_t>(total.QuadPart)};
  }

  int DriveType(const std::string& rootPath) override {
    return static_cast<int>(::GetDriveTypeA(rootPath.c_str()));
  }

  std::string VolumeDeviceName(const std::string&) override { return {}; }

  std::unique_ptr<IDevice> OpenDevice(const std::string& devicePath, TOpenMode mode) override {
    if (mode == TOpenMode::CreateExclusive) {
      throw EQuillonError(CreateErrorText(devicePath, Win32ErrorText(ERROR_ACCESS_DENIED)));
    }
    const DWORD access =
        mode == TOpenMode::ReadWriteShared ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    const HANDLE handle = ::CreateFileA(devicePath.c_str(), access,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      throw EQuillonError(OpenErrorText(devicePath, Win32ErrorText(::GetLastError())));
    }
    return std::make_unique<TWin32Device>(handle);
  }

  bool FileLiesOnDevice(const std::string& filePath, const std::string& devicePath) override {
    const std::optional<TVolumeName> output = VolumeOfPath(filePath);
    if (!output) return false;
    const std::string rest = devicePath.size() > 4 ? devicePath.substr(4) : std::string();
    if (rest.size() == 2 && rest[1] == ':') {
      // The same volume, also when the output lies under a folder mount point of it.
      const std::optional<TVolumeName> source = VolumeOfPath(rest + "\\");
      return source && SameVolume(*output, *source);
    }
    // A physical drive: the output's volume lies on it when any of its extents does.
    constexpr const char* kDrivePrefix = "physicaldrive";
    if (rest.rfind(kDrivePrefix, 0) != 0) return false;
    const std::string number = rest.substr(13);
    for (const std::uint32_t disk : DisksOfVolume(*output)) {
      if (std::to_string(disk) == number) return true;
    }
    return false;
  }

  bool MayOpenDevices() override {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool known =
        ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0;
    ::CloseHandle(token);
    return !known || elevation.TokenIsElevated != 0;
  }
};

}  // namespace

std::unique_ptr<IDeviceQueries> MakePlatformDeviceQueries() {
  return std::make_unique<TWin32DeviceQueries>();
}

}  // namespace quillon
