// The chunk loop on its own: step records at the edges of what a read delivered, and
// the gauge's unit.

#include <gtest/gtest.h>

#include <cstring>

#include "core/chunk_loop.h"
#include "support/memory_file_system.h"
#include "support/zlib_helpers.h"

namespace quillon {
namespace {

using testing::TMemoryFileSystem;

class TFixedHost : public IScanHost {
 public:
  explicit TFixedHost(std::int64_t size) : size_(size) {}
  void ProcessPendingMessages() override { ++chunks; }
  void ShowProgress(std::int64_t) override {}
  bool StopRequested() override { return false; }
  std::int64_t SourceSize() override { return size_; }
  void ShowFragmentCount(std::int64_t count) override { fragments = count; }
  int chunks = 0;
  std::int64_t fragments = 0;

 private:
  std::int64_t size_;
};

// A page head at data[at] with rows row-offset entries of 4000 each.
void PutHead(std::vector<std::uint8_t>& data, std::size_t at, std::uint16_t rows) {
  data[at] = 1;
  data[at + 1] = 1;
  data[at + 12] = static_cast<std::uint8_t>(rows);
  data[at + 13] = static_cast<std::uint8_t>(rows >> 8);
}

void PutEntries(std::vector<std::uint8_t>& data, std::size_t from, std::size_t to) {
  for (std::size_t at = from; at + 1 < to; at += 2) {
    data[at] = 0xA0;  // 4000
    data[at + 1] = 0x0F;
  }
}

std::int64_t Scan(TMemoryFileSystem& fs, std::vector<std::uint8_t> data, std::int64_t size = -1) {
  const auto length = static_cast<std::int64_t>(data.size());
  fs.Put("/src", std::move(data));
  auto source = fs.Open("/src", TOpenMode::ReadShared);
  TFragmentFileWriter writer(fs);
  writer.Create("/out");
  writer.WriteHeader("/src", length);
  TFixedHost host(size < 0 ? length : size);
  const auto result = RunChunkLoop(host, *source, length, writer);
  writer.Finish();
  writer.Close();
  return result.Fragments;
}

TEST(ChunkLoop, APageAtAChunksLastStepIsJudgedOnItsOwnBytes) {
  // A page of 255 short rows starting at the last step of a chunk: its row-offset entries
  // 249 to 254 are the next chunk's first 12 bytes. On a disk partitioned at sector 63,
  // one database page in every chunk of 64 starts there.
  const std::size_t last = kChunkSize - kStepSize;
  std::vector<std::uint8_t> data(2 * kChunkSize, 0);
  PutHead(data, last, 255);
  PutEntries(data, last + 14, last + 14 + 2 * 255);
  for (const std::size_t sector : {std::size_t{1}, std::size_t{4096}}) {
    SCOPED_TRACE(sector);  // a raw disk of 4096-byte sectors reads whole sectors only
    TMemoryFileSystem fs;
    fs.Put("/src", data)->Alignment = sector;
    auto source = fs.Open("/src", TOpenMode::ReadShared);
    TFragmentFileWriter writer(fs);
    writer.Create("/out");
    writer.WriteHeader("/src", 0);
    TFixedHost host(2 * kChunkSize);
    const auto result = RunChunkLoop(host, *source, 2 * kChunkSize, writer);
    writer.Finish();
    writer.Close();
    EXPECT_EQ(result.Fragments, 1);
    const std::vector<std::uint8_t> body =
        testing::InflateStream(fs.Find("/out")->Data, kHeaderSize).Content;
    EXPECT_TRUE(body == std::vector<std::uint8_t>(data.begin() + last,
                                                  data.begin() + last + kFragmentSize));
  }

  // The same page where the source ends after the chunk: what lies past the end is zeros,
  // and the page, whose last entries are missing, is no candidate.
  TMemoryFileSystem fs;
  EXPECT_EQ(Scan(fs, std::vector<std::uint8_t>(data.begin(), data.begin() + kChunkSize)), 0);
  // A zero entry in the next chunk still rejects it there.
  data[kChunkSize + 4] = data[kChunkSize + 5] = 0;
  EXPECT_EQ(Scan(fs, data), 0);
}

TEST(ChunkLoop, ShortLastChunkSeesZerosNotStaleBytes) {
  TMemoryFileSystem fs;
  std::vector<std::uint8_t> data(kChunkSize + 600, 0);
  // The first chunk leaves nonzero bytes where the second chunk's record would look.
  PutEntries(data, 600, 1200);
  // The second chunk's step at 512 holds a head whose 100 rows reach past the source end.
  PutHead(data, kChunkSize + 512, 100);
  PutEntries(data, kChunkSize + 526, kChunkSize + 600);
  EXPECT_EQ(Scan(fs, data), 0);
  PutHead(data, kChunkSize + 512, 37);  // rows that all lie in delivered bytes
  EXPECT_EQ(Scan(fs, data), 1);
}

TEST(ChunkLoop, EndsAtTheSourcesEndWhenTheSizeReachesBeyond) {
  TMemoryFileSystem fs;
  std::vector<std::uint8_t> data(3 * kChunkSize, 0);
  fs.Put("/src", data);
  auto source = fs.Open("/src", TOpenMode::ReadShared);
  TFragmentFileWriter writer(fs);
  writer.Create("/out");
  writer.WriteHeader("/src", 0);
  TFixedHost host(100 * kChunkSize);
  const auto result = RunChunkLoop(host, *source, 3 * kChunkSize, writer);
  EXPECT_EQ(host.chunks, 3);
  EXPECT_EQ(result.EndPosition, 3 * kChunkSize);
}

TEST(ChunkLoop, ShortReadsAreReadAgainInPiecesSoNothingIsMissed) {
  TMemoryFileSystem fs;
  std::vector<std::uint8_t> data(2 * kChunkSize, 0);
  PutHead(data, 1024, 1);
  PutEntries(data, 1038, 1040);
  PutHead(data, 8192, 1);  // lies beyond what each read delivers at once
  PutEntries(data, 8206, 8208);
  PutHead(data, kChunkSize + 512, 1);
  PutEntries(data, kChunkSize + 526, kChunkSize + 528);
  fs.Put("/src", data)->ReadLimit = 4096;
  auto source = fs.Open("/src", TOpenMode::ReadShared);
  TFragmentFileWriter writer(fs);
  writer.Create("/out");
  writer.WriteHeader("/src", 0);
  TFixedHost host(2 * kChunkSize);
  const auto result = RunChunkLoop(host, *source, 2 * kChunkSize, writer);
  EXPECT_EQ(result.Fragments, 3);  // 1024, 8192 beyond the first short read, and 256 KiB + 512
  EXPECT_TRUE(result.Unreadable.Empty());
}

TEST(GaugeUnit, KibibytesBelowTwoTebibytesCoarserAbove) {
  EXPECT_EQ(GaugeUnitFor(0), 1024);
  EXPECT_EQ(GaugeUnitFor((std::int64_t{1} << 41) - 1), 1024);
  EXPECT_EQ(GaugeUnitFor(std::int64_t{1} << 41), 2048);
  const std::int64_t huge = std::int64_t{1} << 62;
  EXPECT_LE(huge / GaugeUnitFor(huge), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(GaugeUnitFor(std::numeric_limits<std::int64_t>::max()) > 0, true);
}

}  // namespace
}  // namespace quillon
