// Choosing a volume or a physical drive: the menu that offers them, the path forms and the
// sizes they get, the fallbacks for devices whose size queries fail, and the question
// before a scan that would write onto the device it scans.

#include <gtest/gtest.h>

#include "app/main_form.h"
#include "core/chunk_loop.h"
#include "core/errors.h"
#include "support/fake_device_queries.h"
#include "support/memory_file_system.h"
#include "support/scripted_view.h"

namespace quillon {
namespace {

using testing::TFakeDeviceQueries;
using testing::TFakeDrive;
using testing::TFakeVolume;
using testing::TMemoryFileSystem;
using testing::TScriptedView;
using TEntry = TScriptedView::TMenuEntry;

constexpr std::int64_t kGiB = std::int64_t{1} << 30;

TFakeVolume Volume(const std::string& label, std::int64_t total, std::uint32_t disk) {
  TFakeVolume volume;
  volume.Information = TVolumeInformation{label, 0x0012ABCD, "NTFS"};
  volume.Space = TDiskFreeSpace{total / 4, total};
  volume.Extent = TDiskExtent{disk, 1048576, total + 4096};
  return volume;
}

TFakeDrive Drive(std::int64_t cylinders) {
  TFakeDrive drive;
  drive.Geometry = TDiskGeometry{cylinders, 255, 63, 512};
  drive.GeometryEx = TDiskGeometryEx{kFixedMedia, cylinders * 255 * 63 * 512 + 12345};
  return drive;
}

class SourceSelectionTest : public ::testing::Test {
 protected:
  TMemoryFileSystem fs_;
  TScriptedView view_;
  TFakeDeviceQueries devices_;
  TMain main_{view_, fs_, devices_};
};

TEST_F(SourceSelectionTest, MenuForMachinesWithAndWithoutVolumesAndDrives) {
  const TEntry openImage{"Openimage", "打开磁盘镜像", 19};
  const TEntry separator{"", "-", -1};
  main_.RecBtnDropDown();
  EXPECT_EQ(view_.Menu, (std::vector<TEntry>{openImage, separator}));

  devices_.Volumes['C'] = Volume("System", 100 * kGiB, 0);
  devices_.Volumes['E'] = Volume("Card", 2 * kGiB, 1);
  devices_.Volumes['E'].DriveType = DriveRemovable;
  main_.RecBtnDropDown();
  EXPECT_EQ(view_.Menu,
            (std::vector<TEntry>{openImage, separator,
                                 {"Cxx", "System (C:), HD0, NTFS, [25.00 GB/100.00 GB]", 18},
                                 {"Exx", "Card (E:), RD1, NTFS, [0.50 GB/2.00 GB]", 18},
                                 separator}));

  // Drives 0 and 1 open; 2 does not, so 3 is never tried.
  devices_.Drives[0] = Drive(60801);
  devices_.Drives[1] = Drive(243);
  devices_.Drives[3] = Drive(1);
  main_.RecBtnDropDown();
  ASSERT_EQ(view_.Menu.size(), 7u);
  EXPECT_EQ(view_.Menu[5], (TEntry{"physicaldrive0", "HD0, Fixed Drive, [465.75 GB]", 17}));
  EXPECT_EQ(view_.Menu[6].Name, "physicaldrive1");
  EXPECT_EQ(devices_.Opened.back(), "\\\\.\\physicaldrive2");
}

TEST_F(SourceSelectionTest, ChoosingAVolumeOrADriveSetsTextPathAndSize) {
  devices_.Volumes['C'] = Volume("System", 100 * kGiB, 0);
  devices_.Drives[1] = Drive(243);

  main_.SourceItemClick("Cxx");
  EXPECT_EQ(main_.Source.Text(), "C:");
  EXPECT_EQ(main_.SourcePath, "\\\\.\\C:");
  EXPECT_EQ(main_.SourceSize, 100 * kGiB);

  main_.SourceItemClick("physicaldrive1");
  EXPECT_EQ(main_.Source.Text(), "physicaldrive1");
  EXPECT_EQ(main_.SourcePath, "\\\\.\\physicaldrive1");
  EXPECT_EQ(main_.SourceSize, std::int64_t{243} * 255 * 63 * 512);  // whole cylinders

  // The log shows what was chosen, never the device path.
  EXPECT_EQ(view_.Log, (std::vector<std::string>{"扫描存储介质: C:",
                                                 "扫描存储介质: physicaldrive1"}));
  // Typed forms of a volume are brought into the device form too.
  main_.Source.SetText("C:\\");
  EXPECT_EQ(main_.SourcePath, "\\\\.\\C:");
  EXPECT_EQ(main_.SourceSize, 100 * kGiB);
}

TEST_F(SourceSelectionTest, TheSameEntryAgainRunsNothingAlsoAfterAFailedOpen) {
  devices_.Volumes['C'] = Volume("System", 100 * kGiB, 0);
  devices_.Volumes['D'] = Volume("Locked", 5 * kGiB, 0);
  devices_.Volumes['D'].Opens = false;

  main_.SourceItemClick("Cxx");
  EXPECT_THROW(main_.SourceItemClick("Dxx"), EQuillonError);
  EXPECT_EQ(main_.SourcePath, "\\\\.\\D:");
  EXPECT_EQ(main_.SourceSize, 100 * kGiB);  // the size of the source chosen before

  const std::size_t logLines = view_.Log.size();
  EXPECT_NO_THROW(main_.SourceItemClick("Dxx"));
  EXPECT_EQ(view_.Log.size(), logLines);

  // Another entry and then this one again sizes it anew.
  main_.SourceItemClick("Cxx");
  EXPECT_THROW(main_.SourceItemClick("Dxx"), EQuillonError);
}

TEST_F(SourceSelectionTest, DevicesWhoseSizeQueriesFailAreSizedByExtentOrLength) {
  // No recognised file system: no free-space answer, so no total bytes.
  TFakeVolume damaged = Volume("", 0, 0);
  damaged.Information.reset();
  damaged.Space.reset();
  damaged.Extent = TDiskExtent{0, 1048576, 7 * kGiB};
  devices_.Volumes['F'] = damaged;
  main_.SourceItemClick("Fxx");
  EXPECT_EQ(main_.SourceSize, 7 * kGiB);

  damaged.Extent.reset();
  damaged.Length = 3 * kGiB;
  devices_.Volumes['G'] = damaged;
  main_.SourceItemClick("Gxx");
  EXPECT_EQ(main_.SourceSize, 3 * kGiB);

  // A drive whose geometry request fails is sized by its length.
  TFakeDrive drive;
  drive.Length = 5 * kGiB;
  devices_.Drives[0] = drive;
  main_.SourceItemClick("physicaldrive0");
  EXPECT_EQ(main_.SourceSize, 5 * kGiB);

  // A device that sizes to nothing is an error, never a scan of 0 bytes.
  damaged.Length.reset();
  devices_.Volumes['H'] = damaged;
  try {
    main_.SourceItemClick("Hxx");
    FAIL() << "a device of 0 bytes was accepted";
  } catch (const EQuillonError& error) {
    EXPECT_NE(std::string(error.what()).find("\"H:\""), std::string::npos) << error.what();
  }
  EXPECT_EQ(main_.SourceSize, 5 * kGiB);
}

TEST_F(SourceSelectionTest, ASourceChosenDuringAScanEndsItAtTheNewSize) {
  std::vector<std::uint8_t> image(4 * kChunkSize, 0);
  const std::uint8_t head[] = {1, 1, 0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x00, 0x0F};
  for (std::int64_t chunk = 0; chunk < 4; ++chunk) {
    std::copy(std::begin(head), std::end(head), image.begin() + chunk * kChunkSize);
  }
  fs_.Put("/img", image);
  main_.Source.SetText("/img");
  main_.Destination.SetText("/out.frag");
  TFakeVolume small = Volume("Small", kChunkSize + 1000, 0);
  small.Space = TDiskFreeSpace{0, kChunkSize + 1000};
  devices_.Volumes['C'] = small;
  view_.OnProcessMessages = [&](int call) {
    if (call == 1) main_.SourceItemClick("Cxx");
  };
  main_.button2Click();
  EXPECT_EQ(main_.SourceSize, kChunkSize + 1000);
  EXPECT_EQ(main_.LastScan().BytesScanned, kChunkSize + 1000);
  EXPECT_EQ(main_.LastScan().Fragments, 2);  // the pages of chunks 3 and 4 lie past the end
  EXPECT_EQ(view_.Log[3], "扫描存储介质: C:");  // logged at once, inside the scan
}

TEST_F(SourceSelectionTest, AnOutputOnTheScannedDeviceIsAskedAbout) {
  devices_.Volumes['C'] = Volume("System", 1 << 20, 0);
  devices_.Volumes['C'].Length = 1 << 20;
  fs_.Put("\\\\.\\C:", std::vector<std::uint8_t>(1 << 20));  // the volume's bytes
  devices_.FileDevices["C:\\"] = "\\\\.\\C:";
  main_.SourceItemClick("Cxx");
  main_.Destination.SetText("C:\\recovered.frag");

  view_.QuestionAnswer = false;
  main_.button2Click();
  ASSERT_EQ(view_.Questions.size(), 1u);
  EXPECT_NE(view_.Questions[0].find("C:\\recovered.frag"), std::string::npos);
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Declined);
  EXPECT_EQ(fs_.Find("C:\\recovered.frag"), nullptr);
  EXPECT_TRUE(view_.StartEnabledHistory.empty());

  view_.QuestionAnswer = true;
  main_.button2Click();
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Completed);
  EXPECT_NE(fs_.Find("C:\\recovered.frag"), nullptr);

  // An output elsewhere, or an image file as the source, asks nothing.
  main_.Destination.SetText("D:\\recovered.frag");
  main_.button2Click();
  fs_.Put("C:\\disk.img", std::vector<std::uint8_t>(1000));
  main_.Source.SetText("C:\\disk.img");
  main_.Destination.SetText("C:\\recovered.frag");
  main_.button2Click();
  EXPECT_EQ(view_.Questions.size(), 2u);
}

}  // namespace
}  // namespace quillon
