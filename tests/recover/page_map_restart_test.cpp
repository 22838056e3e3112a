// The page map's restart points: a map continued from a point into a new file ends as the
// map of a run that was never stopped, a point that the earlier map does not hold is
// refused, and the state file that keeps the points reads back only whole and unchanged.

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "core/errors.h"
#include "core/kept_page_test.h"
#include "recover/page_map_reader.h"
#include "recover/page_map_state.h"
#include "recover/page_map_writer.h"
#include "support/memory_file_system.h"

namespace quillon::recover {
namespace {

using TPage = std::array<std::uint8_t, 4096>;

// A data page whose first bytes differ from step to step (enough for the fragments' CRC-32).
TPage DataPage(std::mt19937& random) {
  TPage page{};
  for (std::size_t i = 0; i < 64; ++i) page[i] = static_cast<std::uint8_t>(random());
  page[0] = 0x01;
  page[1] = 0x01;
  return page;
}

// A database header page: kept by the map as a page of its own.
TPage HeaderPage() {
  TPage page{};
  page[0] = 0x00;
  page[1] = 0x01;
  const char name[] = "Standard Jet DB";
  std::copy(name, name + 15, page.begin() + 4);
  page[0x14] = 1;
  return page;
}

// Feeds map the steps of a made-up source from step `from` to step `to` (not included): a
// fragment at most steps, a header page at every 97th. Takes a restart point at every step
// in `points` and returns them.
std::vector<TPageMapRestartPoint> Feed(TPageMapWriter& map, int from, int to,
                                       const std::vector<int>& points) {
  std::mt19937 random(5);
  std::vector<TPageMapRestartPoint> taken;
  for (int step = 0; step < to; ++step) {
    const TPage fragment = DataPage(random);
    if (step < from) continue;
    if (std::find(points.begin(), points.end(), step) != points.end()) {
      taken.push_back(map.TakeRestartPoint(std::int64_t{step} * 4096));
    }
    if (step % 97 == 3) {
      map.OfferPage(std::int64_t{step} * 4096, HeaderPage());
    } else {
      map.AddFragment(std::int64_t{step} * 4096, fragment);
    }
  }
  return taken;
}

std::vector<std::uint8_t> Bytes(testing::TMemoryFileSystem& files, const std::string& path) {
  return files.Find(path)->Data;
}

TEST(PageMapRestart, AMapContinuedFromAPointEndsAsAnUninterruptedOne) {
  ASSERT_TRUE(ClassifyKeptPage(HeaderPage()).has_value()) << "the test's header page is kept";
  testing::TMemoryFileSystem files;
  // The uninterrupted run, with the same points taken (points split the offset records).
  {
    TPageMapWriter whole(files.Open("whole.pagemap", TOpenMode::CreateExclusive), "whole");
    whole.WriteHeader();
    Feed(whole, 0, 30000, {1000, 20000});
    whole.Finish(30000 * 4096, TPageMapScanEnd::Completed);
  }
  // The run cut off at step 20500 (its point at 20000 taken), its map holding more after
  // that point than the point names, as a map written up to a kill does.
  TPageMapRestartPoint point;
  {
    TPageMapWriter first(files.Open("first.pagemap", TOpenMode::CreateExclusive), "first");
    first.WriteHeader();
    const auto taken = Feed(first, 0, 20500, {1000, 20000});
    ASSERT_EQ(taken.size(), 2u);
    point = taken[1];
    first.Finish(20500 * 4096, TPageMapScanEnd::Stopped);
  }
  EXPECT_EQ(point.SourceOffset, 20000 * 4096);
  EXPECT_EQ(point.KeptPages, 207u);  // steps 3, 100, ... below 20000
  EXPECT_EQ(point.Fragments, 20000u - 207u);
  {
    TPageMapWriter resumed(files.Open("resumed.pagemap", TOpenMode::CreateExclusive),
                           "resumed");
    const auto earlier = files.Open("first.pagemap", TOpenMode::ReadShared);
    resumed.ContinueFrom(*earlier, point, "first.pagemap");
    EXPECT_EQ(resumed.Fragments(), point.Fragments);
    EXPECT_EQ(resumed.KeptPages(), point.KeptPages);
    Feed(resumed, 20000, 30000, {});
    resumed.Finish(30000 * 4096, TPageMapScanEnd::Completed);
  }
  EXPECT_EQ(Bytes(files, "resumed.pagemap"), Bytes(files, "whole.pagemap"));
  const auto read = files.Open("resumed.pagemap", TOpenMode::ReadShared);
  const TPageMapContents contents = ReadPageMap(*read, "resumed.pagemap");
  EXPECT_TRUE(contents.Complete) << contents.Problem;
  EXPECT_EQ(contents.FragmentOffsets.size(), 30000u - 310u);
  EXPECT_EQ(contents.Pages.size(), 310u);
}

TEST(PageMapRestart, APointTheEarlierMapDoesNotHoldIsRefusedNamingIt) {
  testing::TMemoryFileSystem files;
  TPageMapRestartPoint point;
  {
    TPageMapWriter first(files.Open("first.pagemap", TOpenMode::CreateExclusive), "first");
    first.WriteHeader();
    point = Feed(first, 0, 5000, {4000})[0];
  }
  const auto refused = [&](const TPageMapRestartPoint& p, const std::string& why) {
    TPageMapWriter resumed(files.Open("r.pagemap", TOpenMode::CreateExclusive), "r");
    const auto earlier = files.Open("first.pagemap", TOpenMode::ReadShared);
    try {
      resumed.ContinueFrom(*earlier, p, "first.pagemap");
      ADD_FAILURE() << why << ": not refused";
    } catch (const EQuillonError& error) {
      EXPECT_NE(std::string(error.what()).find("\"first.pagemap\""), std::string::npos)
          << error.what();
    }
  };
  TPageMapRestartPoint longer = point;
  longer.Bytes = Bytes(files, "first.pagemap").size() + 1;
  refused(longer, "more bytes than the file holds");
  TPageMapRestartPoint otherCrc = point;
  otherCrc.FileCrc32 ^= 1;
  refused(otherCrc, "another checksum");
  TPageMapRestartPoint noHeader = point;
  noHeader.Bytes = 8;
  refused(noHeader, "less than a header");
  files.Find("first.pagemap")->Data[40] ^= 0x10;  // a byte below the point changed
  refused(point, "a changed file");
}

TEST(PageMapState, ReadsBackTheLastTwoPointsOnlyWholeAndUnchanged) {
  const std::vector<TPageMapRestartPoint> points = {
      {4096, 100, 0x11111111, 3, 1, 0xaaaaaaaa},
      {8192, 200, 0x22222222, 5, 1, 0xbbbbbbbb},
      {1 << 30, 1 << 20, 0xfedcba98, 70000, 12, 0x01234567}};
  const std::string text = FormatPageMapState(points);
  std::string problem;
  const auto back = ParsePageMapState(text, &problem);
  ASSERT_TRUE(back) << problem;
  ASSERT_EQ(back->size(), 2u);
  EXPECT_EQ((*back)[0], points[1]);
  EXPECT_EQ((*back)[1], points[2]);
  EXPECT_EQ(PointAt(*back, 8192), points[1]);
  EXPECT_FALSE(PointAt(*back, 4096));

  const auto refused = [&](const std::string& bad, const std::string& why) {
    std::string reason;
    EXPECT_FALSE(ParsePageMapState(bad, &reason)) << why;
    EXPECT_FALSE(reason.empty()) << why;
  };
  refused(text.substr(0, text.size() - 3), "cut short");
  std::string changed = text;
  changed[changed.find("8192")] = '9';
  refused(changed, "a changed digit");
  refused("quillon-scan-state\n", "another file");
  refused(FormatPageMapState({points[1], points[0]}), "points out of order");
  refused(FormatPageMapState({}), "no point");
  refused(FormatPageMapState({{4096, 8, 0, 0, 0, 0}}), "fewer bytes than a header");
}

}  // namespace
}  // namespace quillon::recover
