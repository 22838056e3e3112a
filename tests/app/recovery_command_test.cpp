// The window's recover command through TMain with the scripted view, on real folders: the
// sample image read once and decoded into the chosen folder, with the scan's gauge, stop,
// pump, locks and close handling, and the report handed to the shell.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/main_form.h"
#include "core/errors.h"
#include "storage/file_system.h"
#include "support/fake_device_queries.h"
#include "support/scripted_view.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using testing::TScriptedView;

constexpr const char* kSample = QUILLON_SAMPLES_DIR "/sample-jet4.mdb";

class RecoveryCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("quillon-recover-window-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
    out_ = (dir_ / "out").string();
    main_.Source.SetText(kSample);
    view_.Log.clear();
    view_.FolderAnswer = out_;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A path in OUTDIR as the window shows it: joined with the system's separator.
  std::string InOut(const std::string& name) const {
    const char separator = out_.find('\\') != std::string::npos ? '\\' : '/';
    return out_ + separator + name;
  }

  std::string Manifest() const {
    std::ifstream in(fs::path(out_) / "quillon-recover.manifest");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
  std::string out_;
  std::unique_ptr<IFileSystem> files_ = MakePlatformFileSystem();
  TScriptedView view_;
  testing::TFakeDeviceQueries devices_;
  TMain main_{view_, *files_, devices_};
};

TEST_F(RecoveryCommandTest, TheButtonRecoversTheSampleAndOpensTheReport) {
  // Both start buttons are locked for the whole run, and the window stays open.
  bool lockedThroughout = true;
  int pumps = 0;
  view_.OnProcessMessages = [&](int) {
    ++pumps;
    lockedThroughout = lockedThroughout && main_.Busy() &&
                       !view_.StartEnabledHistory.back() && !view_.RecoverEnabledHistory.back();
  };
  main_.RecoverBtnClick();

  const std::string report = InOut("report.html");
  EXPECT_EQ(view_.Log, (std::vector<std::string>{
                           "======================================================",
                           "开始恢复数据!",
                           std::string("读取存储介质: ") + kSample + "，恢复数据保存到: " + out_,
                           "已读取 1052672 字节，找到 235 个碎片，正在解析数据库...",
                           "恢复完成：1 个数据库，2 张表，978 行数据，保存在: " + out_,
                           "恢复报告: " + report,
                       }));
  EXPECT_EQ(view_.OpenedDocuments, (std::vector<std::string>{report}));
  EXPECT_GT(pumps, 5);
  EXPECT_TRUE(lockedThroughout);
  // No size box and no completion box in the middle: one completion at the end.
  EXPECT_EQ(view_.Messages, (std::vector<std::string>{"完成！"}));
  EXPECT_EQ(view_.Status, "碎片：235");
  // Unlocked once, at the very end.
  for (const std::vector<bool>* history :
       {&view_.StartEnabledHistory, &view_.RecoverEnabledHistory}) {
    ASSERT_GE(history->size(), 2u);
    EXPECT_EQ(std::count(history->begin(), history->end(), true), 1);
    EXPECT_TRUE(history->back());
  }
  EXPECT_EQ(view_.LastGauge.Max(), 1000);
  EXPECT_EQ(view_.LastGauge.Position(), 0);
  EXPECT_FALSE(main_.Busy());
  EXPECT_FALSE(main_.LastRecovery().Stopped);
  EXPECT_EQ(main_.LastRecovery().Rows, 978);

  // Everything written is in the folder and listed for a later --force, as from the CLI.
  for (const char* name : {"fragments.frag", "fragments.pagemap", "database-1.sqlite",
                           "database-1/Authors.csv", "report.html"}) {
    EXPECT_TRUE(fs::is_regular_file(fs::path(out_) / name)) << name;
    EXPECT_NE(Manifest().find(std::string("\n") + name + "\n"), std::string::npos) << name;
  }
  EXPECT_FALSE(fs::exists(out_ + "/fragments.frag.partial"));

  // A second recovery into the same, now full, folder is refused and changes nothing.
  const auto written = fs::last_write_time(report);
  const std::size_t locks = view_.RecoverEnabledHistory.size();
  view_.Log.clear();
  try {
    main_.RecoverBtnClick();
    ADD_FAILURE() << "a folder with an earlier recovery must be refused";
  } catch (const EQuillonError& error) {
    EXPECT_NE(std::string(error.what()).find(out_), std::string::npos) << error.what();
    // The window has no --force to offer.
    EXPECT_EQ(std::string(error.what()).find("--force"), std::string::npos) << error.what();
  }
  EXPECT_FALSE(fs::exists(out_ + "/.quillon-recover.partial"));
  EXPECT_EQ(fs::last_write_time(report), written);
  EXPECT_EQ(view_.OpenedDocuments.size(), 1u);
  EXPECT_EQ(view_.RecoverEnabledHistory.size(), locks);
}

TEST_F(RecoveryCommandTest, TablesTheCatalogListsWithNoPageFoundAreNamedNotCounted) {
  // The sample with every page of Authors (its definition at page 24 and the data pages
  // that name it) zeroed: the catalog still lists it.
  std::ifstream in(kSample, std::ios::binary);
  std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  constexpr std::size_t kPage = 4096;
  for (std::size_t at = 0; at + kPage <= bytes.size(); at += kPage) {
    const auto owner = static_cast<std::uint8_t>(bytes[at + 4]) |
                       static_cast<std::uint8_t>(bytes[at + 5]) << 8;
    if (at / kPage == 24 || (bytes[at] == 1 && bytes[at + 1] == 1 && owner == 24 &&
                             bytes[at + 6] == 0 && bytes[at + 7] == 0))
      std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                bytes.begin() + static_cast<std::ptrdiff_t>(at + kPage), 0);
  }
  const std::string image = (dir_ / "zeroed.img").string();
  std::ofstream(image, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  main_.Source.SetText(image);
  main_.RecoverBtnClick();
  const auto done = std::find(view_.Log.begin(), view_.Log.end(),
                              "恢复完成：1 个数据库，1 张表，211 行数据，保存在: " + out_);
  ASSERT_NE(done, view_.Log.end()) << ::testing::PrintToString(view_.Log);
  ASSERT_NE(done + 1, view_.Log.end());
  EXPECT_EQ(*(done + 1), "未找到的表（目录中有，但没有找到它的任何页）: Authors");
}

TEST_F(RecoveryCommandTest, AStopWhileReadingDecodesWhatWasReadAndASecondStopEndsTheDecoding) {
  // The first stop lands in the reading; the second at the decoding's first pump.
  view_.OnProcessMessages = [&](int call) {
    if (call == 1 || view_.LastGauge.Max() == 1000) main_.Button1Click();
  };
  main_.RecoverBtnClick();

  EXPECT_TRUE(main_.LastRecovery().Stopped);
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Stopped);
  EXPECT_LT(main_.LastScan().BytesScanned, 1052672);
  ASSERT_GE(view_.Log.size(), 4u);
  EXPECT_NE(std::find(view_.Log.begin(), view_.Log.end(), "读取已停止，只解析已读取的部分。"),
            view_.Log.end());
  EXPECT_EQ(view_.Log[view_.Log.size() - 2].rfind("恢复已停止，目前找到的数据：", 0), 0u)
      << view_.Log[view_.Log.size() - 2];
  // The folder holds complete files for what was found, and the report still opens.
  EXPECT_TRUE(fs::is_regular_file(out_ + "/fragments.frag"));
  EXPECT_EQ(view_.OpenedDocuments, (std::vector<std::string>{InOut("report.html")}));
  EXPECT_FALSE(main_.Busy());
}

TEST_F(RecoveryCommandTest, ACloseRequestLetsTheRecoveryFinishAndOpensNothing) {
  view_.OnProcessMessages = [&](int call) {
    if (call == 2) {
      EXPECT_FALSE(main_.FormCloseQuery());
    }
  };
  main_.RecoverBtnClick();
  EXPECT_TRUE(main_.CloseRequested());
  EXPECT_EQ(main_.LastRecovery().Rows, 978) << "the run goes on to its end";
  EXPECT_EQ(view_.SelfClosingMessages, (std::vector<std::string>{"完成！"}));
  EXPECT_TRUE(view_.OpenedDocuments.empty());
  EXPECT_TRUE(main_.FormCloseQuery());
}

TEST_F(RecoveryCommandTest, NothingIsMadeWithoutASourceOrAFolderOrInsideTheSource) {
  view_.FolderAnswer.reset();
  main_.RecoverBtnClick();
  EXPECT_EQ(view_.FolderDialogShows, 1);

  // An image inside the chosen folder could be overwritten by what recovery writes.
  const std::string image = (dir_ / "disk.img").string();
  fs::copy_file(kSample, image);
  main_.Source.SetText(image);
  view_.FolderAnswer = dir_.string();
  EXPECT_THROW(main_.RecoverBtnClick(), EQuillonError);

  TScriptedView emptyView;
  TMain fresh(emptyView, *files_, devices_);
  fresh.RecoverBtnClick();
  EXPECT_EQ(emptyView.Messages, (std::vector<std::string>{"请先选择要恢复的磁盘或镜像文件！"}));
  EXPECT_EQ(emptyView.FolderDialogShows, 0);

  EXPECT_FALSE(fs::exists(out_));
  EXPECT_FALSE(fs::exists(dir_ / "quillon-recover.manifest"));
  EXPECT_TRUE(view_.RecoverEnabledHistory.empty());
  EXPECT_TRUE(view_.OpenedDocuments.empty());
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// The same recovery in English: every log line and the completion box.
TEST(RecoveryCommandEnglishTest, TheRecoverySpeaksEnglish) {
  const fs::path dir = fs::temp_directory_path() /
                       ("quillon-recover-english-" +
                        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(dir);
  const std::string out = (dir / "out").string();
  const std::unique_ptr<IFileSystem> files = MakePlatformFileSystem();
  TScriptedView view;
  testing::TFakeDeviceQueries devices;
  TMain main(view, *files, devices, TLanguage::English);

  main.RecoverBtnClick();
  EXPECT_EQ(view.Messages,
            std::vector<std::string>{"Please choose the disk or image file to recover first!"});

  main.Source.SetText(kSample);
  view.Log.clear();
  view.Messages.clear();
  view.FolderAnswer = out;
  main.RecoverBtnClick();
  const char separator = out.find('\\') != std::string::npos ? '\\' : '/';
  EXPECT_EQ(view.Log, (std::vector<std::string>{
                          "======================================================",
                          "Recovery started!",
                          std::string("Reading ") + kSample + "; the recovered data goes to: " + out,
                          "Read 1052672 bytes, fragments found: 235; decoding the databases...",
                          "Recovery finished (databases: 1, tables: 2, rows: 978), saved in: " + out,
                          "Recovery report: " + out + separator + "report.html",
                      }));
  EXPECT_EQ(view.Messages, std::vector<std::string>{"Done!"});
  EXPECT_EQ(view.Status, "Fragments: 235");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quillon
