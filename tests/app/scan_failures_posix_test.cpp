// Scans that fail on real files: a full output device, a missing source, an output that
// cannot be created, and an output that is the source itself.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/error_display.h"
#include "app/main_form.h"
#include "app/recover_output.h"
#include "app/run_lock.h"
#include "core/errors.h"
#include "app/texts.h"
#include "storage/file_system.h"
#include "storage/run_lock.h"
#include "support/fake_device_queries.h"
#include "support/scripted_view.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using testing::TScriptedView;

class ScanFailuresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("quillon-scan-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    image_ = (dir_ / "disk.img").string();
    std::string page(4096, '\x80');
    const char head[] = {1, 1, 0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x00, 0x0F};
    page.replace(0, sizeof head, head, sizeof head);
    std::ofstream out(image_, std::ios::binary);
    for (int i = 0; i < 64; ++i) out << page;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Run(const std::string& output) {
    main_.Source.SetText(image_);
    main_.Destination.SetText(output);
    try {
      main_.button2Click();
    } catch (const EQuillonError& error) {
      return error.what();
    }
    return "";
  }

  fs::path dir_;
  std::string image_;
  std::unique_ptr<IFileSystem> files_ = MakePlatformFileSystem();
  TScriptedView view_;
  testing::TFakeDeviceQueries devices_;
  TMain main_{view_, *files_, devices_};
};

// A device is never an output: refused before anything is opened, with nothing shown
// as if a scan had run.
TEST_F(ScanFailuresTest, ADeviceAsTheOutputIsRefused) {
  for (const char* device : {"/dev/full", "/dev/null"}) {
    if (!fs::exists(device)) continue;
    view_.Messages.clear();
    const std::string refusal = std::string("Refused: the output file \"") + device + "\" is a device";
    EXPECT_EQ(Run(device).rfind(refusal, 0), 0u);
    EXPECT_TRUE(view_.Messages.empty());
    EXPECT_EQ(main_.LastScan().End, TScanEnd::Refused);
  }
}

TEST_F(ScanFailuresTest, OutputThatCannotBeCreated) {
  const auto output = (dir_ / "missing-dir" / "out.frag").string();
  EXPECT_EQ(Run(output).rfind("Cannot create file \"" + output + ".partial\". ", 0), 0u);
  EXPECT_EQ(view_.StartEnabledHistory.back(), true);
}

TEST_F(ScanFailuresTest, OutputThatIsTheSourceLeavesTheSourceIntact) {
  const auto sizeBefore = fs::file_size(image_);
  const auto link = (dir_ / "alias.img").string();
  fs::create_symlink(image_, link);
  EXPECT_NE(Run(link).find("is the source of this scan"), std::string::npos);
  EXPECT_NE(Run(image_).find("is the source of this scan"), std::string::npos);
  EXPECT_EQ(fs::file_size(image_), sizeBefore);
}

TEST_F(ScanFailuresTest, MissingSourceLeavesAnExistingOutputUntouched) {
  const auto output = (dir_ / "out.frag").string();
  std::ofstream(output) << "keep me";
  main_.Source.SetText(image_);
  fs::remove(image_);
  main_.Destination.SetText(output);
  EXPECT_THROW(main_.button2Click(), EQuillonError);
  EXPECT_EQ(fs::file_size(output), 7u);
}

// An output named through a link, also one whose target does not exist yet, is written
// where the link points; the link stays a link.
TEST_F(ScanFailuresTest, AnOutputThroughALinkIsWrittenAtItsTarget) {
  const auto target = dir_ / "kept" / "out.frag";
  fs::create_directories(target.parent_path());
  const auto link = dir_ / "link.frag";
  fs::create_symlink(target, link);
  EXPECT_EQ(Run(link.string()), "");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::file_size(target) % 4, 0u);
  EXPECT_EQ(main_.LastScan().OutputPath, target.string());
}

TEST_F(ScanFailuresTest, RealScanFindsEveryPage) {
  EXPECT_EQ(Run((dir_ / "out.frag").string()), "");
  EXPECT_EQ(main_.LastScan().Fragments, 64);
  EXPECT_EQ(view_.Status, "碎片：64");
}

// Another run holding the output's lock (another process, or the command line's early
// lock in another window): the scan is refused in the session's language before anything
// is created, and one that follows the other's end goes ahead.
TEST_F(ScanFailuresTest, AScanOntoAFileAnotherRunWritesIsRefused) {
  const auto output = (dir_ / "out.frag").string();
  const std::unique_ptr<IFileSystem> other = MakePlatformFileSystem();
  std::unique_ptr<TRunLock> held = other->TryLock(ScanLockPathFor(output));
  ASSERT_NE(held, nullptr);
  const std::string refusal = Run(output);
  EXPECT_EQ(refusal, Fill(texts::kOutputInUse, TLanguage::Chinese,
                          {{"PATH", output}, {"LOCK", output + ".lock"}}));
  EXPECT_EQ(ErrorDisplayText(refusal), refusal);  // a Chinese sentence gets no "." after it
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Refused);
  EXPECT_FALSE(fs::exists(output + ".partial"));
  held.reset();
  EXPECT_EQ(Run(output), "");
  EXPECT_TRUE(fs::exists(output));
  EXPECT_FALSE(fs::exists(output + ".lock"));  // the scan's own lock went with it

  // A lock this session took itself (the command line takes it before it looks at what an
  // earlier run left) is the scan's own, and no refusal.
  const auto second = (dir_ / "second.frag").string();
  main_.LockOutput(second);
  EXPECT_EQ(Run(second), "");
  EXPECT_EQ(other->TryLock(ScanLockPathFor(second)), nullptr);
}

TEST_F(ScanFailuresTest, ARecoveryIntoAFolderAnotherRunWritesIsRefused) {
  const auto out = dir_ / "recovered";
  fs::create_directories(out);
  const std::unique_ptr<IFileSystem> other = MakePlatformFileSystem();
  std::unique_ptr<TRunLock> held = other->TryLock((out / kRecoverLockName).string());
  ASSERT_NE(held, nullptr);
  TRecoverFolderRules rules;
  try {
    TRecoverFolder folder(*files_, out.string(), rules);
    ADD_FAILURE() << "not refused";
  } catch (const EQuillonError& error) {
    EXPECT_EQ(std::string(error.what()),
              Fill(texts::kOutputInUse, TLanguage::English,
                   {{"PATH", out.string()}, {"LOCK", (out / kRecoverLockName).string()}}));
  }
  held.reset();
  // The lock file a killed run left is no earlier recovery's file and no stranger's: the
  // folder counts as empty, and is taken.
  std::ofstream(out / kRecoverLockName) << kRunLockText;
  TRecoverFolder folder(*files_, out.string(), rules);
  EXPECT_EQ(other->TryLock((out / kRecoverLockName).string()), nullptr);
}

}  // namespace
}  // namespace quillon
