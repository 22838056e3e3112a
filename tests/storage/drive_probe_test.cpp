#include "storage/drive_probe.h"

#include <gtest/gtest.h>

#include "support/fake_device_queries.h"

namespace quillon {
namespace {

using testing::TFakeDeviceQueries;
using testing::TFakeDrive;

constexpr std::uint64_t kGiB = 1024ULL * 1024 * 1024;

TFakeDrive Drive(std::int64_t cylinders, std::int32_t mediaType = kFixedMedia) {
  TFakeDrive drive;
  drive.Geometry = TDiskGeometry{cylinders, 255, 63, 512};
  drive.GeometryEx = TDiskGeometryEx{mediaType, cylinders * 255 * 63 * 512 + 4096};
  return drive;
}

std::vector<TProbedDrive> Probe(TFakeDeviceQueries& machine) {
  std::vector<TProbedDrive> found;
  const int count = ProbeDrives(machine, testing::WindowPathConstants(),
                                [&](const TProbedDrive& d) { found.push_back(d); });
  EXPECT_EQ(count, static_cast<int>(found.size()));
  return found;
}

TEST(DriveProbeTest, CaptionsAndEntryNamesOfTheDrivesThatOpen) {
  TFakeDeviceQueries machine;
  machine.Drives[0] = Drive(60801);  // 465.76 GiB by whole cylinders
  machine.Drives[1] = Drive(1000, kRemovableMedia);
  const auto found = Probe(machine);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].EntryName, "physicaldrive0");
  EXPECT_EQ(found[0].Caption, "HD0, Fixed Drive, [465.75 GB]");
  EXPECT_EQ(found[0].Size, 60801LL * 255 * 63 * 512);
  EXPECT_EQ(found[1].Caption, "HD1, Removable Drive, [7.66 GB]");
  EXPECT_EQ(machine.Opened, (std::vector<std::string>{"\\\\.\\physicaldrive0",
                                                      "\\\\.\\physicaldrive1",
                                                      "\\\\.\\physicaldrive2"}));
}

TEST(DriveProbeTest, StopsAtTheFirstDriveThatDoesNotOpen) {
  TFakeDeviceQueries none;
  EXPECT_TRUE(Probe(none).empty());
  EXPECT_EQ(none.Opened.size(), 1u);

  TFakeDeviceQueries gap;  // drive 1 removed, drive 2 still there
  gap.Drives[0] = Drive(10);
  gap.Drives[2] = Drive(10);
  const auto found = Probe(gap);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Number, 0);
  EXPECT_EQ(gap.Opened.back(), "\\\\.\\physicaldrive1");
}

// A drive that opens but cannot be sized is listed as unknown, and the drives after it are
// still probed and listed.
TEST(DriveProbeTest, ADriveThatCannotBeSizedHidesNoDriveAfterIt) {
  TFakeDeviceQueries machine;
  machine.Drives[0] = Drive(10);
  machine.Drives[1] = Drive(10);
  machine.Drives[1].RequestsThrow = true;
  machine.Drives[2] = Drive(1000, kRemovableMedia);
  const auto found = Probe(machine);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[1].Caption, "HD1, UNKNOWN, [0 B]");
  EXPECT_EQ(found[1].Size, 0);
  EXPECT_EQ(found[2].Caption, "HD2, Removable Drive, [7.66 GB]");
  EXPECT_EQ(machine.Opened.size(), 4u);
}

// What the receiver of a drive throws is not taken for the end of the drives: it reaches
// the caller of the probe.
TEST(DriveProbeTest, AFailureOfTheReceiverIsNotSwallowed) {
  TFakeDeviceQueries machine;
  machine.Drives[0] = Drive(10);
  machine.Drives[1] = Drive(10);
  EXPECT_THROW(ProbeDrives(machine, testing::WindowPathConstants(),
                           [](const TProbedDrive&) { throw EQuillonError("menu full"); }),
               EQuillonError);
}

TEST(DriveProbeTest, AtMost256DrivesAreTried) {
  TFakeDeviceQueries machine;
  for (int n = 0; n <= 256; ++n) machine.Drives[n] = Drive(1);
  const auto found = Probe(machine);
  ASSERT_EQ(found.size(), 256u);
  EXPECT_EQ(found.back().EntryName, "physicaldrive255");
  EXPECT_EQ(found.back().Caption.substr(0, 7), "HD255, ");
  EXPECT_EQ(machine.Opened.size(), 256u);  // drive 256 is never tried
}

TEST(DriveProbeTest, EachDriveIsHandedOnBeforeTheNextIsOpened) {
  TFakeDeviceQueries machine;
  machine.Drives[0] = Drive(1);
  machine.Drives[1] = Drive(1);
  std::vector<std::size_t> opensSeen;
  ProbeDrives(machine, testing::WindowPathConstants(),
              [&](const TProbedDrive&) { opensSeen.push_back(machine.Opened.size()); });
  EXPECT_EQ(opensSeen, (std::vector<std::size_t>{1, 2}));
}

TEST(DriveSizeTest, GeometryProductIn64BitsAndFailedRequests) {
  TFakeDeviceQueries machine;
  // 3 TiB: every partial product passes 32 bits.
  TFakeDrive big;
  big.Geometry = TDiskGeometry{3LL * 1024 * 1024 * 1024 * 2, 1, 1, 512};
  big.GeometryEx = TDiskGeometryEx{kFixedMedia, 3LL << 40};
  machine.Drives[0] = big;
  machine.Drives[1] = TFakeDrive{};  // opens, but both geometry requests fail
  const auto found = Probe(machine);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].Size, 3LL << 40);
  EXPECT_EQ(found[0].Caption, "HD0, Fixed Drive, [3 TB]");
  EXPECT_EQ(found[1].Caption, "HD1, UNKNOWN, [0 B]");

  auto drive = machine.OpenDevice("\\\\.\\physicaldrive0", TOpenMode::ReadShared);
  EXPECT_EQ(GetDriveSize(*drive), 3LL << 40);
  EXPECT_EQ(GetExactDriveSize(*drive), 3LL << 40);
  machine.Drives[2] = Drive(2);  // whole cylinders short of the exact size
  auto partial = machine.OpenDevice("\\\\.\\physicaldrive2", TOpenMode::ReadShared);
  EXPECT_EQ(GetDriveSize(*partial), 2LL * 255 * 63 * 512);
  EXPECT_EQ(GetExactDriveSize(*partial), 2LL * 255 * 63 * 512 + 4096);
}

TEST(DriveSizeTest, MediaTypeNames) {
  EXPECT_EQ(MediaTypeName(0), "Unknown Media Type");
  EXPECT_EQ(MediaTypeName(1), "Floppy Disk");
  EXPECT_EQ(MediaTypeName(10), "Floppy Disk");
  EXPECT_EQ(MediaTypeName(11), "Removable Drive");
  EXPECT_EQ(MediaTypeName(12), "Fixed Drive");
  EXPECT_EQ(MediaTypeName(13), "Zip / Other");
  EXPECT_EQ(MediaTypeName(25), "Zip / Other");
  EXPECT_EQ(MediaTypeName(26), "UNKNOWN");
  EXPECT_EQ(MediaTypeName(-1), "UNKNOWN");
}

TEST(DiskSizeTextTest, TruncatedHundredthsOfTheLastDivision) {
  EXPECT_EQ(DiskSizeText(0), "0 B");
  EXPECT_EQ(DiskSizeText(1023), "1023 B");
  EXPECT_EQ(DiskSizeText(1024), "1 KB");
  EXPECT_EQ(DiskSizeText(1025), "1 KB");
  EXPECT_EQ(DiskSizeText(1035), "1.01 KB");
  EXPECT_EQ(DiskSizeText(1536), "1.50 KB");
  EXPECT_EQ(DiskSizeText(1048576), "1 MB");
  EXPECT_EQ(DiskSizeText(3 * kGiB + kGiB / 2), "3.50 GB");
  EXPECT_EQ(DiskSizeText(static_cast<std::uint64_t>(465.759 * kGiB)), "465.75 GB");
  EXPECT_EQ(DiskSizeText(static_cast<std::uint64_t>(1863.01 * kGiB)), "1.81 TB");
  EXPECT_EQ(DiskSizeText(3ULL << 40), "3 TB");
  EXPECT_EQ(DiskSizeText((3ULL << 40) + (1ULL << 40) / 4), "3.25 TB");
  EXPECT_EQ(DiskSizeText(2048ULL << 40), "2048 TB");  // TB is the largest unit
  EXPECT_EQ(DiskSizeText(~0ULL), "16777215.99 TB");
}

}  // namespace
}  // namespace quillon
