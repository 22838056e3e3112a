// "scan --resume" after stops at the moments a kill can choose: the files a stop leaves are
// taken up again by the next resume, and a file that is not the scan's is still refused.

#include "cli/scan_resume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "core/byte_ranges.h"
#include "core/errors.h"
#include "core/fragment_file_writer.h"
#include "core/scan_restart.h"
#include "support/memory_file_system.h"
#include "support/zlib_helpers.h"

namespace quillon {
namespace {

using testing::InflateStream;
using testing::TMemoryFileSystem;

using TFragment = std::array<std::uint8_t, kFragmentSize>;

constexpr int kCount = 300;
const std::string kOut = "/out.frag";
const std::string kDisk = "/disk";
constexpr std::int64_t kDiskSize = std::int64_t{kCount} * kFragmentSize;

// Fragments that compress as pages do: repeated runs with some noise.
std::vector<TFragment> SomeFragments() {
  std::mt19937 random(11);
  std::vector<TFragment> fragments(kCount);
  for (TFragment& f : fragments) {
    for (std::size_t i = 0; i < f.size(); ++i) {
      f[i] = random() % 4 == 0 ? static_cast<std::uint8_t>(random())
                               : static_cast<std::uint8_t>(i / 64);
    }
  }
  return fragments;
}

// How one run goes: a state at each fragment number in States, a flush that no state names
// at Flush (as when the run is killed between bringing its file to the disk and writing
// the state), and cut off before fragment Cut as a kill leaves it; Cut < 0 runs to the end,
// where Tidy false is a kill between moving the file into place and tidying (for recover, a
// kill while it decodes).
struct TRunPlan {
  std::vector<int> States;
  int Flush = -1;
  int Cut = -1;
  bool Tidy = true;
};

class ScanResumeWindows : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    fragments_ = SomeFragments();
    std::vector<std::uint8_t> disk;
    for (const TFragment& f : fragments_) disk.insert(disk.end(), f.begin(), f.end());
    fs_.Put(kDisk, disk);
  }

  // One scan into kOut, prepared as the command line prepares it (with --resume or without);
  // throws what PrepareResume throws.
  void Run(bool resume, const TRunPlan& plan) {
    TScanRestartKeeper keeper(fs_, ScanStatePathFor(kOut), TScanClock::duration::zero());
    if (resume) PrepareResume(fs_, keeper, kOut, kDisk, kDiskSize, kDisk);
    const std::unique_ptr<TStream> source = fs_.Open(kDisk, TOpenMode::ReadShared);
    TFragmentFileWriter writer(fs_, GetParam());
    keeper.StartFile(writer, kOut, kDisk, *source, kDiskSize, kDiskSize);
    const TByteRanges none;
    for (int i = static_cast<int>(keeper.StartFragments()); i < kCount; ++i) {
      if (i == plan.Cut) {
        writer.CloseKeepingPartial();
        return;
      }
      const std::int64_t at = std::int64_t{i} * kFragmentSize;
      if (std::find(plan.States.begin(), plan.States.end(), i) != plan.States.end()) {
        keeper.AtChunkBoundary(at, none, writer, false);
      }
      if (i == plan.Flush) writer.TakeRestartPoint(at);
      writer.AddFragment(fragments_[static_cast<std::size_t>(i)]);
    }
    keeper.AtChunkBoundary(kDiskSize, none, writer, true);
    writer.Finish();
    writer.Close();
    if (plan.Tidy) {
      ASSERT_TRUE(TidyAfterScan(fs_, kOut, true));
    }
  }

  // The finished file holds every fragment in order, with nothing left beside it.
  void ExpectCompleteWithoutLeftovers() {
    std::vector<std::uint8_t> all;
    for (const TFragment& f : fragments_) all.insert(all.end(), f.begin(), f.end());
    ASSERT_NE(fs_.Find(kOut), nullptr);
    EXPECT_EQ(InflateStream(fs_.Find(kOut)->Data, kHeaderSize).Content, all);
    for (const char* leftover : {".partial", ".interrupted", ".resume", ".resume.new"}) {
      EXPECT_EQ(fs_.Find(kOut + leftover), nullptr) << leftover;
    }
  }

  TMemoryFileSystem fs_;
  std::vector<TFragment> fragments_;
};

// The first run is killed after a flush past its last state; the resume takes its own first
// restart point elsewhere and is killed too. Past the first run's restart point the two
// files differ, and the next resume still goes on.
TEST_P(ScanResumeWindows, AResumeCutOffAfterItsFirstRestartPointIsResumed) {
  Run(false, {.States = {40}, .Flush = 120, .Cut = 150});
  Run(true, {.States = {160}, .Cut = 220});
  // The earlier file went once its copy was on the disk.
  EXPECT_EQ(fs_.Find(kOut + kInterruptedSuffix), nullptr);
  Run(true, {});
  ExpectCompleteWithoutLeftovers();
}

// A resume that reached the end and moved its file into place, killed before it tidied: its
// state names the end, which the file in place holds.
TEST_P(ScanResumeWindows, AResumeCutOffAfterItsFileWasInPlaceIsResumed) {
  Run(false, {.States = {40}, .Flush = 90, .Cut = 110});
  Run(true, {.States = {130, 170}, .Tidy = false});
  ASSERT_NE(fs_.Find(ScanStatePathFor(kOut)), nullptr);
  Run(true, {});
  ExpectCompleteWithoutLeftovers();
}

// A resume killed after its copy of the earlier file is on the disk, before that file goes.
TEST_P(ScanResumeWindows, AResumeCutOffBeforeTheEarlierFileWentIsResumed) {
  Run(false, {.States = {40}, .Flush = 90, .Cut = 110});
  {
    TScanRestartKeeper keeper(fs_, ScanStatePathFor(kOut), TScanClock::duration::zero());
    PrepareResume(fs_, keeper, kOut, kDisk, kDiskSize, kDisk);
    const std::string interrupted = kOut + kInterruptedSuffix;
    ASSERT_NE(fs_.Find(interrupted), nullptr);
    const std::unique_ptr<TStream> earlier = fs_.Open(interrupted, TOpenMode::ReadShared);
    const std::string text(fs_.Find(ScanStatePathFor(kOut))->Data.begin(),
                           fs_.Find(ScanStatePathFor(kOut))->Data.end());
    TFragmentFileWriter writer(fs_, GetParam());
    writer.CreateContinuing(kOut, *earlier, ParseScanState(text, nullptr)->Restart, interrupted);
    writer.CloseKeepingPartial();
  }
  Run(true, {});
  ExpectCompleteWithoutLeftovers();
}

// Beside a partial file that holds the restart point, a file under the set-aside name that
// does not hold the same bytes is another program's: refused, and nothing is touched.
TEST_P(ScanResumeWindows, AForeignFileUnderTheSetAsideNameIsRefusedAndLeftAlone) {
  Run(false, {.States = {40}, .Cut = 100});
  Run(true, {.States = {120}, .Cut = 180});
  const std::string interrupted = kOut + kInterruptedSuffix;
  const std::vector<std::uint8_t> foreign(200000, 0x42);
  fs_.Put(interrupted, foreign);
  const std::vector<std::uint8_t> partial = fs_.Find(kOut + kPartialSuffix)->Data;
  try {
    Run(true, {});
    FAIL() << "the resume was not refused";
  } catch (const EQuillonError& error) {
    EXPECT_NE(std::string(error.what()).find("is not the interrupted scan's file"),
              std::string::npos)
        << error.what();
  }
  EXPECT_EQ(fs_.Find(interrupted)->Data, foreign);
  EXPECT_EQ(fs_.Find(kOut + kPartialSuffix)->Data, partial);
}

INSTANTIATE_TEST_SUITE_P(Workers, ScanResumeWindows, ::testing::Values(1u, 2u));

}  // namespace
}  // namespace quillon
