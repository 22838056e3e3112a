// The volume and drive queries through the Windows calls, checked under Wine against the
// same calls made here directly: the 64-bit size product of the geometry, the serial
// number's text, the drive types of C: and Z:, and the output-on-device check.

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "storage/device_queries.h"
#include "storage/drive_probe.h"
#include "storage/volume_info.h"

namespace quillon {
namespace {

const TPathConstants kConstants{"physicaldrive", "\\\\.\\", ":", ":\\"};

TEST(Win32DeviceQueriesTest, ADrivesSizeIsTheGeometryProductIn64Bits) {
  const auto queries = MakePlatformDeviceQueries();
  std::unique_ptr<IDevice> drive;
  try {
    drive = queries->OpenDevice("\\\\.\\physicaldrive0", TOpenMode::ReadShared);
  } catch (const std::exception& error) {
    GTEST_SKIP() << "no physical drive 0 here: " << error.what();
  }
  const HANDLE handle = ::CreateFileA("\\\\.\\physicaldrive0", GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  DISK_GEOMETRY geometry{};
  DWORD returned = 0;
  ASSERT_TRUE(::DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                                sizeof geometry, &returned, nullptr));
  ::CloseHandle(handle);
  const long double product = static_cast<long double>(geometry.Cylinders.QuadPart) *
                              geometry.TracksPerCylinder * geometry.SectorsPerTrack *
                              geometry.BytesPerSector;
  const std::int64_t size = GetDriveSize(*drive);
  EXPECT_EQ(static_cast<long double>(size), product);
  std::printf("physicaldrive0: %lld bytes (%s), %s\n", static_cast<long long>(size),
              DiskSizeText(static_cast<std::uint64_t>(size)).c_str(),
              GetMediaTypeName(*drive).c_str());
}

TEST(Win32DeviceQueriesTest, SerialNumberAndDriveTypesAreTheSystemsOwn) {
  const auto queries = MakePlatformDeviceQueries();
  for (const char* letter : {"C", "Z"}) {
    SCOPED_TRACE(letter);
    const std::string root = std::string(letter) + ":\\";
    const TNTVolumeInfo info(letter, *queries, kConstants);
    EXPECT_EQ(info.DriveTypeCode, DriveTypeCodeOf(static_cast<int>(::GetDriveTypeA(root.c_str()))));
    DWORD serial = 0;
    if (::GetVolumeInformationA(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
      char text[9];
      std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(serial));
      EXPECT_EQ(info.SerialNumber, text);
      EXPECT_EQ(info.SerialNumber.size(), 8u);
    } else {
      EXPECT_EQ(info.SerialNumber, "");
    }
    std::printf("%s: drive type %u (\"%s\"), serial \"%s\", file system \"%s\", %lld bytes\n",
                letter, ::GetDriveTypeA(root.c_str()), info.DriveTypeCode.c_str(),
                info.SerialNumber.c_str(), info.FileSystemName.c_str(),
                static_cast<long long>(info.TotalBytes));
  }
  // Wine's C: is its own fixed drive.
  EXPECT_EQ(TNTVolumeInfo("C", *queries, kConstants).DriveTypeCode, "HD");
}

TEST(Win32DeviceQueriesTest, AnOutputIsOnTheVolumeThatHoldsItsFolder) {
  const auto queries = MakePlatformDeviceQueries();
  char windows[MAX_PATH];
  ::GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string output = std::string(windows) + "\\quillon-output.frag";
  const std::string volume = std::string("\\\\.\\") + windows[0] + ":";
  EXPECT_TRUE(queries->FileLiesOnDevice(output, volume));
  // A letter that holds no volume holds no output.
  EXPECT_FALSE(queries->FileLiesOnDevice(output, "\\\\.\\Q:"));
  // Nor does a path longer than 260 characters escape the check.
  const std::string deep = std::string(windows) + "\\" + std::string(120, 'd') + "\\" +
                           std::string(120, 'e') + "\\quillon-output.frag";
  ASSERT_GT(deep.size(), 260u);
  EXPECT_TRUE(queries->FileLiesOnDevice(deep, volume)) << deep.size() << " characters";
}

}  // namespace
}  // namespace quillon
