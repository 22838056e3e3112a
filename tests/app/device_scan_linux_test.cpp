// A whole scan of a disk and of one of its volumes on Linux, through the real storage
// layer: /sys, /dev and /proc are a made-up tree in which image files stand in for the
// device nodes, so the drive and the volume are chosen from the menu as on a real machine.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/main_form.h"
#include "core/fragment_file_reader.h"
#include "storage/linux_device_queries.h"
#include "storage/posix_file_system.h"
#include "support/scripted_view.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using testing::TScriptedView;

constexpr std::size_t kMiB = 1 << 20;
constexpr std::size_t kDatabaseAt = kMiB + 512;  // inside the partition, off a page boundary

std::vector<char> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

class DeviceScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-device-scan-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    roots_ = TLinuxRoots{root_ / "sys", root_ / "dev", root_ / "proc", root_ / "run"};
    database_ = ReadAll(QUILLON_SAMPLES_DIR "/sample-jet4-small.mdb");
    ASSERT_EQ(database_.size() % 4096, 0u);

    // A 4 MiB disk sda with one partition sda1 from 1 MiB to 3 MiB holding the database.
    std::string disk(4 * kMiB, '\0');
    std::memcpy(disk.data() + kDatabaseAt, database_.data(), database_.size());
    const fs::path sda = roots_.Sys / "block" / "sda";
    Write(sda / "size", std::to_string(4 * kMiB / 512));
    Write(sda / "removable", "0");
    Write(sda / "dev", "8:0");
    Write(sda / "sda1" / "partition", "1");
    Write(sda / "sda1" / "start", std::to_string(kMiB / 512));
    Write(sda / "sda1" / "size", std::to_string(2 * kMiB / 512));
    Write(sda / "sda1" / "dev", "8:1");
    Write(roots_.Dev / "sda", disk);
    Write(roots_.Dev / "sda1", disk.substr(kMiB, 2 * kMiB));
    fs::create_directories(roots_.Proc / "self");
    Write(roots_.Proc / "self" / "mountinfo", "");
  }
  void TearDown() override { fs::remove_all(root_); }

  // Scans the source chosen by entry name into a file and checks every fragment against
  // the database's pages.
  void ScanAndCheck(const std::string& entry, std::int64_t size) {
    TLinuxDeviceQueries devices(roots_);
    TPosixFileSystem files([&](const std::string& path) { return devices.DeviceNode(path); });
    TScriptedView view;
    TMain main(view, files, devices);

    main.RecBtnDropDown();
    const bool offered = std::any_of(view.Menu.begin(), view.Menu.end(),
                                     [&](const auto& e) { return e.Name == entry; });
    ASSERT_TRUE(offered) << entry;
    main.SourceItemClick(entry);
    EXPECT_EQ(main.SourceSize, size);
    const std::string output = (root_ / "out.frag").string();
    main.Destination.SetText(output);
    main.button2Click();
    ASSERT_EQ(main.LastScan().End, TScanEnd::Completed);

    auto stream = files.Open(output, TOpenMode::ReadShared);
    std::vector<std::vector<char>> fragments;
    const TFragmentFileReport report = ReadFragmentFile(*stream, [&](auto, auto fragment) {
      fragments.emplace_back(fragment.begin(), fragment.end());
    });
    ASSERT_EQ(report.State, TFragmentFileState::Complete) << report.Problem;
    EXPECT_EQ(report.SourcePath, main.SourcePath);  // the device path, not the node
    EXPECT_EQ(report.SourceLength, size);
    // Every fragment is one of the database's pages, in page order.
    ASSERT_FALSE(fragments.empty());
    std::size_t page = 0;
    for (const auto& fragment : fragments) {
      while (page * 4096 < database_.size() &&
             std::memcmp(fragment.data(), database_.data() + page * 4096, 4096) != 0) {
        ++page;
      }
      ASSERT_LT(page * 4096, database_.size()) << "a fragment that is no page of the database";
      ++page;
    }
    EXPECT_EQ(fragments.size(), 71u);  // the candidate pages the database's manifest lists
  }

  fs::path root_;
  TLinuxRoots roots_;
  std::vector<char> database_;
};

TEST_F(DeviceScanTest, PhysicalDriveFromTheMenu) {
  ScanAndCheck("physicaldrive0", 4 * kMiB);
}

TEST_F(DeviceScanTest, UnmountedVolumeIsSizedByItsExtentAndScanned) {
  ScanAndCheck("Cxx", 2 * kMiB);
}

}  // namespace
}  // namespace quillon
