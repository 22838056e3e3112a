// The start command through TMain with a scripted view: what the window shows, what the
// file holds, and what commands given between chunks do to a running scan.

#include <gtest/gtest.h>

#include <cstring>

#include "app/main_form.h"
#include "core/chunk_loop.h"
#include "core/errors.h"
#include "core/fragment_file_reader.h"
#include "support/memory_file_system.h"
#include "support/fake_device_queries.h"
#include "support/scripted_view.h"
#include "support/zlib_helpers.h"

namespace quillon {
namespace {

using testing::InflateStream;
using testing::TMemoryFileSystem;
using testing::TScriptedView;

constexpr const char* kRule = "======================================================";
constexpr const char* kClosing = "扫描结束,请联系软件客服将扫描加密文件发送过去进行分析数据恢复情况";

// An image of zero bytes with candidate pages placed by offset.
class TImage {
 public:
  explicit TImage(std::size_t size) : bytes(size, 0) {}

  // A one-row data page at offset, its bytes marked so fragments can be told apart.
  void PutPage(std::size_t offset) {
    for (std::size_t i = 0; i < kFragmentSize && offset + i < bytes.size(); ++i) {
      bytes[offset + i] = static_cast<std::uint8_t>(0x80 | ((offset / 512 + i) % 0x7F));
    }
    const std::uint8_t head[] = {1, 1, 0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x00, 0x0F};
    std::memcpy(bytes.data() + offset, head, std::min(sizeof head, bytes.size() - offset));
  }

  // The 4096 bytes a fragment at offset must hold: zeros past the end.
  std::vector<std::uint8_t> FragmentAt(std::size_t offset) const {
    std::vector<std::uint8_t> fragment(kFragmentSize, 0);
    for (std::size_t i = 0; i < kFragmentSize && offset + i < bytes.size(); ++i) {
      fragment[i] = bytes[offset + i];
    }
    return fragment;
  }

  std::vector<std::uint8_t> bytes;
};

class ScanRunTest : public ::testing::Test {
 protected:
  // Chooses the image as the source and /out.frag as the output.
  void Choose(const TImage& image) {
    fs_.Put("/img", image.bytes);
    main_.Source.SetText("/img");
    main_.Destination.SetText("/out.frag");
  }

  std::vector<std::uint8_t> Output(const std::string& path = "/out.frag") {
    const auto file = fs_.Find(path);
    if (file == nullptr) ADD_FAILURE() << "no file " << path;
    return file ? file->Data : std::vector<std::uint8_t>{};
  }

  // The fragments of the output, inflated independently.
  std::vector<std::uint8_t> Fragments() { return InflateStream(Output(), 512).Content; }

  void ExpectFragments(const TImage& image, const std::vector<std::size_t>& offsets) {
    const auto content = Fragments();
    ASSERT_EQ(content.size(), offsets.size() * kFragmentSize);
    for (std::size_t k = 0; k < offsets.size(); ++k) {
      const auto expected = image.FragmentAt(offsets[k]);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), content.begin() + k * kFragmentSize))
          << "fragment " << k << " from offset " << offsets[k];
    }
  }

  bool Complete(const std::string& path = "/out.frag") {
    return ReadFragmentFile(*fs_.Open(path, TOpenMode::ReadShared)).State ==
           TFragmentFileState::Complete;
  }

  TMemoryFileSystem fs_;
  TScriptedView view_;
  testing::TFakeDeviceQueries devices_;
  TMain main_{view_, fs_, devices_};
};

TEST_F(ScanRunTest, MissingSourceOrOutputShowsTheMessageAndTouchesNothing) {
  main_.StopRequested = true;
  main_.button2Click();
  EXPECT_EQ(view_.Log, (std::vector<std::string>{kRule, "开始扫描!", kClosing}));
  EXPECT_EQ(view_.Messages, std::vector<std::string>{"请填写数据源以及保存路径信息！"});
  EXPECT_TRUE(view_.StartEnabledHistory.empty());
  EXPECT_TRUE(main_.StopRequested);
  EXPECT_EQ(main_.LastScan().End, TScanEnd::MissingInput);

  fs_.Put("/img", {1, 2, 3});
  main_.Source.SetText("/img");
  main_.button2Click();
  EXPECT_EQ(view_.Messages.back(), "请填写数据源以及保存路径信息！");
  EXPECT_EQ(fs_.OpenStreams(), 0);
}

TEST_F(ScanRunTest, EmptySourceGivesACompleteFileWithNoFragment) {
  Choose(TImage(0));
  view_.Log.clear();
  main_.button2Click();
  EXPECT_EQ(view_.Messages, (std::vector<std::string>{"0", "完成！"}));
  EXPECT_EQ(view_.Log, (std::vector<std::string>{kRule, "开始扫描!", kClosing}));
  EXPECT_EQ(Output().size(), 528u);
  EXPECT_EQ(view_.ProcessCalls, 0);
  EXPECT_EQ(view_.Status, "文件数量：");  // a run that finds nothing leaves the status alone
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Completed);
}

TEST_F(ScanRunTest, OneFullChunkTestsEveryStep) {
  TImage image(kChunkSize);
  std::vector<std::size_t> offsets;
  for (std::size_t step = 0; step < 512; step += 73) offsets.push_back(step * 512);
  ASSERT_EQ(offsets.back(), 511u * 512);  // the last step: its fragment runs past the end
  for (std::size_t offset : offsets) image.PutPage(offset);
  Choose(image);
  main_.button2Click();
  EXPECT_EQ(view_.ProcessCalls, 1);
  ExpectFragments(image, offsets);
  EXPECT_EQ(view_.Status, "碎片：" + std::to_string(offsets.size()));
  EXPECT_EQ(view_.Messages.front(), "262144");
}

TEST_F(ScanRunTest, ShortLastChunkTestsOnlyItsOwnSteps) {
  TImage image(kChunkSize + 1000);
  // The step at 511 * 512 reads its fragment from the next chunk; of the last chunk
  // (1000 bytes) only the steps at 0 and 512 are tested.
  const std::vector<std::size_t> offsets = {511 * 512, kChunkSize, kChunkSize + 512};
  for (std::size_t offset : offsets) image.PutPage(offset);
  Choose(image);
  main_.button2Click();
  EXPECT_EQ(view_.ProcessCalls, 2);
  ExpectFragments(image, offsets);
  EXPECT_EQ(main_.gg().Max(), static_cast<int>((kChunkSize + 1000) / 1024));
}

TEST_F(ScanRunTest, ConsecutiveAndFinalStepsGiveOverlappingAndZeroPaddedFragments) {
  TImage image(3 * kChunkSize + 3000);
  const std::vector<std::size_t> offsets = {8192, 8704, 9216, 3 * kChunkSize + 2560};
  for (std::size_t offset : offsets) image.PutPage(offset);
  Choose(image);
  main_.button2Click();
  ExpectFragments(image, offsets);  // the last one: 440 bytes, then zeros
  const auto content = Fragments();
  // Two fragments 512 bytes apart share 3584 bytes.
  EXPECT_TRUE(std::equal(content.begin() + 512, content.begin() + 4096, content.begin() + 4096));
}

TEST_F(ScanRunTest, LocksTheStartButtonForTheRunAndResetsTheGauge) {
  TImage image(2 * kChunkSize);
  Choose(image);
  std::vector<bool> lockedAtChunk;
  view_.OnProcessMessages = [&](int) { lockedAtChunk.push_back(!view_.StartEnabledHistory.back()); };
  std::vector<std::size_t> fileSizeAtMessage;
  // Until it is complete the file is written beside the output, under its partial name.
  view_.OnMessage = [&](const std::string&) {
    fileSizeAtMessage.push_back(Output("/out.frag.partial").size());
  };
  main_.button2Click();
  EXPECT_EQ(lockedAtChunk, (std::vector<bool>{true, true}));
  EXPECT_EQ(view_.StartEnabledHistory, (std::vector<bool>{false, true}));
  // The size message comes once the header is written; "完成！" before the file is closed.
  EXPECT_EQ(fileSizeAtMessage.front(), 512u);
  EXPECT_EQ(view_.GaugePositions, (std::vector<int>{0, 0, 256, 0}));  // range set, 2 chunks, reset
  EXPECT_EQ(main_.gg().Position(), 0);
  EXPECT_EQ(main_.gg().Max(), 512);
}

TEST_F(ScanRunTest, StopBetweenChunksFinishesTheFileWithTheChunksRead) {
  TImage image(4 * kChunkSize);
  for (int chunk = 0; chunk < 4; ++chunk) image.PutPage(chunk * kChunkSize + 1024);
  Choose(image);
  fs_.Find("/img")->BadRanges.push_back({102400, 512});
  view_.OnProcessMessages = [&](int call) {
    if (call == 2) main_.Button1Click();
  };
  main_.button2Click();
  EXPECT_EQ(view_.ProcessCalls, 2);
  ExpectFragments(image, {1024});
  EXPECT_TRUE(Complete());
  // The log says where the scan stopped, and does not claim that the rest was scanned.
  ASSERT_GE(view_.Log.size(), 3u);
  EXPECT_EQ(view_.Log[view_.Log.size() - 3], "无法读取 512 字节（共 1 处），已按零处理。");
  EXPECT_EQ(view_.Log[view_.Log.size() - 2],
            "扫描已停止于第 262144 字节（共 1048576 字节，25%）；之后的数据没有扫描。");
  EXPECT_EQ(view_.Log.back(), kClosing);
  EXPECT_EQ(view_.Messages.back(), "完成！");
  EXPECT_EQ(main_.gg().Position(), 0);
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Stopped);
  EXPECT_TRUE(main_.StopRequested);  // stays set until the next start

  // The next start clears it and scans everything.
  view_.OnProcessMessages = nullptr;
  main_.button2Click();
  EXPECT_EQ(Fragments().size(), 4 * kFragmentSize);
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Completed);
}

// The session ends inside the pump of the second chunk: the file is complete and closed
// before that call returns (the process may end then), and the scan stops after it without
// writing more; the same call a second time, and after the scan, changes nothing.
TEST_F(ScanRunTest, AFileFinishedAtOnceIsCompleteBeforeThePumpReturns) {
  TImage image(4 * kChunkSize);
  for (int chunk = 0; chunk < 4; ++chunk) image.PutPage(chunk * kChunkSize + 1024);
  Choose(image);
  bool completeInside = false;
  int openInside = -1;
  view_.OnProcessMessages = [&](int call) {
    if (call != 2) return;
    main_.FinishFileNow();
    main_.FinishFileNow();
    openInside = fs_.OpenStreams() - 1;  // the source stays open until the scan's cleanup
    completeInside = Complete();
  };
  main_.button2Click();
  EXPECT_TRUE(completeInside);
  EXPECT_EQ(openInside, 0) << "the output is closed";
  EXPECT_EQ(view_.ProcessCalls, 2);
  ExpectFragments(image, {1024});
  EXPECT_TRUE(Complete());
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Stopped);
  EXPECT_EQ(view_.Messages.back(), "完成！");
  EXPECT_EQ(fs_.OpenStreams(), 0);
  main_.FinishFileNow();  // no scan: nothing to finish
  EXPECT_TRUE(Complete());
}

// The session ends while another program has written the output: the final move is refused
// inside FinishFileNow, which runs in the system's end-of-session message and must not
// throw. The scan reports the failure once the pump returns to it, the other program's file
// stays as it is, and this scan's complete file is kept under its partial name and logged.
TEST_F(ScanRunTest, AFinishAtOnceWhoseMoveFailsThrowsNothingAndTheScanReportsIt) {
  TImage image(4 * kChunkSize);
  for (int chunk = 0; chunk < 4; ++chunk) image.PutPage(chunk * kChunkSize + 1024);
  Choose(image);
  const std::vector<std::uint8_t> theirs{'t', 'h', 'e', 'i', 'r', 's'};
  bool threw = false;
  int openInside = -1;
  view_.OnProcessMessages = [&](int call) {
    if (call != 2) return;
    fs_.Put("/out.frag", theirs);
    try {
      main_.FinishFileNow();
      main_.FinishFileNow();
    } catch (...) {
      threw = true;
    }
    openInside = fs_.OpenStreams() - 1;  // the source stays open until the scan's cleanup
  };
  try {
    main_.button2Click();
    ADD_FAILURE() << "the failed move was not reported";
  } catch (const EQuillonError& error) {
    EXPECT_NE(std::string(error.what()).find("was changed by another program"),
              std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(threw);
  EXPECT_EQ(openInside, 0) << "the output is closed";
  EXPECT_EQ(Output(), theirs);
  EXPECT_TRUE(Complete("/out.frag.partial"));
  EXPECT_EQ(main_.LastScan().PartialPath, "/out.frag.partial");
  EXPECT_EQ(view_.Log.back(), "未完成的扫描文件保留为: /out.frag.partial");
  EXPECT_EQ(fs_.OpenStreams(), 0);
}

TEST_F(ScanRunTest, StopPressedWhileIdleDoesNotStopTheNextScan) {
  TImage image(2 * kChunkSize);
  image.PutPage(kChunkSize + 4096);
  Choose(image);
  main_.Button1Click();
  main_.button2Click();
  ExpectFragments(image, {kChunkSize + 4096});
  EXPECT_FALSE(main_.StopRequested);
}

TEST_F(ScanRunTest, ASizeChangedDuringTheScanMovesItsEnd) {
  TImage image(4 * kChunkSize);
  image.PutPage(0);
  image.PutPage(2 * kChunkSize);
  image.PutPage(2 * kChunkSize + 1024);
  image.PutPage(3 * kChunkSize);
  Choose(image);
  view_.OnProcessMessages = [&](int call) {
    if (call == 2) main_.SourceSize = 2 * kChunkSize + 1000;
  };
  main_.button2Click();
  EXPECT_EQ(view_.ProcessCalls, 3);
  ExpectFragments(image, {0, 2 * kChunkSize});  // the step at +1024 lies past the new end
  // The header keeps the length of the source that was opened.
  EXPECT_EQ(ReadFragmentFile(*fs_.Open("/out.frag", TOpenMode::ReadShared)).SourceLength,
            4 * kChunkSize);
}

TEST_F(ScanRunTest, ASizeBeyondTheOpenedSourceEndsAtItsEnd) {
  TImage image(2 * kChunkSize);
  image.PutPage(kChunkSize);
  Choose(image);
  view_.OnProcessMessages = [&](int call) {
    if (call == 1) main_.SourceSize = 1000 * kChunkSize;
  };
  main_.button2Click();
  EXPECT_EQ(view_.ProcessCalls, 2);
  ExpectFragments(image, {kChunkSize});
}

TEST_F(ScanRunTest, ASizeShrunkBelowThePositionEndsTheRunCleanly) {
  TImage image(3 * kChunkSize);
  image.PutPage(0);
  image.PutPage(2 * kChunkSize);
  Choose(image);
  view_.OnProcessMessages = [&](int call) {
    if (call == 2) main_.SourceSize = 1000;
  };
  main_.button2Click();
  ExpectFragments(image, {0});
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Completed);
}

TEST_F(ScanRunTest, OutputChosenDuringTheScanServesTheNextOne) {
  TImage image(2 * kChunkSize);
  image.PutPage(kChunkSize + 512);
  Choose(image);
  view_.OnProcessMessages = [&](int call) {
    if (call == 1) main_.Destination.SetText("/next.frag");
  };
  main_.button2Click();
  ExpectFragments(image, {kChunkSize + 512});
  EXPECT_EQ(fs_.Find("/next.frag"), nullptr);
  view_.OnProcessMessages = nullptr;
  main_.button2Click();
  EXPECT_TRUE(Complete("/next.frag"));
}

TEST_F(ScanRunTest, FragmentCountRestartsAtOneForEveryRun) {
  TImage image(kChunkSize);
  image.PutPage(0);
  image.PutPage(4096);
  Choose(image);
  main_.button2Click();
  EXPECT_EQ(view_.Status, "碎片：2");
  view_.StatusHistory.clear();
  main_.button2Click();
  EXPECT_EQ(view_.StatusHistory, (std::vector<std::string>{"碎片：1", "碎片：2"}));
}

TEST_F(ScanRunTest, MissingSourceFailsBeforeTheOutputIsTouched) {
  TImage image(kChunkSize);
  Choose(image);
  fs_.Put("/out.frag", {9, 9, 9});
  main_.SourcePath = "/gone";
  try {
    main_.button2Click();
    FAIL() << "no error";
  } catch (const EQuillonError& error) {
    EXPECT_NE(std::string(error.what()).find("Cannot open file \"/gone\""), std::string::npos);
  }
  EXPECT_EQ(Output(), (std::vector<std::uint8_t>{9, 9, 9}));
  EXPECT_EQ(view_.Messages, std::vector<std::string>{"完成！"});
  EXPECT_EQ(view_.StartEnabledHistory, (std::vector<bool>{false, true}));
  EXPECT_NE(view_.Log.back(), kClosing);
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Failed);
}

// A re-scan that fails (here: the output medium fills up) leaves yesterday's good file
// as it was; what it wrote stays beside it under the partial name, and the log says where.
TEST_F(ScanRunTest, FailedWriteKeepsTheEarlierFileAndLeavesThePartialFileBesideIt) {
  TImage image(8 * kChunkSize);
  for (std::size_t at = 0; at < image.bytes.size(); at += 4096) image.PutPage(at);
  Choose(image);
  main_.button2Click();
  const std::vector<std::uint8_t> yesterday = Output();
  ASSERT_TRUE(Complete());

  fs_.NewFileFaults["/out.frag.partial"].WriteLimit = 512 + 1000;
  try {
    main_.button2Click();
    FAIL() << "no error";
  } catch (const EWriteError& error) {
    EXPECT_STREQ(error.what(), "Stream write error");
    EXPECT_EQ(error.Path(), "/out.frag.partial");
    EXPECT_EQ(error.Reason(), "No space left on device");
  }
  EXPECT_EQ(Output(), yesterday);
  EXPECT_EQ(Output("/out.frag.partial").size(), 512u + 1000u);
  EXPECT_FALSE(Complete("/out.frag.partial"));
  EXPECT_EQ(main_.LastScan().PartialPath, "/out.frag.partial");
  EXPECT_EQ(view_.Log.back(), "未完成的扫描文件保留为: /out.frag.partial");
  EXPECT_EQ(fs_.OpenStreams(), 0);
  EXPECT_EQ(main_.gg().Position(), 0);
  EXPECT_EQ(view_.Messages.back(), "完成！");

  // The next scan to the same output meets the partial file and says so, touching nothing.
  try {
    main_.button2Click();
    FAIL() << "the partial file was written over";
  } catch (const EQuillonError& error) {
    EXPECT_NE(std::string(error.what()).find("another scan may be writing"), std::string::npos);
  }
  EXPECT_EQ(Output(), yesterday);
  EXPECT_EQ(Output("/out.frag.partial").size(), 512u + 1000u);
}

TEST_F(ScanRunTest, SourcePathTooLongForTheHeaderIsRefusedBeforeTheOutputIsCreated) {
  const std::string longPath = "/" + std::string(457, 'd');
  fs_.Put(longPath, std::vector<std::uint8_t>(1024, 0));
  main_.Source.SetText(longPath);
  main_.Destination.SetText("/out.frag");
  EXPECT_THROW(main_.button2Click(), EQuillonError);
  EXPECT_EQ(fs_.Find("/out.frag"), nullptr);
}

// A disk chosen through the open-image entry by its device node gets the same question as
// a drive letter when the output lies on it; a "No" creates nothing.
TEST_F(ScanRunTest, ADeviceNodeChosenAsAnImageGetsTheSameDeviceQuestion) {
  fs_.Put("/dev/loop1", std::vector<std::uint8_t>(kChunkSize, 0))->IsDevice = true;
  devices_.FileDevices["/mnt/"] = "/dev/loop1";
  main_.Source.SetText("/dev/loop1");
  main_.Destination.SetText("/mnt/out.frag");
  view_.QuestionAnswer = false;
  main_.button2Click();
  ASSERT_EQ(view_.Questions.size(), 1u);
  EXPECT_NE(view_.Questions[0].find("/mnt/out.frag"), std::string::npos);
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Declined);
  EXPECT_EQ(fs_.Find("/mnt/out.frag.partial"), nullptr);
  EXPECT_EQ(fs_.Find("/mnt/out.frag"), nullptr);

  // A device that sizes to nothing (a loop device without its file) is refused at once.
  fs_.Put("/dev/loop2", {})->IsDevice = true;
  EXPECT_THROW(main_.Source.SetText("/dev/loop2"), EQuillonError);
  EXPECT_EQ(main_.SourceSize, 0);
}

// What a person is told about a failing source, and in what order: the unreadable places
// in the log before "完成！", a lost source as a failure that still leaves a complete file.
class FailingSourceScanTest : public ScanRunTest {};

TEST_F(FailingSourceScanTest, UnreadablePlacesAreLoggedAndReportedButTheScanCompletes) {
  TImage image(3 * kChunkSize);
  image.PutPage(4096);
  image.PutPage(kChunkSize + 8192);
  Choose(image);
  const auto source = fs_.Find("/img");
  source->BadRanges = {{kChunkSize + 8192 + 1024, 1024}, {2 * kChunkSize, 512}};
  main_.button2Click();

  EXPECT_EQ(main_.LastScan().End, TScanEnd::Completed);
  EXPECT_EQ(main_.LastScan().UnreadableBytes, 1536);
  EXPECT_EQ(main_.LastScan().Unreadable, source->BadRanges);
  const std::vector<std::string> tail(view_.Log.end() - 2, view_.Log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"无法读取 1536 字节（共 2 处），已按零处理；其余数据均已扫描。",
                                            kClosing}));
  EXPECT_TRUE(Complete());
  TImage zeroed = image;
  std::fill_n(zeroed.bytes.begin() + kChunkSize + 8192 + 1024, 1024, 0);
  const std::vector<std::uint8_t> fragments = Fragments();
  ASSERT_EQ(fragments.size(), 2 * kFragmentSize);
  const std::vector<std::uint8_t> expected = zeroed.FragmentAt(kChunkSize + 8192);
  EXPECT_TRUE(std::equal(fragments.begin() + kFragmentSize, fragments.end(), expected.begin()));
}

TEST_F(FailingSourceScanTest, AStopWhileADeadChunkIsReadAgainTakesEffectThere) {
  // The second chunk is dead and every failed read takes 2 ms: reading it again piece by
  // piece and sector by sector would take over a second. The window gets its messages
  // meanwhile (both windows pump through TMain), and its stop button ends the scan there.
  TImage image(3 * kChunkSize);
  image.PutPage(1024);
  image.PutPage(2 * kChunkSize + 1024);
  Choose(image);
  const auto source = fs_.Find("/img");
  source->BadRanges = {{kChunkSize, kChunkSize}};
  source->FailedReadTime = std::chrono::milliseconds(2);
  view_.OnProcessMessages = [&](int call) {
    if (call == 3) main_.Button1Click();  // the first call while the chunk is read again
  };
  main_.button2Click();
  EXPECT_EQ(view_.ProcessCalls, 3);
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Stopped);
  EXPECT_GT(main_.LastScan().BytesScanned, kChunkSize);
  EXPECT_LT(main_.LastScan().BytesScanned, 2 * kChunkSize);
  EXPECT_LT(source->Reads.size(), 1u + 64 + 512);
  ExpectFragments(image, {1024});
  EXPECT_TRUE(Complete());
  EXPECT_EQ(view_.Messages.back(), "完成！");
  EXPECT_EQ(view_.Log.back(), kClosing);
}

TEST_F(FailingSourceScanTest, ASourceThatIsGoneEndsAsAFailureWithACompleteFile) {
  TImage image(4 * kChunkSize);
  image.PutPage(4096);
  Choose(image);
  fs_.Find("/img")->GoneAfterReads = 2;
  try {
    main_.button2Click();
    ADD_FAILURE() << "a lost source must be reported as a failure";
  } catch (const EQuillonError& error) {
    EXPECT_NE(std::string(error.what()).find("\"/img\" can no longer be read from offset 524288"),
              std::string::npos)
        << error.what();
    EXPECT_NE(std::string(error.what()).find("complete up to there"), std::string::npos);
  }
  EXPECT_EQ(main_.LastScan().End, TScanEnd::SourceLost);
  EXPECT_EQ(main_.LastScan().BytesScanned, 2 * kChunkSize);
  EXPECT_TRUE(Complete());
  EXPECT_EQ(Fragments().size(), kFragmentSize);
  EXPECT_EQ(view_.Messages.back(), "完成！");
  EXPECT_NE(view_.Log.back(), kClosing);  // a failure gets no closing line
  EXPECT_EQ(fs_.OpenStreams(), 0);
}

TEST_F(FailingSourceScanTest, TheFileIsOnStableStorageBeforeDoneIsShownAndAFailedFlushFails) {
  TImage image(kChunkSize);
  image.PutPage(0);
  Choose(image);
  int flushesWhenDone = -1;
  view_.OnMessage = [&](const std::string& text) {
    if (text == "完成！") flushesWhenDone = fs_.Find("/out.frag.partial")->Flushes;
  };
  main_.button2Click();
  EXPECT_EQ(flushesWhenDone, 1);

  // The output medium accepts the bytes but cannot keep them: not complete, not a success.
  fs_.NewFileFaults["/out.frag.partial"].FlushFails = true;
  EXPECT_THROW(
      {
        try {
          main_.button2Click();
        } catch (const EQuillonError& error) {
          EXPECT_STREQ(error.what(), "Stream write error");
          throw;
        }
      },
      EQuillonError);
  EXPECT_EQ(main_.LastScan().End, TScanEnd::Failed);
  EXPECT_NE(view_.Log.back(), kClosing);
}

TEST_F(FailingSourceScanTest, PathsTheCodePageCannotHoldAreRefusedBeforeAnythingIsCreated) {
  fs_.SingleByteCodePage = true;
  fs_.Put("/img", std::vector<std::uint8_t>(1000, 0));
  main_.Source.SetText("/img");

  view_.SaveAnswer = "/résultat.frag";
  main_.SaveBtnClick();
  EXPECT_EQ(main_.Destination.Text(), "/r\xE9sultat.frag");  // the code page's byte
  EXPECT_EQ(view_.Log.back(), "数据库碎片保存路径为: /résultat.frag");  // shown as UTF-8

  view_.SaveAnswer = "/结果.frag";
  try {
    main_.SaveBtnClick();
    ADD_FAILURE() << "a name outside the code page must be refused";
  } catch (const EQuillonError& error) {
    EXPECT_NE(std::string(error.what()).find("\"/结果.frag\" has characters that the system's "
                                             "code page cannot hold"),
              std::string::npos)
        << error.what();
  }
  EXPECT_EQ(main_.Destination.Text(), "/r\xE9sultat.frag");  // the earlier choice stays
  EXPECT_EQ(view_.Log.back(), "数据库碎片保存路径为: /résultat.frag");
  EXPECT_EQ(fs_.Find("/结果.frag"), nullptr);

  view_.MenuChoice = "Openimage";
  view_.OpenAnswer = "/图像.img";
  EXPECT_THROW(main_.RecBtnClick(), EQuillonError);
  EXPECT_EQ(main_.Source.Text(), "/img");

  main_.button2Click();
  EXPECT_TRUE(Complete("/r\xE9sultat.frag"));
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// The same session in English: every line, message and status the scan shows, with the
// values filled in where the Chinese ones have them.
TEST(ScanRunEnglishTest, TheWholeScanSpeaksEnglish) {
  TMemoryFileSystem fs;
  TScriptedView view;
  testing::TFakeDeviceQueries devices;
  TMain main(view, fs, devices, TLanguage::English);
  EXPECT_EQ(main.Language(), TLanguage::English);

  main.button2Click();
  EXPECT_EQ(view.Messages,
            std::vector<std::string>{"Please choose the data source and the save file first!"});

  TImage image(4 * kChunkSize);
  for (int chunk = 0; chunk < 4; ++chunk) image.PutPage(chunk * kChunkSize + 1024);
  fs.Put("/img", image.bytes);
  fs.Find("/img")->BadRanges.push_back({102400, 512});
  view.Log.clear();
  view.Messages.clear();
  main.Source.SetText("/img");
  view.SaveAnswer = "/out.frag";
  main.SaveBtnClick();
  view.OnProcessMessages = [&](int call) {
    if (call == 2) main.Button1Click();
  };
  main.button2Click();
  EXPECT_EQ(view.Log,
            (std::vector<std::string>{
                "Source to scan: /img", "The database fragments are saved to: /out.frag", kRule,
                "Scan started!",
                "512 bytes could not be read (unreadable places: 1) and were scanned as zeros.",
                "The scan stopped at byte 262144 of 1048576 (25%); the data after it was not "
                "scanned.",
                "Scan finished. Please contact customer service and send them the encrypted "
                "scan file, so that they can see how much of the data can be recovered."}));
  EXPECT_EQ(view.Status, "Fragments: 1");
  EXPECT_EQ(view.Messages.back(), "Done!");
  EXPECT_EQ(main.LastScan().End, TScanEnd::Stopped);
}

// The source menu's first entry is in the session's language.
TEST(ScanRunEnglishTest, TheSourceMenuSpeaksTheSessionsLanguage) {
  TMemoryFileSystem fs;
  TScriptedView view;
  testing::TFakeDeviceQueries devices;
  TMain main(view, fs, devices, TLanguage::English);
  main.RecBtnDropDown();
  ASSERT_FALSE(view.Menu.empty());
  EXPECT_EQ(view.Menu.front().Caption, "Open disk image");

  TMain chinese(view, fs, devices);
  chinese.RecBtnDropDown();
  EXPECT_EQ(view.Menu.front().Caption, "打开磁盘镜像");
}

}  // namespace
}  // namespace quillon
