// Placing pages by what they say, on sources made of the two sample databases cut into
// pieces: every page placed must be its own database's at its own number, and pieces that
// position would give to the wrong database go back to their own.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>

#include "jet/row_layout.h"
#include "jet/row_slots.h"
#include "recover/database_layout.h"
#include "recover/image_page_store.h"
#include "recover/recovery.h"
#include "recover/recovery_report.h"
#include "recover/run_placement.h"
#include "support/memory_file_system.h"

namespace quillon::recover {
namespace {

std::vector<std::uint8_t> ReadSample(const char* name) {
  std::ifstream in(std::string(QUILLON_SAMPLES_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TNoProgress : public IRecoveryProgress {
 public:
  void Progress(const std::string&, std::int64_t, std::int64_t) override {}
};

// The larger sample's pages 0 to 44 (its header, definitions and first tables), the
// smaller sample whole, then the larger one's pages 45 on: position gives those to the
// smaller one, whose header lies nearest before them.
constexpr std::size_t kLargeHead = 45;

std::vector<std::uint8_t> LargeAroundSmall(std::size_t& smallPages, std::size_t& largePages) {
  const std::vector<std::uint8_t> large = ReadSample("sample-jet4.mdb");
  const std::vector<std::uint8_t> small = ReadSample("sample-jet4-small.mdb");
  smallPages = small.size() / kPageSize;
  largePages = large.size() / kPageSize;
  std::vector<std::uint8_t> image(large.begin(), large.begin() + kLargeHead * kPageSize);
  image.insert(image.end(), small.begin(), small.end());
  image.insert(image.end(), large.begin() + kLargeHead * kPageSize, large.end());
  return image;
}

TEST(PlaceRuns, EveryPagePlacedIsItsOwnDatabasesAtItsOwnNumber) {
  std::size_t smallPages = 0, largePages = 0;
  const testing::TImagePageStore store(LargeAroundSmall(smallPages, largePages));
  std::vector<TPageEntry> entries(store.Count());
  for (std::size_t i = 0; i < entries.size(); ++i) entries[i] = store.Entry(i);
  const std::int64_t smallBase = kLargeHead * kPageSize;
  // A judge that tells the samples' tables apart by their rows' column counts only (each
  // table has its own), and reads no long value: whatever it places must be right.
  TPlacementReading reading;
  reading.Judge = [&](std::size_t index, const TTableDefinition& definition) {
    std::array<std::uint8_t, kPageSize> page{};
    store.Read(index, page);
    TPageJudgement judgement;
    const std::uint16_t count = jet::StatedRowCount(page);
    for (std::uint16_t row = 0; row < count && jet::kRowTableAt + 2u * count <= kPageSize; ++row) {
      const jet::TRowSlot slot = jet::RowSlotAt(page, count, row);
      if (!slot.Valid || (slot.Flags & jet::kRowFlagsMask) != 0) continue;
      const auto columns = jet::StatedColumnCount(
          std::span<const std::uint8_t>(page).subspan(slot.Start, slot.End - slot.Start));
      judgement.Fits = columns == definition.HighestColumnCount;
      if (!*judgement.Fits) break;
    }
    return judgement;
  };
  const std::vector<TDatabasePages> placed =
      PlaceRuns(store, entries, {0, smallBase}, reading);
  ASSERT_EQ(placed.size(), 2u);
  EXPECT_EQ(placed[0].Base, 0);
  EXPECT_EQ(placed[1].Base, smallBase);
  std::size_t largeMoved = 0;
  for (const auto& [number, index] : placed[0].Pages) {
    const std::int64_t offset = entries[index].SourceOffset;
    // Its own pages: before the smaller sample, or after it at their distance.
    const std::int64_t own =
        offset < smallBase ? offset / kPageSize
                           : offset / kPageSize - static_cast<std::int64_t>(smallPages);
    EXPECT_FALSE(offset >= smallBase && offset < smallBase + static_cast<std::int64_t>(
                                                                 smallPages * kPageSize))
        << "a page of the smaller sample in the larger one's, at " << number;
    EXPECT_EQ(number, own) << "offset " << offset;
    largeMoved += offset >= smallBase ? 1 : 0;
  }
  for (const auto& [number, index] : placed[1].Pages) {
    const std::int64_t offset = entries[index].SourceOffset;
    ASSERT_GE(offset, smallBase);
    ASSERT_LT(offset, smallBase + static_cast<std::int64_t>(smallPages * kPageSize))
        << "a page of the larger sample in the smaller one's, at " << number;
    EXPECT_EQ(number, (offset - smallBase) / kPageSize);
  }
  // Its home is its first pages, all of them: nothing after them says otherwise.
  EXPECT_GE(placed[0].Pages.size() - largeMoved, 30u);
}

TEST(PlaceRuns, APieceAfterAnotherDatabasesHeaderIsReadAsItsOwnDatabases) {
  std::size_t smallPages = 0, largePages = 0;
  const testing::TImagePageStore store(LargeAroundSmall(smallPages, largePages));
  quillon::testing::TMemoryFileSystem files;
  TRecoveryOptions options;
  options.OutputDir = "out";
  options.WriteCsv = false;
  TNoProgress progress;
  const TRecoveryReport report = RecoverDatabases(store, files, options, progress);
  ASSERT_GE(report.Databases.size(), 2u);
  // The larger sample's Authors lie after the smaller one's header: read by position they
  // were lost; placed by their definition and usage map, every row comes back.
  const TDatabaseReport& large = report.Databases[0];
  EXPECT_EQ(large.BaseOffset, 0);
  const auto authors = std::find_if(large.Tables.begin(), large.Tables.end(),
                                    [](const TTableReport& table) { return table.Name == "Authors"; });
  ASSERT_NE(authors, large.Tables.end());
  EXPECT_TRUE(authors->Typed);
  EXPECT_EQ(authors->Rows, 767);
  EXPECT_EQ(authors->ValuesNotFound, 0);
  const TDatabaseReport& small = report.Databases[1];
  EXPECT_EQ(small.BaseOffset, static_cast<std::int64_t>(kLargeHead * kPageSize));
  for (const TTableReport& table : small.Tables)
    EXPECT_TRUE(table.Name == "Contacts" || table.Name == "Memos") << table.Name;
}

}  // namespace
}  // namespace quillon::recover
