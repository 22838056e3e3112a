#include "storage/volume_list.h"

#include <gtest/gtest.h>

#include <clocale>

#include "support/fake_device_queries.h"

namespace quillon {
namespace {

using testing::TFakeDeviceQueries;
using testing::TFakeVolume;

constexpr std::int64_t kGiB = 1024LL * 1024 * 1024;

TFakeVolume FixedVolume(const std::string& label, std::uint32_t disk, std::int64_t freeBytes,
                        std::int64_t totalBytes) {
  TFakeVolume v;
  v.Information = TVolumeInformation{label, 0x1234ABCD, "NTFS"};
  v.Space = TDiskFreeSpace{freeBytes, totalBytes};
  v.Extent = TDiskExtent{disk, 1048576, totalBytes};
  return v;
}

TEST(VolumeListTest, MachineWithoutVolumesListsNothingAndExaminesCToZ) {
  TFakeDeviceQueries machine;
  const TNTVolumeList list(machine, testing::WindowPathConstants());
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(list.Captions.empty());
  EXPECT_TRUE(list.Letters.empty());

  const TNTVolumeInfo none("Q", machine, testing::WindowPathConstants());
  EXPECT_EQ(none.VolumeLabel, "");
  EXPECT_EQ(none.SerialNumber, "");
  EXPECT_EQ(none.DriveTypeCode, "");
  EXPECT_EQ(none.TotalBytes, 0);
  EXPECT_EQ(none.Extent.DiskNumber, 255u);
}

TEST(VolumeListTest, CaptionsLettersAndWhichVolumesAreKept) {
  TFakeDeviceQueries machine;
  // The caption example of a fixed system volume.
  machine.Volumes['C'] = FixedVolume("System", 0, static_cast<std::int64_t>(20.55 * kGiB),
                                     static_cast<std::int64_t>(99.90 * kGiB));
  // Labelled, but the device does not open without rights: listed on drive 255.
  machine.Volumes['D'] = FixedVolume("Data", 1, kGiB, 2 * kGiB);
  machine.Volumes['D'].Opens = false;
  // Unlabelled and the device does not open: not listed.
  machine.Volumes['E'] = FixedVolume("", 1, kGiB, 2 * kGiB);
  machine.Volumes['E'].Opens = false;
  // No file system recognised, but the device opens and reports an extent.
  TFakeVolume raw;
  raw.Extent = TDiskExtent{1, 4 * kGiB, 8 * kGiB};
  machine.Volumes['F'] = raw;
  // A removable stick of 600 MiB, serial below 0x10000000, unlabelled, device opens.
  TFakeVolume stick = FixedVolume("", 2, 0, 600LL * 1024 * 1024);
  stick.DriveType = DriveRemovable;
  stick.Information->SerialNumber = 0x00C0FFEE;
  stick.Information->FileSystemName = "FAT32";
  machine.Volumes['G'] = stick;
  // A labelled CD-ROM: no device open is tried, listed as CD255.
  TFakeVolume cd;
  cd.DriveType = DriveCdRom;
  cd.Information = TVolumeInformation{"中文光盘", 0xFFFFFFFF, "CDFS"};
  machine.Volumes['H'] = cd;
  // An empty CD drive: nothing to show.
  TFakeVolume emptyCd;
  emptyCd.DriveType = DriveCdRom;
  machine.Volumes['I'] = emptyCd;
  // A labelled network volume.
  TFakeVolume share = FixedVolume("Share", 0, kGiB, kGiB);
  share.DriveType = DriveRemote;
  machine.Volumes['Z'] = share;

  const TNTVolumeList list(machine, testing::WindowPathConstants());
  ASSERT_EQ(list.Letters, (std::vector<std::string>{"C", "D", "F", "G", "H", "Z"}));
  EXPECT_EQ(list.Captions[0], "System (C:), HD0, NTFS, [20.55 GB/99.90 GB]");
  EXPECT_EQ(list.Captions[1], "Data (D:), HD255, NTFS, [1.00 GB/2.00 GB]");
  EXPECT_EQ(list.Captions[2], " (F:), HD1, , [0.00 MB/0.00 MB]");
  EXPECT_EQ(list.Captions[3], " (G:), RD2, FAT32, [0.00 MB/0.59 GB]");
  EXPECT_EQ(list.Captions[4], "中文光盘 (H:), CD255, CDFS, [0.00 MB/0.00 MB]");
  EXPECT_EQ(list.Captions[5], "Share (Z:), ND255, NTFS, [1.00 GB/1.00 GB]");
  EXPECT_EQ(list.Items[3].SerialNumber, "00C0FFEE");
  EXPECT_EQ(list.Items[4].SerialNumber, "FFFFFFFF");
  EXPECT_EQ(list.Items[2].SerialNumber, "");
  EXPECT_TRUE(list.Items[0].Present);
  EXPECT_EQ(list.Item.Letter, "Z");  // the last kept volume

  // Devices are opened only for removable and fixed volumes, by their device paths.
  EXPECT_EQ(machine.Opened, (std::vector<std::string>{"\\\\.\\C:", "\\\\.\\D:", "\\\\.\\E:",
                                                      "\\\\.\\F:", "\\\\.\\G:"}));
}

TEST(VolumeListTest, DeviceNameStandsInForAMissingLabel) {
  TFakeDeviceQueries machine;
  machine.Volumes['C'] = FixedVolume("", 0, 0, kGiB);
  machine.Volumes['C'].DeviceName = "sda1";
  machine.Volumes['D'] = FixedVolume("Boot", 0, 0, kGiB);
  machine.Volumes['D'].DeviceName = "sda2";
  const TNTVolumeList list(machine, testing::WindowPathConstants());
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Captions[0], "sda1 (C:), HD0, NTFS, [0.00 MB/1.00 GB]");
  EXPECT_EQ(list.Captions[1], "Boot (D:), HD0, NTFS, [0.00 MB/1.00 GB]");
  EXPECT_EQ(list.Items[0].VolumeLabel, "");
}

TEST(VolumeListTest, UnreadableFileSystemIsSizedByItsExtent) {
  TFakeDeviceQueries machine;
  TFakeVolume raw;
  raw.Extent = TDiskExtent{1, 4 * kGiB, 8 * kGiB};
  machine.Volumes['F'] = raw;
  machine.Volumes['G'] = FixedVolume("Ok", 0, 0, 3 * kGiB);
  TFakeVolume lost;  // neither the queries nor the device answer
  lost.Information = TVolumeInformation{"Lost", 1, "NTFS"};
  lost.Opens = false;
  machine.Volumes['H'] = lost;

  const TNTVolumeInfo f("F", machine, testing::WindowPathConstants());
  EXPECT_EQ(f.TotalBytes, 0);  // the free-space query failed
  EXPECT_EQ(f.Extent.ExtentLength, 8 * kGiB);
  EXPECT_EQ(VolumeBytesToScan(f), 8 * kGiB);
  EXPECT_EQ(VolumeBytesToScan(TNTVolumeInfo("G", machine, testing::WindowPathConstants())),
            3 * kGiB);
  EXPECT_EQ(VolumeBytesToScan(TNTVolumeInfo("H", machine, testing::WindowPathConstants())), 0);
}

TEST(VolumeSizeTextTest, GigabytesFromOneMebibyteUpWithTwoRoundedDecimals) {
  EXPECT_EQ(VolumeSizeText(0, "."), "0.00 MB");
  EXPECT_EQ(VolumeSizeText(1048575, "."), "1.00 MB");
  EXPECT_EQ(VolumeSizeText(1048576, "."), "0.00 GB");
  EXPECT_EQ(VolumeSizeText(600.0 * 1024 * 1024, "."), "0.59 GB");
  EXPECT_EQ(VolumeSizeText(524288, "."), "0.50 MB");
  EXPECT_EQ(VolumeSizeText(5.0 * 1024 * kGiB, "."), "5120.00 GB");  // no thousands separator
  EXPECT_EQ(VolumeSizeText(99.996 * kGiB, "."), "100.00 GB");
  EXPECT_EQ(VolumeSizeText(1.5 * kGiB, ","), "1,50 GB");
}

TEST(VolumeSizeTextTest, FollowsTheSeparatorOfTheNumericLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
      std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") == nullptr) {
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  const std::string text = VolumeSizeText(1.5 * kGiB);
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(text, "1,50 GB");
  EXPECT_EQ(VolumeSizeText(1.5 * kGiB), "1.50 GB");
}

}  // namespace
}  // namespace quillon
