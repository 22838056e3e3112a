// The scan on sources that fail: bad sectors, short reads, a disk that reads whole sectors
// only, a disk that goes away or shrinks, and sparse files. The yardstick is always the
// scan of the same bytes with the unreadable places zeroed, read without any fault.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <utility>

#include "core/chunk_loop.h"
#include "support/memory_file_system.h"
#include "support/zlib_helpers.h"

namespace quillon {
namespace {

using testing::InflateStream;
using testing::TMemoryFile;
using testing::TMemoryFileSystem;

class THost : public IScanHost {
 public:
  explicit THost(std::int64_t size) : size_(size) {}
  void ProcessPendingMessages() override { ++chunks; }
  void ShowProgress(std::int64_t position) override { positions.push_back(position); }
  bool StopRequested() override { return false; }
  std::int64_t SourceSize() override { return size_; }
  void ShowFragmentCount(std::int64_t) override {}
  void FragmentAdded(std::int64_t, std::int64_t offset,
                     std::span<const std::uint8_t, kFragmentSize>) override {
    offsets.push_back(offset);
  }
  int chunks = 0;
  std::vector<std::int64_t> positions;
  std::vector<std::int64_t> offsets;

 private:
  std::int64_t size_;
};

struct TScanResult {
  TChunkLoopResult Loop;
  std::vector<std::uint8_t> Fragments;  // inflated, independently of the program's reader
  std::vector<std::int64_t> Offsets;
  std::vector<std::int64_t> Positions;
};

// An image of six chunks and a bit: the sample database twice, once on 4096-byte
// boundaries and once on 512-byte ones, with one page starting in the last step of a chunk.
std::vector<std::uint8_t> Image() {
  std::ifstream in(QUILLON_SAMPLES_DIR "/sample-jet4-small.mdb", std::ios::binary);
  const std::vector<std::uint8_t> database{std::istreambuf_iterator<char>(in),
                                           std::istreambuf_iterator<char>()};
  std::vector<std::uint8_t> image(6 * kChunkSize + 3000, 0x5A);
  std::copy(database.begin(), database.end(), image.begin() + 8192);
  std::copy(database.begin(), database.end(), image.begin() + 3 * kChunkSize - 16 * 4096 + 1536);
  // Page 1 of the database (a data page) again at the last step of the fifth chunk.
  std::copy(database.begin() + 4096, database.begin() + 8192, image.begin() + 5 * kChunkSize - 512);
  return image;
}

TScanResult Scan(const std::vector<std::uint8_t>& data, const TMemoryFile& faults = {},
                 std::int64_t lengthKnown = 0, int* holeQuestions = nullptr) {
  TMemoryFileSystem fs;
  auto file = fs.Put("/src", data);
  file->BadRanges = faults.BadRanges;
  file->PartialBeforeBad = faults.PartialBeforeBad;
  file->Alignment = faults.Alignment;
  file->ReadLimit = faults.ReadLimit;
  file->GoneAfterReads = faults.GoneAfterReads;
  file->ShrinkAfterReads = faults.ShrinkAfterReads;
  file->ShrinkTo = faults.ShrinkTo;
  file->DataExtents = faults.DataExtents;
  auto source = fs.Open("/src", TOpenMode::ReadShared);
  TFragmentFileWriter writer(fs);
  writer.Create("/out");
  const auto length = static_cast<std::int64_t>(data.size());
  writer.WriteHeader("/src", length);
  THost host(length);
  TScanResult result;
  result.Loop = RunChunkLoop(host, *source, lengthKnown < 0 ? -1 : length, writer);
  writer.Finish();
  writer.Close();
  result.Fragments = InflateStream(fs.Find("/out")->Data, kHeaderSize).Content;
  result.Offsets = host.offsets;
  result.Positions = host.positions;
  if (holeQuestions != nullptr) *holeQuestions = file->HoleQuestions;
  return result;
}

std::vector<std::uint8_t> Zeroed(std::vector<std::uint8_t> data,
                                  const std::vector<TByteRange>& ranges) {
  for (const TByteRange& r : ranges) {
    std::fill_n(data.begin() + r.Offset, std::min<std::int64_t>(r.Length, data.size() - r.Offset), 0);
  }
  return data;
}

TEST(FailingSource, BadSectorsCostOnlyThemselves) {
  const std::vector<std::uint8_t> image = Image();
  const std::int64_t last = static_cast<std::int64_t>(image.size()) / 512 * 512;
  struct TCase {
    const char* Name;
    std::vector<TByteRange> Bad;
  };
  const std::vector<TCase> cases = {
      {"a chunk's first sector", {{kChunkSize, 512}}},
      {"inside a page header", {{8192 + 4096, 512}}},
      {"in the middle of a page, a chunk's middle", {{8192 + 5 * 4096 + 1024, 512}}},
      {"two sectors next to each other", {{8192 + 9 * 4096, 1024}}},
      {"the source's last sector, short", {{last, static_cast<std::int64_t>(image.size()) - last}}},
      {"every sector of a whole chunk", {{2 * kChunkSize, kChunkSize}}},
      // A page in the last step of a chunk takes 3584 bytes from the next chunk, where its
      // fragment read fails part-way.
      {"a fragment read beyond its chunk", {{5 * kChunkSize + 1024, 512}}},
  };
  for (const bool partial : {false, true}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (partial ? ", reads deliver what precedes" : ""));
      TMemoryFile faults;
      faults.BadRanges = c.Bad;
      faults.PartialBeforeBad = partial;
      const TScanResult failing = Scan(image, faults);
      const TScanResult expected = Scan(Zeroed(image, c.Bad));
      EXPECT_EQ(failing.Loop.Loss, TSourceLoss::None);
      EXPECT_EQ(failing.Loop.EndPosition, static_cast<std::int64_t>(image.size()));
      EXPECT_EQ(failing.Offsets, expected.Offsets);
      EXPECT_TRUE(failing.Fragments == expected.Fragments);
      // Every unreadable byte once, nothing else.
      std::int64_t bad = 0;
      for (const TByteRange& r : c.Bad) bad += r.Length;
      EXPECT_EQ(failing.Loop.Unreadable.Bytes(), bad);
      EXPECT_EQ(failing.Loop.Unreadable.Ranges(), c.Bad);
    }
  }
}

TEST(FailingSource, AKnownBadSectorIsNotReadAgain) {
  // A bad sector inside a page that starts in the last step of a chunk: the fragment read
  // meets it first, the next chunk's read must not wait for it again.
  const std::vector<std::uint8_t> image = Image();
  TMemoryFileSystem fs;
  auto file = fs.Put("/src", image);
  const TByteRange bad{5 * kChunkSize + 1024, 512};
  file->BadRanges = {bad};
  auto source = fs.Open("/src", TOpenMode::ReadShared);
  TFragmentFileWriter writer(fs);
  writer.Create("/out");
  writer.WriteHeader("/src", 0);
  THost host(static_cast<std::int64_t>(image.size()));
  RunChunkLoop(host, *source, static_cast<std::int64_t>(image.size()), writer);
  int touching = 0;
  for (const TByteRange& read : file->Reads) {
    if (read.Offset < bad.Offset + bad.Length && read.Offset + read.Length > bad.Offset) ++touching;
  }
  // The fragment's read, its 4096-byte piece, the sector itself; then never again.
  EXPECT_EQ(touching, 3);
}

TEST(FailingSource, ShortReadsAreReadAgainAndLoseNothing) {
  const std::vector<std::uint8_t> image = Image();
  TMemoryFile faults;
  faults.ReadLimit = 3000;  // fewer bytes than asked, without an error
  const TScanResult shortReads = Scan(image, faults);
  const TScanResult expected = Scan(image);
  EXPECT_TRUE(shortReads.Fragments == expected.Fragments);
  EXPECT_TRUE(shortReads.Loop.Unreadable.Empty());
}

TEST(FailingSource, ADiskOfLargeSectorsGivesTheSameFileAsOneOfSmallSectors) {
  // Raw devices with 4096-byte sectors refuse reads that do not start and end on a sector
  // boundary; pages lie on 512-byte steps all the same.
  const std::vector<std::uint8_t> image = Image();
  for (const std::size_t sector : {std::size_t{512}, std::size_t{4096}}) {
    SCOPED_TRACE(sector);
    std::vector<std::uint8_t> device = image;
    device.resize(image.size() / sector * sector + sector, 0);  // whole sectors, as a disk has
    TMemoryFile faults;
    faults.Alignment = sector;
    const TScanResult aligned = Scan(device, faults, -1);
    const TScanResult expected = Scan(device);
    EXPECT_TRUE(aligned.Loop.Unreadable.Empty());
    EXPECT_EQ(aligned.Offsets, expected.Offsets);
    EXPECT_TRUE(aligned.Fragments == expected.Fragments);

    // A bad sector of that disk is the whole sector, read at its boundary.
    faults.BadRanges = {{8192 + 6 * 4096, static_cast<std::int64_t>(sector)}};
    const TScanResult failing = Scan(device, faults, -1);
    const TScanResult zeroed = Scan(Zeroed(device, faults.BadRanges));
    EXPECT_EQ(failing.Loop.Unreadable.Ranges(), faults.BadRanges);
    EXPECT_TRUE(failing.Fragments == zeroed.Fragments);
  }
}

TEST(FailingSource, ARemovedDiskEndsTheRunWithWhatWasFound) {
  const std::vector<std::uint8_t> image = Image();
  TMemoryFile faults;
  faults.GoneAfterReads = 3;  // three chunks, then the device is gone
  const TScanResult gone = Scan(image, faults);
  EXPECT_EQ(gone.Loop.Loss, TSourceLoss::Gone);
  EXPECT_EQ(gone.Loop.EndPosition, 3 * kChunkSize);
  const TScanResult expected = Scan(std::vector<std::uint8_t>(image.begin(), image.begin() + 3 * kChunkSize));
  // The fragments of the three chunks read, the last one's tail aside.
  ASSERT_GE(expected.Fragments.size(), gone.Fragments.size());
  EXPECT_TRUE(std::equal(gone.Fragments.begin(), gone.Fragments.end(), expected.Fragments.begin()));
  EXPECT_GT(gone.Fragments.size(), 0u);
}

TEST(FailingSource, ADeadRegionIsScannedThroughButADeadDiskEndsTheRunCheaply) {
  const std::vector<std::uint8_t> image = Image();
  // Two whole chunks unreadable, the rest fine: the run goes on after them.
  TMemoryFile region;
  region.BadRanges = {{0, 2 * kChunkSize}};
  const TScanResult through = Scan(image, region);
  EXPECT_EQ(through.Loop.Loss, TSourceLoss::None);
  EXPECT_EQ(through.Loop.Unreadable.Bytes(), 2 * kChunkSize);
  EXPECT_TRUE(through.Fragments == Scan(Zeroed(image, region.BadRanges)).Fragments);

  // Nothing readable at all: after the first chunk and three probes the run ends, not after
  // hundreds of failed reads per chunk for the whole disk.
  TMemoryFileSystem fs;
  auto file = fs.Put("/src", image);
  file->BadRanges = {{0, static_cast<std::int64_t>(image.size())}};
  auto source = fs.Open("/src", TOpenMode::ReadShared);
  TFragmentFileWriter writer(fs);
  writer.Create("/out");
  writer.WriteHeader("/src", 0);
  THost host(static_cast<std::int64_t>(image.size()));
  const TChunkLoopResult dead =
      RunChunkLoop(host, *source, static_cast<std::int64_t>(image.size()), writer);
  EXPECT_EQ(dead.Loss, TSourceLoss::Gone);
  EXPECT_EQ(dead.EndPosition, kChunkSize);
  EXPECT_EQ(host.chunks, 1);
  EXPECT_LE(file->Reads.size(), 1u + 64 + 512 + 3);
}

TEST(FailingSource, ASourceThatShrinksEndsTheRunWhereItNowEnds) {
  const std::vector<std::uint8_t> image = Image();
  TMemoryFile faults;
  faults.ShrinkAfterReads = 2;
  faults.ShrinkTo = 2 * kChunkSize + 1000;
  const TScanResult shrunk = Scan(image, faults);
  EXPECT_EQ(shrunk.Loop.Loss, TSourceLoss::Shrunk);
  EXPECT_EQ(shrunk.Loop.LengthNow, 2 * kChunkSize + 1000);
  EXPECT_EQ(shrunk.Loop.EndPosition, 2 * kChunkSize + 1000);
  EXPECT_TRUE(shrunk.Loop.Unreadable.Empty());
}

TEST(FailingSource, HolesAreSkippedWithTheSameFileAsAFullRead) {
  std::vector<std::uint8_t> image = Image();
  image.resize(40 * kChunkSize + 3000, 0);
  // Zeros except where the copies of the database lie, as a sparse image holds them; the
  // last data is a page whose 4096 bytes straddle the edge of the hole after it.
  std::copy_n(image.begin() + 8192 + 4096, 4096, image.begin() + 30 * kChunkSize - 1024);
  const std::vector<TByteRange> data = {{0, 2 * kChunkSize}, {3 * kChunkSize - 16 * 4096, 40 * 4096},
                                        {5 * kChunkSize - 512, 4096},
                                        {30 * kChunkSize - 4096, 4096}};
  std::vector<std::uint8_t> sparse(image.size(), 0);
  for (const TByteRange& r : data) {
    std::copy_n(image.begin() + r.Offset, r.Length, sparse.begin() + r.Offset);
  }
  TMemoryFile faults;
  faults.DataExtents = data;
  const TScanResult skipping = Scan(sparse, faults);
  const TScanResult full = Scan(sparse);
  EXPECT_EQ(skipping.Offsets, full.Offsets);
  EXPECT_TRUE(skipping.Fragments == full.Fragments);
  EXPECT_GT(skipping.Offsets.size(), 0u);
  // The gauge still moves across the hole: fewer stops, the same end.
  EXPECT_LT(skipping.Positions.size(), full.Positions.size());
  EXPECT_EQ(skipping.Loop.EndPosition, full.Loop.EndPosition);
}

// A source with no holes: asked where its data lies once for the whole of it, however many
// chunks it has.
TEST(FailingSource, DataWithoutHolesIsAskedAboutOnce) {
  const std::vector<std::uint8_t> image = Image();
  TMemoryFile faults;
  faults.DataExtents = {{0, static_cast<std::int64_t>(image.size())}};
  int questions = 0;
  const TScanResult asked = Scan(image, faults, 0, &questions);
  EXPECT_TRUE(asked.Fragments == Scan(image).Fragments);
  EXPECT_EQ(questions, 2);
}

// A source whose reads take time on a clock of the test's own, and whose reads may each
// deliver nothing without an error on their first attempt.
// The test's clock: advanced by the reads, which may come from the reader's read-ahead
// thread, and read by the window on the scan's thread.
class TTestClock {
 public:
  void Advance(TScanClock::duration by) { ticks_ += by.count(); }
  TScanClock::time_point Now() const { return TScanClock::time_point(TScanClock::duration(ticks_)); }

 private:
  std::atomic<TScanClock::rep> ticks_{0};
};

class TSlowStream : public TStream {
 public:
  TSlowStream(TStream& inner, TTestClock& clock, TScanClock::duration readTime)
      : inner_(inner), clock_(clock), readTime_(readTime) {}
  std::size_t Read(void* buffer, std::size_t n) override {
    clock_.Advance(readTime_);
    ++reads;
    const bool hiccup = hiccupAt >= 0 && position_ <= hiccupAt &&
                        hiccupAt < position_ + static_cast<std::int64_t>(n) &&
                        attempted_.insert({position_, n}).second;
    hiccup_ = hiccup;
    if (hiccup) return 0;
    const std::size_t got = inner_.Read(buffer, n);
    position_ += static_cast<std::int64_t>(got);
    return got;
  }
  TReadFailure LastReadFailure() const override {
    return hiccup_ ? TReadFailure::None : inner_.LastReadFailure();
  }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    position_ = inner_.Seek(offset, origin);
    return position_;
  }

  std::atomic<int> reads = 0;
  std::int64_t hiccupAt = -1;  // every read that covers this offset delivers nothing once

 private:
  TStream& inner_;
  TTestClock& clock_;
  TScanClock::duration readTime_;
  std::int64_t position_ = 0;
  std::set<std::pair<std::int64_t, std::size_t>> attempted_;
  bool hiccup_ = false;
};

// A window on the test's clock: records when its messages are processed, and presses stop
// once the scan has run for a while.
class TPacedHost : public THost {
 public:
  TPacedHost(std::int64_t size, TTestClock& clock, TScanClock::duration stopAfter)
      : THost(size), clock_(clock), stopAt_(clock.Now() + stopAfter) {}
  void ProcessPendingMessages() override {
    THost::ProcessPendingMessages();
    pumps.push_back(clock_.Now());
    if (clock_.Now() >= stopAt_ && !stop) {
      stop = true;
      readsAtStop = stream->reads;
    }
  }
  bool StopRequested() override { return stop; }
  TScanClock::time_point Now() override { return clock_.Now(); }

  std::vector<TScanClock::time_point> pumps;
  bool stop = false;
  int readsAtStop = -1;
  TSlowStream* stream = nullptr;

 private:
  TTestClock& clock_;
  TScanClock::time_point stopAt_;
};

TEST(FailingSource, AFailingChunkCanBeStoppedAndTheWindowKeepsAnswering) {
  // The third chunk is dead; every read takes 50 ms, as failed reads of a dying disk do
  // (and often far longer): its 577 reads again would take half a minute.
  const std::vector<std::uint8_t> image = Image();
  const std::vector<TByteRange> bad = {{2 * kChunkSize, kChunkSize}};
  TMemoryFileSystem fs;
  fs.Put("/src", image)->BadRanges = bad;
  auto memory = fs.Open("/src", TOpenMode::ReadShared);
  TTestClock clock;
  TSlowStream source(*memory, clock, std::chrono::milliseconds(50));
  TFragmentFileWriter writer(fs);
  writer.Create("/out");
  const auto length = static_cast<std::int64_t>(image.size());
  writer.WriteHeader("/src", length);
  TPacedHost host(length, clock, std::chrono::seconds(3));
  host.stream = &source;
  const TChunkLoopResult loop = RunChunkLoop(host, source, length, writer);
  writer.Finish();
  writer.Close();

  // Messages at least four times a second while the chunk is read again, once per chunk
  // before it (after the chunk's read, and maybe the next ones', read ahead meanwhile: on
  // this clock every read counts, also those of the read-ahead thread).
  EXPECT_GE(host.pumps[1] - host.pumps[0], std::chrono::milliseconds(50));
  EXPECT_LE(host.pumps[1] - host.pumps[0],
            std::chrono::milliseconds(50) * static_cast<int>(1 + kReadAheadDepth));
  for (std::size_t k = 1; k < host.pumps.size(); ++k) {
    EXPECT_LE(host.pumps[k] - host.pumps[k - 1], kPumpInterval + std::chrono::milliseconds(50));
  }
  // The stop ends the scan inside the chunk, before another read.
  ASSERT_TRUE(host.stop);
  EXPECT_EQ(source.reads, host.readsAtStop);
  EXPECT_TRUE(loop.Stopped);
  EXPECT_EQ(loop.Loss, TSourceLoss::None);
  EXPECT_GT(loop.EndPosition, 2 * kChunkSize);
  EXPECT_LT(loop.EndPosition, 3 * kChunkSize);
  // What was read before the stop, as a scan of those bytes finds it; the unreadable
  // sectors are those tried before the stop, each once.
  EXPECT_EQ(loop.Unreadable.Ranges(),
            (std::vector<TByteRange>{{2 * kChunkSize, loop.EndPosition - 2 * kChunkSize}}));
  const TScanResult expected = Scan(Zeroed(image, bad));
  const std::vector<std::uint8_t> body = InflateStream(fs.Find("/out")->Data, kHeaderSize).Content;
  ASSERT_LE(body.size(), expected.Fragments.size());
  EXPECT_TRUE(std::equal(body.begin(), body.end(), expected.Fragments.begin()));
  ASSERT_LE(host.offsets.size(), expected.Offsets.size());
  EXPECT_TRUE(std::equal(host.offsets.begin(), host.offsets.end(), expected.Offsets.begin()));
}

TEST(FailingSource, HealthyChunksProcessMessagesOncePerChunkHoweverSlow) {
  const std::vector<std::uint8_t> image = Image();
  TMemoryFileSystem fs;
  fs.Put("/src", image);
  auto memory = fs.Open("/src", TOpenMode::ReadShared);
  TTestClock clock;
  TSlowStream source(*memory, clock, std::chrono::seconds(2));
  TFragmentFileWriter writer(fs);
  writer.Create("/out");
  const auto length = static_cast<std::int64_t>(image.size());
  writer.WriteHeader("/src", length);
  TPacedHost host(length, clock, std::chrono::hours(1));
  host.stream = &source;
  RunChunkLoop(host, source, length, writer);
  EXPECT_EQ(host.chunks, 7);
}

TEST(FailingSource, ASectorThatDeliversNothingWithoutAnErrorIsAskedOnceMore) {
  // Inside a page header: each read that covers it delivers nothing on its first attempt,
  // without an error, as an interrupted read of a network or FUSE source may.
  const std::vector<std::uint8_t> image = Image();
  TMemoryFileSystem fs;
  fs.Put("/src", image);
  auto memory = fs.Open("/src", TOpenMode::ReadShared);
  TTestClock clock;
  TSlowStream source(*memory, clock, {});
  source.hiccupAt = 8192 + 4096 + 100;
  TFragmentFileWriter writer(fs);
  writer.Create("/out");
  const auto length = static_cast<std::int64_t>(image.size());
  writer.WriteHeader("/src", length);
  THost host(length);
  const TChunkLoopResult loop = RunChunkLoop(host, source, length, writer);
  writer.Finish();
  writer.Close();
  EXPECT_TRUE(loop.Unreadable.Empty());
  EXPECT_TRUE(InflateStream(fs.Find("/out")->Data, kHeaderSize).Content == Scan(image).Fragments);
}

// Records how far the reads have reached; read from the scan's thread while the reader's
// read-ahead thread reads.
class TWatchedStream : public TStream {
 public:
  explicit TWatchedStream(TStream& inner) : inner_(inner) {}
  std::size_t Read(void* buffer, std::size_t n) override {
    const std::size_t got = inner_.Read(buffer, n);
    reachedEnd = std::max<std::int64_t>(reachedEnd, position_ + static_cast<std::int64_t>(got));
    position_ += static_cast<std::int64_t>(got);
    return got;
  }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    return position_ = inner_.Seek(offset, origin);
  }
  std::atomic<std::int64_t> reachedEnd = 0;

 private:
  TStream& inner_;
  std::int64_t position_ = 0;
};

// The next chunk is read while the current one is tested: when the first chunk's pages are
// added, the second chunk arrives without a further read from the scan's thread. The
// fragments are those of the plain scan.
TEST(ReadAhead, TheNextChunkIsReadWhileThisOneIsTested) {
  const std::vector<std::uint8_t> image = Image();
  TMemoryFileSystem fs;
  fs.Put("/src", image);
  auto memory = fs.Open("/src", TOpenMode::ReadShared);
  TWatchedStream source(*memory);
  class TWaitingHost : public THost {
   public:
    TWaitingHost(std::int64_t size, TWatchedStream& source) : THost(size), source_(source) {}
    void FragmentAdded(std::int64_t number, std::int64_t offset,
                       std::span<const std::uint8_t, kFragmentSize> bytes) override {
      THost::FragmentAdded(number, offset, bytes);
      if (offset >= kChunkSize || sawNextChunk) return;
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (source_.reachedEnd < 2 * kChunkSize && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      sawNextChunk = source_.reachedEnd >= 2 * kChunkSize;
    }
    bool sawNextChunk = false;

   private:
    TWatchedStream& source_;
  };
  const auto length = static_cast<std::int64_t>(image.size());
  TWaitingHost host(length, source);
  TFragmentFileWriter writer(fs, 2);
  writer.Create("/out");
  writer.WriteHeader("/src", length);
  RunChunkLoop(host, source, length, writer);
  writer.Finish();
  writer.Close();
  EXPECT_TRUE(host.sawNextChunk);
  const TScanResult expected = Scan(image);
  EXPECT_EQ(host.offsets, expected.Offsets);
  EXPECT_TRUE(InflateStream(fs.Find("/out")->Data, kHeaderSize).Content == expected.Fragments);
}

}  // namespace
}  // namespace quillon
