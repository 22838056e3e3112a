// The Linux stand-in on made-up /sys, /dev, /proc and /run trees, and once on this machine.

#include "storage/linux_device_queries.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <regex>

#include "core/errors.h"
#include "storage/drive_probe.h"
#include "storage/posix_file_system.h"
#include "storage/volume_list.h"

namespace quillon {
namespace {
namespace fs = std::filesystem;

const TPathConstants kConstants{"physicaldrive", "\\\\.\\", ":", ":\\"};

void Write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

// An ext2 superblock with a label and a UUID, as libblkid recognises it.
std::string Ext2Image(const std::string& label, std::size_t bytes = 65536) {
  std::string image(bytes, '\0');
  auto put16 = [&](std::size_t at, unsigned v) { image[at] = char(v & 0xFF); image[at + 1] = char(v >> 8); };
  auto put32 = [&](std::size_t at, unsigned v) { for (int i = 0; i < 4; ++i) image[at + i] = char(v >> (8 * i)); };
  const std::size_t sb = 1024;
  put32(sb + 0, 16);    // inodes
  put32(sb + 4, 64);    // blocks of 1 KiB
  put16(sb + 56, 0xEF53);
  put32(sb + 76, 1);    // dynamic revision
  const unsigned char uuid[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                  0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  std::memcpy(&image[sb + 104], uuid, 16);
  std::memcpy(&image[sb + 120], label.data(), std::min<std::size_t>(label.size(), 16));
  return image;
}

// A FAT16 boot sector with serial number 0x0012ABCD and no label.
std::string FatImage(std::size_t bytes = 1 << 20) {
  std::string image(bytes, '\0');
  const unsigned char head[] = {0xEB, 0x3C, 0x90, 'M', 'S', 'D', 'O', 'S', '5', '.', '0',
                                0x00, 0x02, 4, 1, 0, 2, 0x00, 0x02, 0x00, 0x08, 0xF8, 2, 0,
                                32, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0x29,
                                0xCD, 0xAB, 0x12, 0x00};
  std::memcpy(image.data(), head, sizeof head);
  std::memcpy(&image[43], "NO NAME    FAT16   ", 19);
  image[510] = char(0x55);
  image[511] = char(0xAA);
  return image;
}

class TMadeUpMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-devices-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    roots_ = TLinuxRoots{root_ / "sys", root_ / "dev", root_ / "proc", root_ / "run"};
    fs::create_directories(roots_.Sys / "block");
    fs::create_directories(roots_.Dev);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path Disk(const std::string& name, std::int64_t sectors, bool removable = false,
                const std::string& dev = "8:0") {
    const fs::path dir = roots_.Sys / "block" / name;
    Write(dir / "size", std::to_string(sectors) + "\n");
    Write(dir / "removable", removable ? "1\n" : "0\n");
    Write(dir / "dev", dev + "\n");
    return dir;
  }
  void Partition(const fs::path& disk, const std::string& name, int number, std::int64_t start,
                 std::int64_t sectors, const std::string& dev) {
    Write(disk / name / "partition", std::to_string(number));
    Write(disk / name / "start", std::to_string(start));
    Write(disk / name / "size", std::to_string(sectors));
    Write(disk / name / "dev", dev);
  }
  void Node(const std::string& name, const std::string& bytes) { Write(roots_.Dev / name, bytes); }

  fs::path root_;
  TLinuxRoots roots_;
};

std::vector<std::string> Names(const std::vector<TBlockDevice>& devices) {
  std::vector<std::string> names;
  for (const auto& d : devices) names.push_back(d.Name);
  return names;
}

TEST_F(TMadeUpMachine, PhysicalDrivesInAStableOrderWithoutVirtualOrEmptyDevices) {
  for (const char* name : {"sdb", "loop1", "vda", "ram0", "zram0", "sda", "mmcblk0boot0",
                           "mmcblk0", "nvme0n1", "nvme0c0n1", "sr0", "dm-0", "md0", "loop0"}) {
    Disk(name, 2048);
  }
  Write(roots_.Sys / "block" / "loop0" / "loop" / "backing_file", "/images/card.img\n");
  Write(roots_.Sys / "block" / "nvme0c0n1" / "hidden", "1\n");
  Disk("sdc", 0);  // a card reader without a card
  EXPECT_EQ(Names(ReadBlockLayout(roots_).Disks),
            (std::vector<std::string>{"sda", "sdb", "nvme0n1", "vda", "mmcblk0", "loop0"}));

  EXPECT_TRUE(DiskNameBefore("sdz", "sdaa"));
  EXPECT_TRUE(DiskNameBefore("nvme0n2", "nvme0n10"));
  EXPECT_TRUE(DiskNameBefore("nvme1n1", "nvme10n1"));
  EXPECT_TRUE(DiskNameBefore("loop2", "loop10"));
  EXPECT_FALSE(DiskNameBefore("sda", "sda"));
}

TEST_F(TMadeUpMachine, VolumesGetLettersInDiskAndPartitionOrderUpToZ) {
  const fs::path sda = Disk("sda", 1 << 20, false, "8:0");
  Partition(sda, "sda5", 5, 4096, 2048, "8:5");
  Partition(sda, "sda1", 1, 2048, 2048, "8:1");
  Partition(sda, "sda2", 2, 8192, 2, "8:2");  // an extended partition's container
  Disk("sdb", 4096, true, "8:16");           // no partition table: its own volume
  const fs::path sdc = Disk("sdc", 1 << 20, false, "8:32");
  for (int n = 1; n <= 30; ++n) {
    Partition(sdc, "sdc" + std::to_string(n), n, n * 2048, 2048, "8:" + std::to_string(32 + n));
  }
  const TBlockLayout layout = ReadBlockLayout(roots_);
  ASSERT_EQ(layout.Volumes.size(), 24u);
  EXPECT_EQ(layout.Volumes[0].Name, "sda1");
  EXPECT_EQ(layout.Volumes[1].Name, "sda5");
  EXPECT_EQ(layout.Volumes[2].Name, "sdb");
  EXPECT_EQ(layout.Volumes[3].Name, "sdc1");
  EXPECT_EQ(layout.Volumes[23].Name, "sdc21");
  EXPECT_EQ(layout.Volumes[1].StartBytes, 4096 * 512);
  EXPECT_EQ(layout.Volumes[3].DiskIndex, 2);

  TLinuxDeviceQueries queries(roots_);
  EXPECT_EQ(queries.DriveType("C:\\"), DriveFixed);
  EXPECT_EQ(queries.DriveType("E:\\"), DriveRemovable);
  EXPECT_EQ(queries.VolumeDeviceName("D:\\"), "sda5");
  EXPECT_EQ(queries.DriveType("B:\\"), DriveNoRootDir);
  EXPECT_EQ(queries.DeviceNode("\\\\.\\d:"), (roots_.Dev / "sda5").string());
  EXPECT_EQ(queries.DeviceNode("\\\\.\\PhysicalDrive2"), (roots_.Dev / "sdc").string());
  EXPECT_EQ(queries.DeviceNode("\\\\.\\physicaldrive3"), std::nullopt);
  EXPECT_EQ(queries.DeviceNode("\\\\.\\physicaldrive01"), std::nullopt);
  EXPECT_EQ(queries.DeviceNode("C:"), std::nullopt);
}

TEST_F(TMadeUpMachine, VolumeListAndDriveProbeOverTheDevices) {
  const fs::path sda = Disk("sda", 4096, false, "8:0");
  Partition(sda, "sda1", 1, 2048, 128, "8:1");
  Partition(sda, "sda2", 2, 2176, 2048, "8:2");
  Partition(sda, "sda3", 3, 4224, 2048, "8:3");
  Partition(sda, "sda4", 4, 6272, 2048, "8:4");
  Disk("sdb", 8192, true, "8:16");
  Disk("sdc", 8192, false, "8:32");  // listed in /sys but its node is missing
  Node("sda", std::string(4096 * 512, '\0'));
  Node("sda1", Ext2Image("Daten"));  // mounted, labelled
  Node("sda2", FatImage());          // not mounted
  Node("sda4", std::string(1 << 20, '\0'));  // no file system at all
  Node("sdb", std::string(3 * 1024 * 1024 + 512, '\0'));
  // sda3's node cannot be read; udev knows its label.
  Write(roots_.Run / "udev" / "data" / "b8:3", "S:disk/by-label/x\nE:ID_FS_TYPE=ntfs\n"
                                               "E:ID_FS_LABEL_ENC=My\\x20Files\nE:ID_FS_UUID=0123456789ABCDEF\n");
  const fs::path mountPoint = root_ / "mnt with space";
  fs::create_directories(mountPoint);
  Write(roots_.Proc / "self" / "mountinfo",
        "22 1 0:21 / /proc rw - proc proc rw\n"
        "27 1 8:1 / " + (root_ / "mnt\\040with\\040space").string() + " rw,relatime shared:1 - ext2 /dev/sda1 rw\n");

  TLinuxDeviceQueries queries(roots_);
  const TNTVolumeList list(queries, kConstants);
  ASSERT_EQ(list.Letters, (std::vector<std::string>{"C", "D", "E", "F", "G"}));
  struct statvfs st {};
  ASSERT_EQ(::statvfs(mountPoint.c_str(), &st), 0);
  EXPECT_EQ(list.Items[0].TotalBytes, static_cast<std::int64_t>(st.f_blocks * st.f_frsize));
  EXPECT_EQ(list.Items[0].VolumeLabel, "Daten");
  EXPECT_EQ(list.Items[0].FileSystemName, "ext2");
  EXPECT_EQ(list.Items[0].SerialNumber, "44556677");
  EXPECT_EQ(list.Items[0].Extent.StartingOffset, 2048 * 512);
  EXPECT_EQ(list.Items[0].Extent.ExtentLength, 65536);
  EXPECT_EQ(list.Captions[1], "sda2 (D:), HD0, vfat, [0.00 MB/0.00 MB]");
  EXPECT_EQ(list.Items[1].SerialNumber, "0012ABCD");
  EXPECT_EQ(list.Captions[2], "My Files (E:), HD255, ntfs, [0.00 MB/0.00 MB]");
  EXPECT_EQ(list.Items[2].SerialNumber, "89ABCDEF");
  EXPECT_EQ(list.Captions[3], "sda4 (F:), HD0, , [0.00 MB/0.00 MB]");
  EXPECT_EQ(list.Captions[4], "sdb (G:), RD1, , [0.00 MB/0.00 MB]");
  // The unmounted FAT volume is sized by its extent: the scan must not cover 0 bytes.
  EXPECT_EQ(VolumeBytesToScan(TNTVolumeInfo("D", queries, kConstants)), 1 << 20);

  std::vector<TProbedDrive> drives;
  ProbeDrives(queries, kConstants, [&](const TProbedDrive& d) { drives.push_back(d); });
  ASSERT_EQ(drives.size(), 2u);  // sdc's node is missing: the probe ends there
  EXPECT_EQ(drives[0].Caption, "HD0, Fixed Drive, [2 MB]");
  EXPECT_EQ(drives[1].Caption, "HD1, Removable Drive, [3 MB]");
  EXPECT_EQ(drives[1].Size, 3 * 1024 * 1024 + 512);
}

TEST_F(TMadeUpMachine, FileSystemOpensDevicePathsAsTheirNodesAndNeverCreatesOverThem) {
  const fs::path sda = Disk("sda", 4096, false, "8:0");
  Partition(sda, "sda1", 1, 2048, 2048, "8:1");
  Node("sda", "whole disk");
  Node("sda1", "first volume");
  TLinuxDeviceQueries queries(roots_);
  TPosixFileSystem files([&](const std::string& p) { return queries.DeviceNode(p); });

  auto read = [&](const std::string& path) {
    auto stream = files.Open(path, TOpenMode::ReadShared);
    std::string text(64, '\0');
    text.resize(stream->Read(text.data(), text.size()));
    return text;
  };
  EXPECT_EQ(read("\\\\.\\physicaldrive0"), "whole disk");
  EXPECT_EQ(read("\\\\.\\C:"), "first volume");

  auto failure = [&](const std::string& path, TOpenMode mode) -> std::string {
    try {
      files.Open(path, mode);
    } catch (const EQuillonError& e) {
      return e.what();
    }
    return "opened";
  };
  EXPECT_EQ(failure("\\\\.\\physicaldrive1", TOpenMode::ReadShared),
            "Cannot open file \"\\\\.\\physicaldrive1\". No such drive or volume");
  EXPECT_EQ(failure("\\\\.\\C:", TOpenMode::CreateExclusive),
            "Cannot create file \"\\\\.\\C:\". A drive or volume cannot be the output file");
  EXPECT_EQ(read("\\\\.\\C:"), "first volume");
  fs::remove(roots_.Dev / "sda1");
  EXPECT_EQ(failure("\\\\.\\C:", TOpenMode::ReadShared),
            "Cannot open file \"\\\\.\\C:\". No such file or directory (" +
                (roots_.Dev / "sda1").string() + ")");
}

TEST_F(TMadeUpMachine, TellsWhetherAFileLiesOnADriveOrVolume) {
  // The made-up disks take the device number of the real file system under the temporary
  // folder, so that a real file lies on them.
  struct stat st {};
  ASSERT_EQ(::stat(root_.c_str(), &st), 0);
  const std::string here = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  const fs::path sda = Disk("sda", 4096, false, "8:0");
  Partition(sda, "sda1", 1, 2048, 1024, "8:1");
  Partition(sda, "sda2", 2, 3072, 1024, here);  // the file system of the temporary folder
  Disk("sdb", 4096, false, "8:16");
  fs::create_directories(roots_.Sys / "dev" / "block");
  fs::create_directory_symlink(sda / "sda2", roots_.Sys / "dev" / "block" / here);
  TLinuxDeviceQueries queries(roots_);

  const std::string output = (root_ / "not-yet" / "out.frag").string();
  EXPECT_TRUE(queries.FileLiesOnDevice(output, "\\\\.\\physicaldrive0"));  // its disk
  EXPECT_TRUE(queries.FileLiesOnDevice(output, "\\\\.\\D:"));  // sda2 itself
  EXPECT_FALSE(queries.FileLiesOnDevice(output, "\\\\.\\C:"));  // another volume of the disk
  EXPECT_FALSE(queries.FileLiesOnDevice(output, "\\\\.\\physicaldrive1"));
  EXPECT_FALSE(queries.FileLiesOnDevice(output, "/images/disk.img"));
}

// This machine as it is: whatever it has must agree with sysfs.
TEST(ThisMachineTest, CaptionsParseAndSizesAgreeWithSysfs) {
  TLinuxDeviceQueries queries;
  const TBlockLayout layout = ReadBlockLayout({});
  if (layout.Disks.empty()) GTEST_SKIP() << "no disk in /sys/block";

  std::vector<TProbedDrive> drives;
  ProbeDrives(queries, kConstants, [&](const TProbedDrive& d) { drives.push_back(d); });
  const std::regex driveCaption(R"(HD(\d+), (Fixed Drive|Removable Drive), \[\d+(\.\d\d)? (B|KB|MB|GB|TB)\])");
  for (const TProbedDrive& drive : drives) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(drive.Caption, m, driveCaption)) << drive.Caption;
    EXPECT_EQ(std::stoi(m[1]), drive.Number);
    const TBlockDevice& disk = layout.Disks[static_cast<std::size_t>(drive.Number)];
    EXPECT_EQ(drive.Size, disk.SysfsBytes) << disk.Name;
    EXPECT_EQ(drive.MediaTypeName, disk.Removable ? "Removable Drive" : "Fixed Drive");
  }

  const TNTVolumeList volumes(queries, kConstants);
  const std::regex volumeCaption(R"(.* \(([C-Z]):\), (HD|RD)(\d+), [^,]*, \[\d+\.\d\d (MB|GB)/\d+\.\d\d (MB|GB)\])");
  for (int i = 0; i < volumes.Count(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(volumes.Captions[i], m, volumeCaption)) << volumes.Captions[i];
    EXPECT_EQ(m[1], volumes.Letters[i]);
    const VolumeItem& item = volumes.Items[i];
    const auto volume = FindVolume(layout, item.Letter);
    ASSERT_TRUE(volume.has_value());
    if (item.Extent.DiskNumber != 255) {
      EXPECT_EQ(static_cast<int>(item.Extent.DiskNumber), volume->DiskIndex);
      EXPECT_EQ(item.Extent.ExtentLength, volume->SysfsBytes);
      EXPECT_EQ(item.Extent.StartingOffset, volume->StartBytes);
    }
  }
  if (drives.empty() && volumes.Count() == 0) {
    GTEST_SKIP() << layout.Disks.size() << " disk(s) in /sys/block, none of them may be opened here";
  }
}

}  // namespace
}  // namespace quillon
