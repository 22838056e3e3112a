// Restart points of the fragment file and the state file that records them: a body cut at
// a restart point and continued by another writer inflates to the same fragments, and a
// state file that is cut short, changed or of another version is refused, never trusted.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "core/chunk_loop.h"
#include "core/errors.h"
#include "core/fragment_file_writer.h"
#include "core/scan_restart.h"
#include "core/scan_state.h"
#include "core/source_identity.h"
#include "support/memory_file_system.h"
#include "support/zlib_helpers.h"

namespace quillon {
namespace {

using testing::InflateStream;
using testing::TMemoryFileSystem;

using TFragment = std::array<std::uint8_t, kFragmentSize>;

// Fragments that compress as pages do: repeated runs with some noise.
std::vector<TFragment> SomeFragments(int count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<TFragment> fragments(static_cast<std::size_t>(count));
  for (TFragment& f : fragments) {
    for (std::size_t i = 0; i < f.size(); ++i) {
      f[i] = random() % 4 == 0 ? static_cast<std::uint8_t>(random()) : static_cast<std::uint8_t>(i / 64);
    }
  }
  return fragments;
}

std::vector<std::uint8_t> Joined(const std::vector<TFragment>& fragments) {
  std::vector<std::uint8_t> all;
  for (const TFragment& f : fragments) all.insert(all.end(), f.begin(), f.end());
  return all;
}

class RestartPointTest : public ::testing::TestWithParam<unsigned> {
 protected:
  TMemoryFileSystem fs_;
};

// Written in three runs, each cut off after a restart point with more written past it (as a
// killed run leaves it), each continued from the one before: the file is one zlib stream of
// all the fragments in order, checked by its own Adler-32.
TEST_P(RestartPointTest, ContinuedFilesInflateToTheUninterruptedRunsFragments) {
  const unsigned workers = GetParam();
  const std::vector<TFragment> fragments = SomeFragments(700, 7);  // several 1 MiB blocks
  // Points at the start, twice with nothing between, and one fragment apart.
  const std::vector<int> cuts = {0, 260, 260, 261, 530};
  TRestartPoint point;
  std::string earlier;
  std::size_t next = 0;
  for (int run = 0; run < 3; ++run) {
    const std::string path = "/run" + std::to_string(run) + ".frag";
    TFragmentFileWriter writer(fs_, workers);
    if (run == 0) {
      writer.Create(path);
      writer.WriteHeader("/images/disk.img", 1 << 30);
    } else {
      const std::unique_ptr<TStream> from = fs_.Open(earlier, TOpenMode::ReadShared);
      writer.CreateContinuing(path, *from, point, earlier);
      EXPECT_EQ(writer.FragmentCount(), static_cast<std::uint64_t>(point.Fragments));
    }
    for (; next < fragments.size(); ++next) {
      for (const int cut : cuts) {
        if (static_cast<std::size_t>(cut) == next && (run == 0 ? cut <= 260 : cut > 260)) {
          point = writer.TakeRestartPoint(static_cast<std::int64_t>(next) * 4096);
        }
      }
      if (run < 2 && next == static_cast<std::size_t>(run == 0 ? 300 : 600)) break;
      writer.AddFragment(fragments[next]);
    }
    if (run < 2) {
      // Cut off: nothing finished; the next run goes on from the last restart point.
      writer.CloseKeepingPartial();
      earlier = path + ".partial";
      next = static_cast<std::size_t>(point.Fragments);
      continue;
    }
    writer.Finish();
    writer.Close();
    const std::vector<std::uint8_t> file = fs_.Find(path)->Data;
    const testing::TInflated body = InflateStream(file, kHeaderSize);  // checks the Adler-32
    EXPECT_EQ(body.Content, Joined(fragments));
    // The trailer follows the stream as in any file: four zeros, the pad, "TEMP".
    const std::size_t streamEnd = kHeaderSize + body.CompressedLength;
    EXPECT_EQ(file.size(), streamEnd + 4 + TrailerPadFor(streamEnd + 4) + 4);
    EXPECT_EQ(std::string(file.end() - 4, file.end()), "TEMP");
    // The header is the first run's.
    const std::vector<std::uint8_t> first = fs_.Find("/run0.frag.partial")->Data;
    EXPECT_TRUE(std::equal(first.begin(), first.begin() + kHeaderSize, file.begin()));
  }
}

INSTANTIATE_TEST_SUITE_P(Workers, RestartPointTest, ::testing::Values(1u, 2u, 3u));

TEST(RestartPointRefusals, AnEarlierFileThatIsShortOrChangedIsRefused) {
  TMemoryFileSystem fs;
  TRestartPoint point;
  {
    TFragmentFileWriter writer(fs, 1);
    writer.Create("/a.frag");
    writer.WriteHeader("/disk.img", 1 << 20);
    for (const TFragment& f : SomeFragments(20, 3)) writer.AddFragment(f);
    point = writer.TakeRestartPoint(20 * 4096);
    writer.CloseKeepingPartial();
  }
  std::vector<std::uint8_t>& data = fs.Find("/a.frag.partial")->Data;
  ASSERT_EQ(static_cast<std::int64_t>(data.size()), point.FileBytes);

  data[600] ^= 1;  // changed inside the part the point names
  {
    TFragmentFileWriter writer(fs, 1);
    const std::unique_ptr<TStream> from = fs.Open("/a.frag.partial", TOpenMode::ReadShared);
    EXPECT_THROW(writer.CreateContinuing("/b.frag", *from, point, "/a.frag.partial"),
                 EQuillonError);
    writer.CloseKeepingPartial();
  }
  data[600] ^= 1;
  data.resize(data.size() - 1);  // cut short
  fs.Remove("/b.frag.partial");
  TFragmentFileWriter writer(fs, 1);
  const std::unique_ptr<TStream> from = fs.Open("/a.frag.partial", TOpenMode::ReadShared);
  try {
    writer.CreateContinuing("/b.frag", *from, point, "/a.frag.partial");
    FAIL() << "a short file was continued";
  } catch (const EQuillonError& error) {
    EXPECT_NE(std::string(error.what()).find("/a.frag.partial"), std::string::npos);
  }
}

// A host that asks for a stop once the loop shows stopAt (never with -1).
class TStoppingHost : public IScanHost {
 public:
  TStoppingHost(std::int64_t size, std::int64_t stopAt) : size_(size), stopAt_(stopAt) {}
  void ProcessPendingMessages() override {}
  void ShowProgress(std::int64_t position) override { position_ = position; }
  bool StopRequested() override { return stopAt_ >= 0 && position_ >= stopAt_; }
  std::int64_t SourceSize() override { return size_; }
  void ShowFragmentCount(std::int64_t) override {}
  void FragmentAdded(std::int64_t number, std::int64_t, std::span<const std::uint8_t, kFragmentSize>) override {
    numbers.push_back(number);
  }
  std::vector<std::int64_t> numbers;

 private:
  std::int64_t size_;
  std::int64_t stopAt_;
  std::int64_t position_ = 0;
};

// The sample database three times over a patterned image with bad sectors, one of them a
// range across a chunk boundary.
std::vector<std::uint8_t> DiskImage() {
  std::ifstream in(QUILLON_SAMPLES_DIR "/sample-jet4-small.mdb", std::ios::binary);
  const std::vector<std::uint8_t> database{std::istreambuf_iterator<char>(in),
                                           std::istreambuf_iterator<char>()};
  std::vector<std::uint8_t> image(12 * kChunkSize + 1536, 0x5A);
  for (const std::int64_t at : {std::int64_t{4096}, 4 * kChunkSize + 512, 9 * kChunkSize - 8192}) {
    std::copy(database.begin(), database.end(), image.begin() + at);
  }
  return image;
}

// A run stopped at a chunk boundary, then continued from its state by a new run (as
// "scan --resume" does), ends with the fragments, numbers and unreadable ranges of one
// uninterrupted run; also when the first run is cut off after a later restart point.
TEST(ResumedChunkLoop, EndsAsOneUninterruptedRun) {
  const std::vector<std::uint8_t> image = DiskImage();
  const std::vector<TByteRange> bad = {{1024, 512}, {3 * kChunkSize - 512, 1024},
                                       {9 * kChunkSize - 4096, 4096}};
  const auto size = static_cast<std::int64_t>(image.size());
  const auto scan = [&](TMemoryFileSystem& fs, TScanRestartKeeper* keeper,
                        const std::string& out, TStoppingHost& host) {
    fs.Put("/disk", image)->BadRanges = bad;
    const std::unique_ptr<TStream> source = fs.Open("/disk", TOpenMode::ReadShared);
    TFragmentFileWriter writer(fs, 2);
    if (keeper != nullptr) {
      keeper->StartFile(writer, out, "/disk", *source, size, size);
    } else {
      writer.Create(out);
      writer.WriteHeader("/disk", size);
    }
    const TChunkLoopResult loop = RunChunkLoop(host, *source, size, writer, keeper);
    writer.Finish();
    writer.Close();
    return loop;
  };

  TMemoryFileSystem whole;
  TStoppingHost wholeHost(size, -1);
  const TChunkLoopResult reference = scan(whole, nullptr, "/whole.frag", wholeHost);
  const std::vector<std::uint8_t> expected = InflateStream(whole.Find("/whole.frag")->Data, kHeaderSize).Content;
  ASSERT_EQ(reference.Unreadable.Count(), 3u);

  for (const std::int64_t stopAt : {std::int64_t{0}, 3 * kChunkSize, 5 * kChunkSize, 9 * kChunkSize}) {
    SCOPED_TRACE(stopAt);
    TMemoryFileSystem fs;
    TScanRestartKeeper first(fs, "/out.frag.resume", std::chrono::hours(1));
    TStoppingHost firstHost(size, stopAt);
    const TChunkLoopResult stopped = scan(fs, &first, "/out.frag", firstHost);
    ASSERT_TRUE(stopped.Stopped);
    ASSERT_EQ(first.SavedOffset(), stopAt);

    const std::string text(fs.Find("/out.frag.resume")->Data.begin(), fs.Find("/out.frag.resume")->Data.end());
    const std::optional<TScanState> state = ParseScanState(text, nullptr);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->Restart.SourceOffset, stopAt);
    for (const TByteRange& range : state->Unreadable) EXPECT_LE(range.Offset + range.Length, stopAt);

    TScanRestartKeeper second(fs, "/out.frag.resume", std::chrono::hours(1));
    second.ContinueFrom(*state, "/out.frag", "/out.frag");
    fs.Remove("/out.frag.partial");
    TStoppingHost secondHost(size, -1);
    const TChunkLoopResult resumed = scan(fs, &second, "/again.frag", secondHost);
    EXPECT_FALSE(resumed.Stopped);
    EXPECT_EQ(InflateStream(fs.Find("/again.frag")->Data, kHeaderSize).Content, expected);
    EXPECT_EQ(resumed.Fragments, reference.Fragments);
    EXPECT_EQ(resumed.Unreadable.Ranges(), reference.Unreadable.Ranges());
    // The numbers go on from the earlier run's.
    std::vector<std::int64_t> numbers = firstHost.numbers;
    numbers.resize(static_cast<std::size_t>(state->Restart.Fragments));
    numbers.insert(numbers.end(), secondHost.numbers.begin(), secondHost.numbers.end());
    EXPECT_EQ(numbers, wholeHost.numbers);
  }
}

TScanState SampleState() {
  TScanState state;
  state.SourcePath = std::string("/dev/sdb with \"quotes\"\nand a line break", 38);
  state.SourceSize = 4000000000000;
  state.SourceIdentity = "crc32-4k:01234567:--------:89abcdef";
  state.Restart = {262144 * 1000, 1234, 567890, 0xdeadbeef, 0x12345678};
  state.Unreadable = {{512, 512}, {1048576, 4096}, {262144 * 999, 262144}};
  return state;
}

TEST(ScanStateFile, ReadsBackWhatWasWritten) {
  const TScanState state = SampleState();
  std::string problem;
  const std::optional<TScanState> back = ParseScanState(FormatScanState(state), &problem);
  ASSERT_TRUE(back) << problem;
  EXPECT_EQ(*back, state);
  TScanState none = state;
  none.Unreadable.clear();
  EXPECT_EQ(ParseScanState(FormatScanState(none), nullptr), none);
}

TEST(ScanStateFile, RefusesWhatIsNoSoundState) {
  const std::string text = FormatScanState(SampleState());
  const auto refusal = [](const std::string& candidate) {
    std::string problem;
    const bool read = ParseScanState(candidate, &problem).has_value();
    return read ? std::string("(read)") : problem;
  };
  EXPECT_EQ(refusal(""), "it is not a scan state file");
  EXPECT_EQ(refusal("PK\x03\x04 something else\n"), "it is not a scan state file");
  // Every cut short: at each byte, the end line lost or half there.
  for (std::size_t n = 0; n < text.size(); ++n) {
    EXPECT_NE(refusal(text.substr(0, n)), "(read)") << "cut at " << n;
  }
  // Any one byte changed is caught, by the form or by the checksum.
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::string changed = text;
    changed[at] = static_cast<char>(changed[at] ^ 0x04);
    EXPECT_NE(refusal(changed), "(read)") << "changed at " << at;
  }
  EXPECT_EQ(refusal(text + "unreadable 1 1\n"), "it holds more after its end");

  std::string later = text;
  later.replace(later.find("quillon-scan-state 1"), 20, "quillon-scan-state 2");
  EXPECT_NE(refusal(later).find("version 2"), std::string::npos);
}

TEST(ScanStateFile, RefusesRangesOutOfOrderOrBeyondTheOffsetReached) {
  for (const std::vector<TByteRange>& ranges :
       std::vector<std::vector<TByteRange>>{{{4096, 512}, {512, 512}},
                                            {{512, 1024}, {1024, 512}},
                                            {{512, 0}},
                                            {{262144 * 1000 - 512, 1024}}}) {
    TScanState state = SampleState();
    state.Unreadable = ranges;
    std::string problem;
    EXPECT_FALSE(ParseScanState(FormatScanState(state), &problem));
    EXPECT_NE(problem.find("unreadable ranges"), std::string::npos) << problem;
  }
  TScanState state = SampleState();
  state.Restart.SourceOffset = state.SourceSize + 1;
  state.Unreadable.clear();
  EXPECT_FALSE(ParseScanState(FormatScanState(state), nullptr));
}

TEST(SourceIdentity, TellsSourcesOfOneSizeApartByTheirEnds) {
  TMemoryFileSystem fs;
  std::vector<std::uint8_t> image(3 * 1024 * 1024 + 100, 0x5a);
  fs.Put("/a.img", image);
  image[1024 * 1024 + 5] ^= 1;  // the middle: not looked at
  fs.Put("/b.img", image);
  image[image.size() - 1] ^= 1;
  fs.Put("/c.img", image);
  const auto identity = [&](const std::string& path) {
    const std::unique_ptr<TStream> s = fs.Open(path, TOpenMode::ReadShared);
    return SourceIdentityOf(*s, s->Length());
  };
  EXPECT_EQ(CompareSourceIdentities(identity("/a.img"), identity("/b.img")), TIdentityMatch::Same);
  EXPECT_EQ(CompareSourceIdentities(identity("/a.img"), identity("/c.img")),
            TIdentityMatch::Different);
  fs.Put("/small.img", std::vector<std::uint8_t>(1000, 1));
  EXPECT_EQ(CompareSourceIdentities(identity("/small.img"), identity("/small.img")),
            TIdentityMatch::Same);
  EXPECT_EQ(CompareSourceIdentities(identity("/small.img"), identity("/a.img")),
            TIdentityMatch::Different);
  EXPECT_EQ(CompareSourceIdentities("crc32-4k:00000000", "not an identity"),
            TIdentityMatch::Different);
}

// A failing disk: a sector unreadable in one run and readable in the next spoils only its
// block; a disk whose ends cannot be read at all is said to be unchecked, not the same.
TEST(SourceIdentity, OnAFailingDiskComparesTheBlocksBothRunsCouldRead) {
  TMemoryFileSystem fs;
  const std::vector<std::uint8_t> image(1024 * 1024, 0x33);
  const auto identity = [&](std::vector<TByteRange> bad) {
    auto file = fs.Put("/disk", image);
    file->BadRanges = std::move(bad);
    file->Alignment = 512;
    const std::unique_ptr<TStream> s = fs.Open("/disk", TOpenMode::ReadShared);
    return SourceIdentityOf(*s, s->Length());
  };
  const std::string healthy = identity({});
  const std::string oneBad = identity({{8192 + 512, 512}});
  // One block of 32 has no CRC.
  EXPECT_NE(oneBad.find(":--------"), std::string::npos);
  EXPECT_EQ(oneBad.find(":--------"), oneBad.rfind(":--------"));
  EXPECT_EQ(oneBad.size(), healthy.size());
  EXPECT_EQ(CompareSourceIdentities(healthy, oneBad), TIdentityMatch::Same);
  EXPECT_EQ(CompareSourceIdentities(oneBad, healthy), TIdentityMatch::Same);
  const std::string endsDead = identity({{0, 65536}, {1024 * 1024 - 65536, 65536}});
  EXPECT_EQ(CompareSourceIdentities(healthy, endsDead), TIdentityMatch::Unchecked);
  std::vector<std::uint8_t> other = image;
  other[100] ^= 1;
  fs.Put("/other", other);
  const std::unique_ptr<TStream> s = fs.Open("/other", TOpenMode::ReadShared);
  EXPECT_EQ(CompareSourceIdentities(oneBad, SourceIdentityOf(*s, s->Length())),
            TIdentityMatch::Different);
}

}  // namespace
}  // namespace quillon
