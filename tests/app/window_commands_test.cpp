// The window's own commands through TMain with the scripted view: the source menu, the
// open and save dialogs, and a close request during a scan.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/main_form.h"
#include "core/errors.h"
#include "core/fragment_file_reader.h"
#include "support/memory_file_system.h"
#include "support/fake_device_queries.h"
#include "support/scripted_view.h"

namespace quillon {
namespace {

using testing::TMemoryFileSystem;
using testing::TScriptedView;
using TEntry = TScriptedView::TMenuEntry;

constexpr const char* kDone = "完成！";
constexpr std::int64_t kSampleSize = 1052672;  // five chunks, the last one 4096 bytes

std::vector<std::uint8_t> SampleImage() {
  std::ifstream in(QUILLON_SAMPLES_DIR "/sample-jet4.mdb", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class WindowCommandsTest : public ::testing::Test {
 protected:
  // Chooses the sample image as the source and /out.frag as the output.
  void ChooseSampleAndOutput() {
    fs_.Put("/sample.mdb", SampleImage());
    main_.Source.SetText("/sample.mdb");
    main_.Destination.SetText("/out.frag");
    ASSERT_EQ(main_.SourceSize, kSampleSize);
  }

  TFragmentFileReport ReadOutput() {
    auto stream = fs_.Open("/out.frag", TOpenMode::ReadShared);
    return ReadFragmentFile(*stream);
  }

  TMemoryFileSystem fs_;
  TScriptedView view_;
  testing::TFakeDeviceQueries devices_;
  TMain main_{view_, fs_, devices_};
};

TEST_F(WindowCommandsTest, SourceMenuIsRebuiltAtEveryOpeningAfterPendingMessages) {
  const std::vector<TEntry> expected = {{"Openimage", "打开磁盘镜像", 19}, {"", "-", -1}};
  std::vector<std::size_t> entriesWhileProcessing;
  view_.OnProcessMessages = [&](int) { entriesWhileProcessing.push_back(view_.Menu.size()); };

  main_.RecBtnDropDown();
  EXPECT_EQ(view_.Menu, expected);
  main_.RecBtnDropDown();
  EXPECT_EQ(view_.Menu, expected) << "a second opening must not add to the first";
  // Pending messages are processed once per opening, before the old entries go.
  EXPECT_EQ(entriesWhileProcessing, (std::vector<std::size_t>{0, 2}));
}

TEST_F(WindowCommandsTest, ChoosingAnImageFileSetsSourceAndSizesIt) {
  fs_.Put("/images/card.img", std::vector<std::uint8_t>(5000, 0));
  view_.MenuChoice = "Openimage";
  view_.OpenAnswer = "/images/card.img";

  main_.RecBtnClick();

  EXPECT_EQ(view_.MenuShows, 1);
  EXPECT_TRUE(view_.OpenDialogClearedBeforeShow);
  EXPECT_EQ(main_.Source.Text(), "/images/card.img");
  EXPECT_EQ(main_.SourcePath, "/images/card.img");
  EXPECT_EQ(main_.SourceSize, 5000);
  EXPECT_EQ(view_.Log, (std::vector<std::string>{"扫描存储介质: /images/card.img"}));

  // The same file again takes no new size and logs nothing, even after it has grown.
  fs_.Find("/images/card.img")->Data.resize(9000);
  main_.RecBtnClick();
  EXPECT_EQ(main_.SourceSize, 5000);
  EXPECT_EQ(view_.Log.size(), 1u);
}

TEST_F(WindowCommandsTest, CancellingTheOpenDialogChangesNothing) {
  fs_.Put("/a.img", std::vector<std::uint8_t>(100, 0));
  main_.Source.SetText("/a.img");
  view_.Log.clear();
  view_.MenuChoice = "Openimage";
  view_.OpenAnswer.reset();

  main_.RecBtnClick();

  EXPECT_EQ(view_.OpenDialogShows, 1);
  EXPECT_EQ(main_.Source.Text(), "/a.img");
  EXPECT_EQ(main_.SourcePath, "/a.img");
  EXPECT_EQ(main_.SourceSize, 100);
  EXPECT_TRUE(view_.Log.empty());
}

TEST_F(WindowCommandsTest, ClosingTheMenuOrPickingASeparatorChoosesNothing) {
  for (const std::optional<std::string>& choice : {std::optional<std::string>{},
                                                   std::optional<std::string>{""},
                                                   std::optional<std::string>{"-"}}) {
    view_.MenuChoice = choice;
    main_.RecBtnClick();
  }
  EXPECT_EQ(view_.MenuShows, 3);
  EXPECT_EQ(view_.OpenDialogShows, 0);
  EXPECT_TRUE(view_.Log.empty());
  EXPECT_TRUE(main_.Source.Text().empty());
}

TEST_F(WindowCommandsTest, DriveAndVolumeEntriesAreToldApartByName) {
  // Neither device exists here, so sizing fails after the choice has been taken and logged.
  EXPECT_THROW(main_.SourceItemClick("physicaldrive1"), EQuillonError);
  EXPECT_EQ(main_.Source.Text(), "physicaldrive1");
  EXPECT_EQ(main_.SourcePath, "\\\\.\\physicaldrive1");

  EXPECT_THROW(main_.SourceItemClick("Cxx"), EQuillonError);
  EXPECT_EQ(main_.Source.Text(), "C:");
  EXPECT_EQ(main_.SourcePath, "\\\\.\\C:");

  // Only the name counts: a volume whose letter is "p" is not a drive.
  EXPECT_THROW(main_.SourceItemClick("pxx"), EQuillonError);
  EXPECT_EQ(main_.Source.Text(), "p:");

  EXPECT_EQ(view_.Log, (std::vector<std::string>{"扫描存储介质: physicaldrive1",
                                                 "扫描存储介质: C:", "扫描存储介质: p:"}));
  EXPECT_EQ(view_.OpenDialogClears, 3);
  EXPECT_EQ(view_.OpenDialogShows, 0);
}

TEST_F(WindowCommandsTest, SaveCommandLogsThePathAlsoAfterACancel) {
  main_.SaveBtnClick();  // cancelled before any output was chosen
  view_.SaveAnswer = "/out/one.frag";
  main_.SaveBtnClick();
  view_.SaveAnswer.reset();
  main_.SaveBtnClick();  // cancelled: the last choice stays

  EXPECT_EQ(main_.Destination.Text(), "/out/one.frag");
  EXPECT_EQ(view_.Log, (std::vector<std::string>{"数据库碎片保存路径为: ",
                                                 "数据库碎片保存路径为: /out/one.frag",
                                                 "数据库碎片保存路径为: /out/one.frag"}));
  // The dialog opens with the name last chosen in it.
  EXPECT_EQ(view_.SaveDialogPresets,
            (std::vector<std::string>{"", "", "/out/one.frag"}));
}

TEST_F(WindowCommandsTest, ClosingWhileIdleClosesAtOnce) {
  EXPECT_FALSE(main_.Scanning());
  EXPECT_TRUE(main_.FormCloseQuery());
  EXPECT_TRUE(main_.CloseRequested());
}

TEST_F(WindowCommandsTest, CloseDuringAScanWaitsForTheWholeScanAndItsTrailer) {
  ChooseSampleAndOutput();
  std::vector<bool> answers;
  std::vector<bool> scanning;
  view_.OnProcessMessages = [&](int call) {
    scanning.push_back(main_.Scanning());
    if (call == 2 || call == 3) answers.push_back(main_.FormCloseQuery());
  };

  main_.button2Click();

  EXPECT_EQ(answers, (std::vector<bool>{false, false})) << "the window must stay open";
  EXPECT_EQ(scanning, std::vector<bool>(5, true));
  EXPECT_FALSE(main_.Scanning());
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Completed);
  EXPECT_EQ(main_.LastScan().BytesScanned, kSampleSize);
  // The completion box was not waited for; the size box before the loop was.
  EXPECT_EQ(view_.SelfClosingMessages, (std::vector<std::string>{kDone}));
  EXPECT_EQ(view_.Messages, (std::vector<std::string>{std::to_string(kSampleSize), kDone}));
  const TFragmentFileReport report = ReadOutput();
  EXPECT_EQ(report.State, TFragmentFileState::Complete) << report.Problem;
  EXPECT_TRUE(report.TrailerValid);
  EXPECT_GT(report.Fragments, 0u);
  // Now the front end may close.
  EXPECT_TRUE(main_.CloseRequested());
  EXPECT_TRUE(main_.FormCloseQuery());
}

TEST_F(WindowCommandsTest, CloseThenStopEndsTheScanEarlyWithACompleteFile) {
  ChooseSampleAndOutput();
  view_.OnProcessMessages = [&](int call) {
    if (call == 1) {
      EXPECT_FALSE(main_.FormCloseQuery());
    }
    if (call == 2) main_.Button1Click();
  };

  main_.button2Click();

  EXPECT_EQ(main_.LastScan().End, TScanEnd::Stopped);
  EXPECT_EQ(main_.LastScan().BytesScanned, 262144);
  EXPECT_EQ(view_.SelfClosingMessages, (std::vector<std::string>{kDone}));
  EXPECT_EQ(ReadOutput().State, TFragmentFileState::Complete);
}

TEST_F(WindowCommandsTest, AFailedScanAfterACloseRequestStillEndsTheScanState) {
  ChooseSampleAndOutput();
  view_.OnProcessMessages = [&](int call) {
    if (call == 1) {
      main_.FormCloseQuery();
      fs_.Find("/out.frag.partial")->WriteLimit = 0;  // the output medium is full from now on
    }
  };

  EXPECT_THROW(main_.button2Click(), EQuillonError);

  EXPECT_FALSE(main_.Scanning());
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Failed);
  EXPECT_EQ(view_.SelfClosingMessages, (std::vector<std::string>{kDone}));
  EXPECT_TRUE(main_.FormCloseQuery());
}

TEST_F(WindowCommandsTest, TheMenuStillOpensDuringAScanAfterACloseRequest) {
  ChooseSampleAndOutput();
  fs_.Put("/other.img", std::vector<std::uint8_t>(2 * 262144, 0));
  view_.MenuChoice = "Openimage";
  view_.OpenAnswer = "/other.img";
  view_.OnProcessMessages = [&](int call) {
    if (call == 1) {
      EXPECT_FALSE(main_.FormCloseQuery());
    }
    if (call == 2) main_.RecBtnClick();  // the window stays usable until the scan ends
  };

  main_.button2Click();

  EXPECT_EQ(view_.MenuShows, 1);
  EXPECT_EQ(main_.Source.Text(), "/other.img");
  // The new size moved the end of the running scan, as a choice during a scan does.
  EXPECT_EQ(main_.LastScan().BytesScanned, 2 * 262144);
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Completed);
}

TEST_F(WindowCommandsTest, NoMenuOpensWhenTheWindowClosedWhileItWasBuilt) {
  view_.MenuChoice = "Openimage";
  view_.OnProcessMessages = [&](int) { main_.FormCloseQuery(); };

  main_.RecBtnClick();

  EXPECT_EQ(view_.MenuShows, 0);
  EXPECT_EQ(view_.OpenDialogShows, 0);
}

}  // namespace
}  // namespace quillon
