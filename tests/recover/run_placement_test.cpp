// Placing pages by what they say, on sources made of the two sample databases cut into
// pieces: every page placed must be its own database's at its own number, and pieces that
// position would give to the wrong database go back to their own.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string>
#include <unordered_set>

#include "jet/catalog.h"
#include "jet/row_layout.h"
#include "jet/row_slots.h"
#include "recover/built_pages.h"
#include "recover/catalog_reading.h"
#include "recover/database_layout.h"
#include "recover/definition_numbers.h"
#include "recover/image_page_store.h"
#include "recover/recovery.h"
#include "recover/recovery_report.h"
#include "recover/page_renumbering.h"
#include "recover/page_slots.h"
#include "recover/row_fit.h"
#include "recover/run_placement.h"
#include "recover/sample_sources.h"
#include "recover/table_plan.h"

namespace quillon::recover {
namespace {

// The larger sample's pages 0 to 44 (its header, definitions and first tables), the
// smaller sample whole, then the larger one's pages 45 on: position gives those to the
// smaller one, whose header lies nearest before them.
constexpr std::size_t kLargeHead = 45;

std::vector<std::uint8_t> LargeAroundSmall(std::size_t& smallPages, std::size_t& largePages) {
  const std::vector<std::uint8_t> large = testing::ReadSample("sample-jet4.mdb");
  const std::vector<std::uint8_t> small = testing::ReadSample("sample-jet4-small.mdb");
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
  const std::vector<TPageEntry> entries = testing::EntriesOf(store);
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
  const TRecoveryReport report = testing::RecoverInMemory(store);
  ASSERT_GE(report.Databases.size(), 2u);
  // The larger sample's Authors lie after the smaller one's header: read by position they
  // were lost; placed by their definition and usage map, every row comes back.
  const TDatabaseReport& large = report.Databases[0];
  EXPECT_EQ(large.BaseOffset, 0);
  const TTableReport* authors = testing::TableNamed(large, "Authors");
  ASSERT_NE(authors, nullptr);
  EXPECT_TRUE(authors->Typed);
  EXPECT_EQ(authors->Rows, 767);
  EXPECT_EQ(authors->ValuesNotFound, 0);
  const TDatabaseReport& small = report.Databases[1];
  EXPECT_EQ(small.BaseOffset, static_cast<std::int64_t>(kLargeHead * kPageSize));
  for (const TTableReport& table : small.Tables)
    EXPECT_TRUE(table.Name == "Contacts" || table.Name == "Memos") << table.Name;
}

TEST(MovePlacedPages, EvidenceOverridesPositionAndWhatItDisplacesKeepsNoNumber) {
  // Two bases, A at 0 and B at 100 pages; pages at 0 to 9 and 100 to 109 on the grid.
  std::vector<TPageEntry> entries;
  for (const std::int64_t page : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 100, 101, 102, 103, 104, 105,
                                  106, 107, 108, 109})
    entries.push_back({page * static_cast<std::int64_t>(kPageSize), TPageKind::Data, 24});
  const std::int64_t baseB = 100 * static_cast<std::int64_t>(kPageSize);
  std::vector<TDatabasePages> databases = TellDatabasesApart(entries, {0, baseB});
  ASSERT_EQ(databases.size(), 2u);
  EXPECT_EQ(databases[1].Pages.at(5), 15u);  // page 105 is B's number 5 by position
  // Evidence: B's pages 104 and 105 are A's pages 20 and 21, and A's page 3 is B's 5.
  TDatabasePages a, b;
  a.Base = 0;
  a.Pages = {{20, 14}, {21, 15}, {0, 0}};  // page 0 where position put it already
  b.Base = baseB;
  b.Pages = {{5, 3}};
  MovePlacedPages(databases, {a, b}, entries);
  EXPECT_EQ(databases[0].Pages.at(20), 14u);
  EXPECT_EQ(databases[0].Pages.at(21), 15u);
  EXPECT_EQ(databases[0].Certain, (std::set<std::uint32_t>{20, 21}));
  EXPECT_FALSE(databases[0].Pages.contains(3));  // moved to B
  EXPECT_EQ(databases[1].Pages.at(5), 3u);
  EXPECT_EQ(databases[1].Certain, (std::set<std::uint32_t>{5}));
  // B's page 105 moved away; 104 too; page 3 displaced nothing at B's 5 (105 had gone).
  EXPECT_FALSE(databases[1].Pages.contains(4));
  std::size_t pagesInB = 0, unnumberedInB = 0;
  for (const auto& [number, index] : databases[1].Pages) {
    ++pagesInB;
    unnumberedInB += number >= kUnnumberedPage ? 1 : 0;
  }
  EXPECT_EQ(pagesInB, 9u);
  EXPECT_EQ(unnumberedInB, 0u);
  // A page that lay at a number evidence gives another stays, unnumbered.
  TDatabasePages again;
  again.Base = baseB;
  again.Pages = {{6, 2}};  // A's page 2 is B's 6, where page 106 lies by position
  MovePlacedPages(databases, {again}, entries);
  EXPECT_EQ(databases[1].Pages.at(6), 2u);
  bool displacedKept = false;
  for (const auto& [number, index] : databases[1].Pages)
    displacedKept |= index == 16 && number >= kUnnumberedPage;
  EXPECT_TRUE(displacedKept);
}

// A database as position numbered it: pages at numbers 0 to 9 and a later piece of the
// file at 40 to 43 whose definition is really page 20 (its table's data page, owner 20,
// lies beside it), with `extra` (number, entry) pages added.
struct TPieceOutOfPlace {
  std::vector<TPageEntry> Entries;
  TDatabasePages Database;
  std::size_t Definition = 0;  // store index of the definition position numbered 40
};

TPieceOutOfPlace DefinitionAtFortyThatIsTwenty(
    const std::vector<std::pair<std::uint32_t, TPageEntry>>& extra = {}) {
  TPieceOutOfPlace source;
  auto add = [&](std::uint32_t number, TPageEntry entry) {
    entry.SourceOffset = static_cast<std::int64_t>(number) * kPageSize;
    source.Database.Pages.emplace(number, source.Entries.size());
    source.Entries.push_back(entry);
  };
  add(0, {0, TPageKind::Header, 0});
  for (std::uint32_t number = 2; number <= 5; ++number) add(number, {0, TPageKind::Definition, 0});
  add(6, {0, TPageKind::Data, 2});  // the catalog
  add(7, {0, TPageKind::Definition, 0});  // table 7's definition, its pages at 8 and 9
  add(8, {0, TPageKind::Data, 7});
  add(9, {0, TPageKind::Data, 7});
  source.Definition = source.Entries.size();
  add(40, {0, TPageKind::Definition, 0});
  add(41, {0, TPageKind::Data, 20});
  for (const auto& [number, entry] : extra) add(number, entry);
  return source;
}

TEST(DefinitionNumberOverruled, OnlyWhereItsTablesPagesNameEvidencesNumberAndNothingNamesPositions) {
  // Rows fit a definition by table: table 20's rows fit the definition at 40 only, table
  // 7's the one at 7 only, unless `twins` makes them all one shape.
  bool twins = false;
  auto fitsFor = [&](const TPieceOutOfPlace& source) -> TExactFit {
    return [&](std::size_t data, std::size_t definition) -> std::optional<bool> {
      if (twins) return true;
      const std::uint32_t owner = source.Entries[data].Owner;
      return owner == 20 ? definition == source.Definition
                         : definition == source.Database.Pages.at(7);
    };
  };
  const std::unordered_map<std::size_t, std::int64_t> nowhere;
  {
    const TPieceOutOfPlace source = DefinitionAtFortyThatIsTwenty();
    EXPECT_TRUE(DefinitionNumberOverruled(source.Entries, source.Database, source.Definition,
                                          40, 20, fitsFor(source), nowhere));
    // Evidence naming a number whose pages are no table's, or are another table's.
    EXPECT_FALSE(DefinitionNumberOverruled(source.Entries, source.Database, source.Definition,
                                           40, 21, fitsFor(source), nowhere));
    EXPECT_FALSE(DefinitionNumberOverruled(source.Entries, source.Database, source.Definition,
                                           40, 7, fitsFor(source), nowhere));
    // A data page is never renumbered so, nor a system definition.
    EXPECT_FALSE(DefinitionNumberOverruled(source.Entries, source.Database,
                                           source.Database.Pages.at(41), 41, 21,
                                           fitsFor(source), nowhere));
    EXPECT_FALSE(DefinitionNumberOverruled(source.Entries, source.Database,
                                           source.Database.Pages.at(2), 2, 20, fitsFor(source),
                                           nowhere));
    // Of one shape with table 7's definition: the rows cannot tell which is theirs.
    twins = true;
    EXPECT_FALSE(DefinitionNumberOverruled(source.Entries, source.Database, source.Definition,
                                           40, 20, fitsFor(source), nowhere));
    twins = false;
  }
  {
    // Position's number names a table: a data page carries 40 as its owner value.
    const TPieceOutOfPlace source =
        DefinitionAtFortyThatIsTwenty({{42, {0, TPageKind::Data, 40}}});
    EXPECT_FALSE(DefinitionNumberOverruled(source.Entries, source.Database, source.Definition,
                                           40, 20, fitsFor(source), nowhere));
    // Unless evidence placed that page in another database: then it is that one's.
    const std::unordered_map<std::size_t, std::int64_t> elsewhere{
        {source.Database.Pages.at(42), std::int64_t{1} << 30}};
    EXPECT_TRUE(DefinitionNumberOverruled(source.Entries, source.Database, source.Definition,
                                          40, 20, fitsFor(source), elsewhere));
  }
  {
    // Another definition already lies at 20 by position.
    const TPieceOutOfPlace source =
        DefinitionAtFortyThatIsTwenty({{20, {0, TPageKind::Definition, 0}}});
    EXPECT_FALSE(DefinitionNumberOverruled(source.Entries, source.Database, source.Definition,
                                           40, 20, fitsFor(source), nowhere));
  }
  {
    // Table 20's rows fit none of it: nothing to overrule with.
    const TPieceOutOfPlace source = DefinitionAtFortyThatIsTwenty();
    const TExactFit none = [](std::size_t, std::size_t) { return std::optional<bool>{}; };
    EXPECT_FALSE(DefinitionNumberOverruled(source.Entries, source.Database, source.Definition,
                                           40, 20, none, nowhere));
  }
}

TEST(MovePlacedPages, EvidenceRenumbersAPageInItsOwnDatabaseOnlyWhereThePagesOverrulePosition) {
  const TPieceOutOfPlace source = DefinitionAtFortyThatIsTwenty();
  std::vector<TDatabasePages> databases = {source.Database};
  // Evidence: the definition is page 20, and the data page beside it 21 (a run followed on
  // past a piece's end numbers by position too: no surer than position).
  TDatabasePages evidence;
  evidence.Pages = {{20, source.Definition}, {21, source.Definition + 1}};
  std::vector<std::pair<std::size_t, std::uint32_t>> asked;
  MovePlacedPages(databases, {evidence}, source.Entries,
                  [&](const TDatabasePages&, std::size_t index, std::uint32_t position,
                      std::uint32_t number) {
                    asked.push_back({index, position});
                    return number == 20;
                  });
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_EQ(databases[0].Pages.at(20), source.Definition);
  EXPECT_FALSE(databases[0].Pages.contains(40));
  EXPECT_EQ(databases[0].Pages.at(41), source.Definition + 1);  // position's number kept
  EXPECT_FALSE(databases[0].Pages.contains(21));
  EXPECT_EQ(databases[0].Certain, (std::set<std::uint32_t>{20}));
  EXPECT_EQ(databases[0].Overruled, (std::set<std::uint32_t>{20}));
  // Without the check, position's numbers stand.
  std::vector<TDatabasePages> unchecked = {source.Database};
  MovePlacedPages(unchecked, {evidence}, source.Entries);
  EXPECT_EQ(unchecked[0].Pages.at(40), source.Definition);
  EXPECT_TRUE(unchecked[0].Certain.empty());
}

// The judge recovery uses: live rows of exactly the definition's shape, and where their
// long values point.
TPlacementReading ExactShapeReading(const IPageStore& store) {
  TPlacementReading reading;
  reading.Judge = [&store](std::size_t index, const TTableDefinition& definition) {
    TPage page{};
    store.Read(index, page);
    TPageJudgement judgement;
    for (const TSlot& slot : SlotsOf(page)) {
      if (slot.End == 0 || !IsLive(slot)) continue;
      const auto row = std::span<const std::uint8_t>(page).subspan(slot.Start, slot.End - slot.Start);
      if (!HasExactShape(row, definition)) {
        judgement.Fits = false;
        judgement.Targets.clear();
        return judgement;
      }
      judgement.Fits = true;
      ForEachLongValuePointer(row, definition, [&](const jet::TLongValueHead& head) {
        judgement.Targets.push_back({head.Where.Page, head.Where.Row, head.Length,
                                     head.Kind == jet::TLongValueKind::Chain});
      });
    }
    return judgement;
  };
  return reading;
}

// A source image, its store and the pages placed on it from `base` (or `bases`) by rows
// of exactly their definitions' shape.
struct TPlacedImage {
  TPlacedImage(std::vector<std::uint8_t> image, std::int64_t base)
      : TPlacedImage(std::move(image), std::vector<std::int64_t>{base}) {}
  TPlacedImage(std::vector<std::uint8_t> image, const std::vector<std::int64_t>& bases)
      : Store(std::move(image)),
        Entries(testing::EntriesOf(Store)),
        Placed(PlaceRuns(Store, Entries, bases, ExactShapeReading(Store))) {}
  testing::TImagePageStore Store;
  std::vector<TPageEntry> Entries;
  std::vector<TDatabasePages> Placed;
};

// The numbers of `database`'s pages, each of which must be the number `truth` (offset →
// page number) gives its page.
std::set<std::uint32_t> NumbersOwnByTruth(const TPlacedImage& source,
                                          const TDatabasePages& database,
                                          const std::map<std::int64_t, std::uint32_t>& truth) {
  std::set<std::uint32_t> numbers;
  for (const auto& [number, index] : database.Pages) {
    const auto own = truth.find(source.Entries[index].SourceOffset);
    if (own == truth.end()) {
      ADD_FAILURE() << "a page that is no page of the sample, at " << number;
      continue;
    }
    EXPECT_EQ(number, own->second) << "offset " << own->first;
    numbers.insert(number);
  }
  return numbers;
}

// The larger sample cut into runs of 1 to 24 pages (its first nine pages one run), the runs in a shuffled order with other
// bytes between them and half of them off the 4096-byte grid (each run on a grid of its
// own), as on a whole disk: `truth` gets each kept page's offset → its page number.
std::vector<std::uint8_t> SampleInRuns(std::map<std::int64_t, std::uint32_t>& truth,
                                       std::int64_t& headerOffset) {
  const std::vector<std::uint8_t> database = testing::ReadSample("sample-jet4.mdb");
  const std::size_t pages = database.size() / kPageSize;
  std::uint64_t state = 20261210;
  const auto below = [&](std::uint64_t n) {  // splitmix64
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::size_t>((z ^ (z >> 31)) % n);
  };
  // The header's run holds page 6, where the catalog's usage map is (a database whose
  // system pages lie apart from its header is not placed by these means).
  std::vector<std::pair<std::size_t, std::size_t>> runs{{0, 9}};  // first page, pages
  for (std::size_t page = 9; page < pages;) {
    const std::size_t length = std::min(pages - page, 1 + below(24));
    runs.emplace_back(page, length);
    page += length;
  }
  for (std::size_t i = runs.size() - 1; i > 0; --i) std::swap(runs[i], runs[below(i + 1)]);
  std::vector<std::uint8_t> image(64 * 1024, 0);
  for (const auto& [first, length] : runs) {
    image.resize(image.size() + (1 + below(16)) * 512 + below(2) * 4096 * 3, 0x5A);
    const std::int64_t at = static_cast<std::int64_t>(image.size());
    image.insert(image.end(), database.begin() + first * kPageSize,
                 database.begin() + (first + length) * kPageSize);
    for (std::size_t k = 0; k < length; ++k)
      truth[at + static_cast<std::int64_t>(k * kPageSize)] = static_cast<std::uint32_t>(first + k);
    if (first == 0) headerOffset = at;
  }
  image.resize(image.size() + 8192, 0);
  return image;
}

TEST(PlaceRuns, RunsOfOneDatabaseOnGridsOfTheirOwnArePlacedAtTheirOwnNumbersOnly) {
  std::map<std::int64_t, std::uint32_t> truth;
  std::int64_t headerOffset = -1;
  std::vector<std::uint8_t> image = SampleInRuns(truth, headerOffset);
  const TPlacedImage source(std::move(image), headerOffset);
  ASSERT_EQ(source.Placed.size(), 1u);
  const std::set<std::uint32_t> numbers = NumbersOwnByTruth(source, source.Placed[0], truth);
  // Its catalog, its tables' definitions and their usage maps' bitmap pages lie in runs
  // of their own: each placed by what it says.
  for (const std::uint32_t number : {14u, 24u, 28u, 41u, 46u})
    EXPECT_TRUE(numbers.contains(number)) << "page " << number << " not placed";
  // Articles' page 84 lies among LVAL pages in its run, and its map lists it at seven
  // places: beside its run's pages placed already it goes on at their numbering (without
  // that, 28 pages fewer were placed here).
  EXPECT_TRUE(numbers.contains(84u)) << "page 84 not placed";
  // What placing reaches here (not every piece: one of Articles' data pages alone between
  // other bytes says nothing of its number); fewer is a loss to look into.
  EXPECT_GE(numbers.size(), 85u);
}

TEST(PlaceRuns, ALoneLongValuePageOfOneRowOfAWantedLengthIsNotPlacedByIt) {
  // The small sample whole with its LVAL page 68 lost (row 0 of 718 bytes, which one memo
  // points to and which no other LVAL row has), and far after it another file's LVAL page
  // with a row of that row number and length, of other text, and a row of its own: one
  // row's length alone does not place a page at the lost one's number.
  std::vector<std::uint8_t> image = testing::ReadSample("sample-jet4-small.mdb");
  constexpr std::size_t kLost = 68;
  ASSERT_EQ(kPageSize - (image[kLost * kPageSize + 14] | (image[kLost * kPageSize + 15] << 8)),
            718u);
  std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(kLost * kPageSize), kPageSize, 0x00);
  image.resize(image.size() + 200 * kPageSize, 0x5A);
  const std::int64_t standInAt = static_cast<std::int64_t>(image.size());
  const std::vector<std::uint8_t> standIn = testing::StandInLongValuePage(718);
  image.insert(image.end(), standIn.begin(), standIn.end());
  image.resize(image.size() + 8 * kPageSize, 0x00);
  const TPlacedImage source(std::move(image), 0);
  ASSERT_EQ(source.Placed.size(), 1u);
  for (const auto& [number, index] : source.Placed[0].Pages)
    EXPECT_NE(source.Entries[index].SourceOffset, standInAt) << "the stand-in placed at " << number;
  EXPECT_TRUE(source.Placed[0].Pages.contains(67u));
}

TEST(PlaceRuns, OfTwoPiecesForOneNumberTheOneGoingOnIntoThePlacedStretchIsPlaced) {
  // The larger sample's pages 0-23 (header, catalog, system tables) as its home; pages 24-56
  // (Authors' definition and pages, then Articles' definition, map and first page) as one
  // run on a grid of their own; and a second copy of pages 24-27 (Authors' definition and
  // first page) alone on a third grid, as a copy or a database of one design leaves.
  const std::vector<std::uint8_t> database = testing::ReadSample("sample-jet4.mdb");
  const auto pages = [&](std::size_t first, std::size_t count) {
    return std::vector<std::uint8_t>(database.begin() + first * kPageSize,
                                     database.begin() + (first + count) * kPageSize);
  };
  std::vector<std::uint8_t> image = pages(0, 24);
  image.resize(image.size() + 8 * kPageSize + 512, 0x5A);
  const std::int64_t stretchAt = static_cast<std::int64_t>(image.size());
  const std::vector<std::uint8_t> stretch = pages(24, 33);
  image.insert(image.end(), stretch.begin(), stretch.end());
  image.resize(image.size() + 8 * kPageSize + 512, 0x5A);
  const std::int64_t copyAt = static_cast<std::int64_t>(image.size());
  const std::vector<std::uint8_t> copy = pages(24, 4);
  image.insert(image.end(), copy.begin(), copy.end());
  image.resize(image.size() + 8 * kPageSize, 0);
  const TPlacedImage source(std::move(image), 0);
  ASSERT_EQ(source.Placed.size(), 1u);
  const std::vector<TPageEntry>& entries = source.Entries;
  const std::vector<TDatabasePages>& placed = source.Placed;
  const auto offsetAt = [&](std::uint32_t number) -> std::int64_t {
    const auto found = placed[0].Pages.find(number);
    return found == placed[0].Pages.end() ? -1 : entries[found->second].SourceOffset;
  };
  // Articles, alone of its shape, is placed from the stretch; Authors' definition and first
  // page then from the stretch they go on in, not from the copy.
  EXPECT_EQ(offsetAt(41), stretchAt + 17 * static_cast<std::int64_t>(kPageSize));
  EXPECT_EQ(offsetAt(24), stretchAt);
  EXPECT_EQ(offsetAt(27), stretchAt + 3 * static_cast<std::int64_t>(kPageSize));
  for (const auto& [number, index] : placed[0].Pages) {
    const std::int64_t offset = entries[index].SourceOffset;
    EXPECT_FALSE(offset >= copyAt && offset < copyAt + 4 * static_cast<std::int64_t>(kPageSize))
        << "the copy placed at " << number;
    if (offset >= stretchAt && offset < copyAt) {
      EXPECT_EQ(number, 24 + (offset - stretchAt) / static_cast<std::int64_t>(kPageSize));
    }
  }
}

TEST(PlaceRuns, ARunDoesNotNumberOnAcrossAGapWhereTheMapsListAPage) {
  // The larger sample's pages 0-23 as its home; then, on a grid of their own, pages 24-30
  // (Authors' definition, map and first pages), 3 pages of other bytes, and pages 31 on
  // (Authors' other pages, then Articles). Numbered on across the gap, pages 31-35 would
  // lie at 34-38, which Authors' map lists too; but the gap's numbers 31-33 are pages the
  // map lists, which the store would have kept: the gap is no part of the file.
  const std::vector<std::uint8_t> database = testing::ReadSample("sample-jet4.mdb");
  const std::size_t count = database.size() / kPageSize;
  std::vector<std::uint8_t> image(database.begin(), database.begin() + 24 * kPageSize);
  std::map<std::int64_t, std::uint32_t> truth;
  for (std::size_t page = 0; page < 24; ++page)
    truth[static_cast<std::int64_t>(page * kPageSize)] = static_cast<std::uint32_t>(page);
  image.resize(image.size() + 8 * kPageSize + 512, 0x5A);
  const auto copy = [&](std::size_t first, std::size_t last) {
    for (std::size_t page = first; page < last; ++page)
      truth[static_cast<std::int64_t>(image.size() + (page - first) * kPageSize)] =
          static_cast<std::uint32_t>(page);
    image.insert(image.end(), database.begin() + first * kPageSize,
                 database.begin() + last * kPageSize);
  };
  copy(24, 31);
  image.resize(image.size() + 3 * kPageSize, 0x5A);
  copy(31, count);
  image.resize(image.size() + 8 * kPageSize, 0);
  const TPlacedImage source(std::move(image), 0);
  ASSERT_EQ(source.Placed.size(), 1u);
  const std::set<std::uint32_t> numbers = NumbersOwnByTruth(source, source.Placed[0], truth);
  // Authors' definition and the pages before the gap are placed from the definition; the
  // rest of the file still finds its places (what placing reaches here).
  EXPECT_GE(numbers.size(), 230u);
  for (const std::uint32_t number : {24u, 27u, 30u})
    EXPECT_TRUE(source.Placed[0].Pages.contains(number)) << "page " << number << " not placed";
}

TEST(PlaceRuns, AHomeGoesOnOverAGapOnlyToPagesOfTheKindItsNamedNumbersHold) {
  // The smaller sample's pages 0-18 (header, catalog, system tables), 5 pages of other
  // bytes, then the larger sample's pages from 25 on: its page 25, a data page holding
  // usage maps, lands at the smaller one's number 24, where its catalog names Contacts'
  // definition. A number named for a definition vouches for a definition there, not for
  // another file's data page: the home ends at its own last page.
  const std::vector<std::uint8_t> small = testing::ReadSample("sample-jet4-small.mdb");
  const std::vector<std::uint8_t> large = testing::ReadSample("sample-jet4.mdb");
  constexpr std::size_t kHomePages = 19;
  std::vector<std::uint8_t> image(small.begin(), small.begin() + kHomePages * kPageSize);
  image.resize(image.size() + 5 * kPageSize, 0x5A);
  image.insert(image.end(), large.begin() + 25 * kPageSize, large.end());
  image.resize(image.size() + 8 * kPageSize, 0);
  const TPlacedImage source(std::move(image), 0);
  ASSERT_EQ(source.Placed.size(), 1u);
  for (const auto& [number, index] : source.Placed[0].Pages) {
    const std::int64_t offset = source.Entries[index].SourceOffset;
    EXPECT_LT(offset, static_cast<std::int64_t>(kHomePages * kPageSize))
        << "a page of the larger sample placed at " << number;
    EXPECT_EQ(number, offset / static_cast<std::int64_t>(kPageSize));
  }
  EXPECT_TRUE(source.Placed[0].Pages.contains(18u));
}

// news-art-cn.mdb, an Access-written database whose catalog has a second page (170) far
// from its first (14), beside the definitions of the tables it names (168, and 178 in the
// pages after it): its pages 0 to `homePages` - 1 as its home, then other bytes,
// `between`, and its pages 162-215 as a run on a grid of their own. Empty where the
// fixture is missing; where the pages 162-215 begin goes to `pieceAt`.
std::vector<std::uint8_t> NewsArtInTwoPieces(std::size_t homePages,
                                             const std::vector<std::uint8_t>& between,
                                             std::int64_t& pieceAt) {
  const std::vector<std::uint8_t> database =
      testing::ReadWhole(QUILLON_REAL_DATABASES_DIR, "news-art-cn.mdb");
  if (database.size() < 216 * kPageSize) return {};
  std::vector<std::uint8_t> image(database.begin(), database.begin() + homePages * kPageSize);
  image.resize(image.size() + 8 * kPageSize + 512, 0x5A);
  image.insert(image.end(), between.begin(), between.end());
  pieceAt = static_cast<std::int64_t>(image.size());
  image.insert(image.end(), database.begin() + 162 * kPageSize,
               database.begin() + 216 * kPageSize);
  image.resize(image.size() + 8 * kPageSize, 0);
  return image;
}

// On an image of NewsArtInTwoPieces: every page placed lies in the home or the piece, at
// its own number, and the catalog's second page is placed with the pages beside it that
// name or are named (a data page of table 168, whose definition it names, and
// art_auction's definition).
void ExpectNewsArtPlaced(const TPlacedImage& source, std::size_t homePages,
                         std::int64_t pieceAt) {
  ASSERT_EQ(source.Placed.size(), 1u);
  const TDatabasePages& placed = source.Placed[0];
  for (const auto& [number, index] : placed.Pages) {
    const std::int64_t offset = source.Entries[index].SourceOffset;
    if (offset >= pieceAt)
      EXPECT_EQ(number, 162 + (offset - pieceAt) / static_cast<std::int64_t>(kPageSize));
    else if (offset < static_cast<std::int64_t>(homePages * kPageSize))
      EXPECT_EQ(number, offset / static_cast<std::int64_t>(kPageSize));
    else
      ADD_FAILURE() << "a page from between the pieces placed at " << number;
  }
  for (const std::uint32_t number : {170u, 171u, 178u})
    EXPECT_TRUE(placed.Pages.contains(number)) << "page " << number << " not placed";
}

TEST(PlaceRuns, APieceHoldingACatalogsLaterPageIsPlacedWithTheTablesItNames) {
  // The database's pages 0-107 as its home, then its pages 162-215. A database with a
  // catalog page took no other, so the catalog page stayed loose and its tables unnamed.
  std::int64_t pieceAt = 0;
  std::vector<std::uint8_t> image = NewsArtInTwoPieces(108, {}, pieceAt);
  if (image.empty()) GTEST_SKIP() << "news-art-cn.mdb not found";
  ExpectNewsArtPlaced(TPlacedImage(std::move(image), 0), 108, pieceAt);
}

TEST(PlaceRuns, AnotherFilesCatalogPageTakesNoNumberByTheCatalogsMapAlone) {
  // The same database's home (pages 0-109, its catalog at 14, its map listing 170 too),
  // then a catalog page of another Access-written file (its page 400) alone between other
  // bytes, then the database's pages 162-215. The other file's page names tables 109 and
  // 439; this one holds a definition at 109, and its map lists 170 free: by the map alone
  // the other file's page took 170, and the database's own catalog page there, with the
  // tables it names, was lost. A further catalog page goes only beside a table it names in
  // its own run.
  const std::vector<std::uint8_t> other =
      testing::ReadWhole(QUILLON_REAL_DATABASES_DIR, "northwind-jet4.mdb");
  if (other.size() < 401 * kPageSize) GTEST_SKIP() << "northwind-jet4.mdb not found";
  std::vector<std::uint8_t> between(other.begin() + 400 * kPageSize,
                                    other.begin() + 401 * kPageSize);
  between.resize(between.size() + 8 * kPageSize + 1024, 0x5A);
  std::int64_t pieceAt = 0;
  std::vector<std::uint8_t> image = NewsArtInTwoPieces(110, between, pieceAt);
  if (image.empty()) GTEST_SKIP() << "news-art-cn.mdb not found";
  ExpectNewsArtPlaced(TPlacedImage(std::move(image), 0), 110, pieceAt);
}

// The larger sample with its catalog's rows on two pages, as a catalog that has grown
// keeps them: page 14 with every row but Articles' (definition page 41), and index page 43
// (which the store does not keep) made a catalog page holding Articles' row alone. Its
// pages 0-23 lie at the start; pages 24-43 on a grid of their own, after other bytes.
// `listed`: whether the catalog's usage map (page 6, row 0) lists page 43 as well. The
// image goes to `image`; where pages 24-43 begin, to `stretchAt`.
void CatalogOnTwoPages(bool listed, std::vector<std::uint8_t>& image, std::int64_t& stretchAt) {
  std::vector<std::uint8_t> database = testing::ReadSample("sample-jet4.mdb");
  const auto page = [&](std::size_t number) {
    return std::span<std::uint8_t>(database).subspan(number * kPageSize, kPageSize);
  };
  std::copy(page(14).begin(), page(14).end(), page(43).begin());
  const std::uint16_t count = jet::StatedRowCount(page(14));
  bool found = false;
  for (std::uint16_t row = 0; row < count; ++row) {
    const jet::TRowSlot slot = jet::RowSlotAt(page(14), count, row);
    ASSERT_TRUE(slot.Valid);
    const std::optional<jet::TCatalogObject> object = jet::ReadCatalogObject(
        std::span<const std::uint8_t>(page(14)).subspan(slot.Start, slot.End - slot.Start));
    const bool articles = object && object->Type == jet::kLocalTableType &&
                          object->DefinitionPage() == 41;
    found |= articles;
    // The row stays live on one page only: deleted on the other.
    const std::size_t at = jet::kRowTableAt + 2u * row + 1;
    (articles ? page(14) : page(43))[at] |= static_cast<std::uint8_t>(jet::kRowDeleted >> 8);
  }
  ASSERT_TRUE(found) << "no catalog row of Articles on page 14";
  if (listed) {
    // An inline map: type, first page, then a bit per page from there.
    const jet::TRowSlot map = jet::RowSlotAt(page(6), jet::StatedRowCount(page(6)), 0);
    ASSERT_EQ(page(6)[map.Start], 0);
    page(6)[map.Start + 5 + 43 / 8] |= static_cast<std::uint8_t>(1u << (43 % 8));
  }
  image.assign(database.begin(), database.begin() + 24 * kPageSize);
  image.resize(image.size() + 8 * kPageSize + 512, 0x5A);
  stretchAt = static_cast<std::int64_t>(image.size());
  image.insert(image.end(), database.begin() + 24 * kPageSize, database.begin() + 44 * kPageSize);
  image.resize(image.size() + 8 * kPageSize, 0);
}

TEST(PlaceRuns, AFurtherCatalogPageAlongAPlacedPieceIsPlacedOnlyWhereTheCatalogsMapListsIt) {
  for (const bool listed : {true, false}) {
    SCOPED_TRACE(listed ? "listed" : "not listed");
    std::int64_t stretchAt = -1;
    std::vector<std::uint8_t> image;
    ASSERT_NO_FATAL_FAILURE(CatalogOnTwoPages(listed, image, stretchAt));
    const TPlacedImage source(std::move(image), 0);
    ASSERT_EQ(source.Placed.size(), 1u);
    for (const auto& [number, index] : source.Placed[0].Pages) {
      const std::int64_t offset = source.Entries[index].SourceOffset;
      if (offset >= stretchAt) {
        EXPECT_EQ(number, 24 + (offset - stretchAt) / static_cast<std::int64_t>(kPageSize));
      }
    }
    // Authors' pieces are placed by their definition either way. The second catalog page
    // follows them in the run with nothing that names it between (index pages, Articles'
    // definition and map, which only that page's row names): placed where the catalog's
    // map lists it, and Articles' definition with it; else it says nothing.
    EXPECT_TRUE(source.Placed[0].Pages.contains(27));
    EXPECT_EQ(source.Placed[0].Pages.contains(43), listed);
    if (listed && source.Placed[0].Pages.contains(43)) {
      EXPECT_EQ(source.Entries[source.Placed[0].Pages.at(43)].SourceOffset,
                stretchAt + 19 * static_cast<std::int64_t>(kPageSize));
      EXPECT_TRUE(source.Placed[0].Pages.contains(41));
    }
  }
}

TEST(PlaceRuns, AnLvalStretchEndsAtPagesHoldingWhatIsPointedToNotAtAnotherFilesPages) {
  // Two files in pieces, interleaved as on a volume with a history: the larger sample's pages 0-64
  // and 65-129 apart; the smaller one's 0-47; its 48-70 followed by the larger one's
  // 130-193; and one run of LVAL pages: the larger one's 194, the smaller one's 72-94,
  // the larger one's 195 on. The smaller one's page 71 is lost, so its rows point to long
  // values at 71 that it has no page for, and numbered on backwards from its 72 the other
  // file's page before it lies at 71: a stretch that ends only at a number pointed to took
  // that page, which holds none of them, and was refused whole. It ends at pages that hold
  // what is pointed to at their numbers.
  const std::vector<std::uint8_t> large = testing::ReadSample("sample-jet4.mdb");
  const std::vector<std::uint8_t> small = testing::ReadSample("sample-jet4-small.mdb");
  std::map<std::int64_t, std::pair<int, std::uint32_t>> truth;  // offset → (file, page)
  std::vector<std::uint8_t> image;
  const auto put = [&](const std::vector<std::uint8_t>& file, int which, std::size_t first,
                       std::size_t last) {
    for (std::size_t page = first; page <= last; ++page)
      truth[static_cast<std::int64_t>(image.size() + (page - first) * kPageSize)] = {
          which, static_cast<std::uint32_t>(page)};
    image.insert(image.end(), file.begin() + first * kPageSize,
                 file.begin() + (last + 1) * kPageSize);
  };
  const auto pad = [&] { image.resize(image.size() + 8 * kPageSize + 512, 0x5A); };
  put(large, 0, 0, 64);
  pad();
  put(large, 0, 65, 129);
  pad();
  const std::int64_t smallBase = static_cast<std::int64_t>(image.size());
  put(small, 1, 0, 47);
  pad();
  put(small, 1, 48, 70);
  put(large, 0, 130, 193);
  pad();
  put(large, 0, 194, 194);
  put(small, 1, 72, small.size() / kPageSize - 1);
  put(large, 0, 195, large.size() / kPageSize - 1);
  image.resize(image.size() + 8 * kPageSize, 0);
  const TPlacedImage source(std::move(image), {0, smallBase});
  ASSERT_EQ(source.Placed.size(), 2u);
  for (const TDatabasePages& database : source.Placed) {
    const int which = database.Base == 0 ? 0 : 1;
    for (const auto& [number, index] : database.Pages) {
      const auto own = truth.find(source.Entries[index].SourceOffset);
      ASSERT_NE(own, truth.end());
      EXPECT_EQ(own->second, std::pair(which, number))
          << "file " << which << " took a page of file " << own->second.first << " (its page "
          << own->second.second << ") at " << number;
    }
  }
  // The smaller one's LVAL pages are placed by its own rows' pointers, each in its own file.
  const TDatabasePages& smaller =
      source.Placed[0].Base == smallBase ? source.Placed[0] : source.Placed[1];
  for (std::uint32_t number = 72; number < small.size() / kPageSize; ++number)
    EXPECT_TRUE(smaller.Pages.contains(number)) << "page " << number << " of the smaller not placed";
}

TEST(PlanTables, UnnumberedPagesThatKeepADefinitionFromFittingAreSetApart) {
  // The smaller sample in order, then pages of its table 24 carrying table id 15 (another
  // file's table of that id), left unnumbered. Table 15's definition fits its own three
  // pages, not all of them: it keeps its own, typed, and the others are set apart.
  std::vector<std::uint8_t> image = testing::ReadSample("sample-jet4-small.mdb");
  const std::size_t count = image.size() / kPageSize;
  std::size_t other = 0;  // a data page of table 24
  for (std::size_t page = 0; page < count && other == 0; ++page) {
    const std::uint8_t* at = image.data() + page * kPageSize;
    if (at[0] == 1 && at[4] == 24 && at[5] == 0 && at[6] == 0 && at[7] == 0) other = page;
  }
  ASSERT_NE(other, 0u);
  constexpr std::size_t kForeign = 8;
  for (std::size_t copy = 0; copy < kForeign; ++copy) {
    std::vector<std::uint8_t> page(image.begin() + other * kPageSize,
                                   image.begin() + (other + 1) * kPageSize);
    page[4] = 15;
    image.insert(image.end(), page.begin(), page.end());
  }
  const testing::TImagePageStore store(image);
  const std::vector<TPageEntry> entries = testing::EntriesOf(store);
  TDatabasePages database;
  std::set<std::size_t> foreign;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto number = static_cast<std::uint32_t>(entries[i].SourceOffset / kPageSize);
    if (number < count) {
      database.Pages.emplace(number, i);
    } else {
      database.Pages.emplace(kUnnumberedPage + number, i);
      foreign.insert(i);
    }
  }
  ASSERT_EQ(foreign.size(), kForeign);
  testing::TNoProgress progress;
  const TDatabaseReader reader(store, entries, database, progress);

  std::vector<std::size_t> setApart;
  const std::vector<TTablePlan> plans = PlanTables(reader, entries, database, {}, {}, false,
                                                   &setApart);
  const auto table = std::find_if(plans.begin(), plans.end(),
                                  [](const TTablePlan& plan) { return plan.Owner == 15; });
  ASSERT_NE(table, plans.end());
  EXPECT_TRUE(table->Definition.has_value());
  EXPECT_EQ(table->Pages.size(), 3u);
  for (const auto& [number, index] : table->Pages) EXPECT_LT(number, kUnnumberedPage);
  EXPECT_EQ(std::set<std::size_t>(setApart.begin(), setApart.end()), foreign);

  // Without a place to set them apart, nothing is taken from the table: it stays untyped.
  const std::vector<TTablePlan> asBefore = PlanTables(reader, entries, database, {}, {}, false);
  const auto untyped = std::find_if(asBefore.begin(), asBefore.end(),
                                    [](const TTablePlan& plan) { return plan.Owner == 15; });
  ASSERT_NE(untyped, asBefore.end());
  EXPECT_FALSE(untyped->Definition.has_value());
  EXPECT_EQ(untyped->Pages.size(), 3u + kForeign);
}

TEST(ReadCatalog, AnUnnumberedCatalogPageNamesOnlyWhatNoNumberedOneDoes) {
  // The smaller sample in order, then a copy of its catalog page 14 left unnumbered, in
  // which "Contacts" reads "Kontacts" (another file's catalog row for the same table id):
  // the numbered page's name stands. Alone, the unnumbered page still names the table.
  std::vector<std::uint8_t> image = testing::ReadSample("sample-jet4-small.mdb");
  const std::size_t count = image.size() / kPageSize;
  constexpr std::size_t kCatalogPage = 14;
  std::vector<std::uint8_t> copy(image.begin() + kCatalogPage * kPageSize,
                                 image.begin() + (kCatalogPage + 1) * kPageSize);
  const std::u16string wanted = u"Contacts";
  const std::vector<std::uint8_t> name(reinterpret_cast<const std::uint8_t*>(wanted.data()),
                                       reinterpret_cast<const std::uint8_t*>(wanted.data()) +
                                           wanted.size() * 2);
  const auto at = std::search(copy.begin(), copy.end(), name.begin(), name.end());
  ASSERT_NE(at, copy.end());
  *at = 'K';
  image.insert(image.end(), copy.begin(), copy.end());
  const testing::TImagePageStore store(image);
  const std::vector<TPageEntry> entries = testing::EntriesOf(store);
  TDatabasePages database;
  std::size_t copied = SIZE_MAX;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto number = static_cast<std::uint32_t>(entries[i].SourceOffset / kPageSize);
    database.Pages.emplace(number < count ? number : kUnnumberedPage + number, i);
    if (number >= count) copied = i;
  }
  ASSERT_NE(copied, SIZE_MAX);
  testing::TNoProgress progress;
  const auto names = [&](const TDatabasePages& pages) {
    const TDatabaseReader reader(store, entries, pages, progress);
    std::set<std::string> found;
    for (const auto& [page, entry] : ReadCatalog(reader, entries, pages, BuiltInCatalogDefinition()))
      found.insert(entry.Name);
    return found;
  };
  const std::set<std::string> both = names(database);
  EXPECT_TRUE(both.contains("Contacts"));
  EXPECT_FALSE(both.contains("Kontacts"));

  database.Pages.erase(static_cast<std::uint32_t>(kCatalogPage));
  const std::set<std::string> alone = names(database);
  EXPECT_TRUE(alone.contains("Kontacts"));
}

TEST(ReadCatalog, ADeletedCatalogRowNamesADroppedTableWhereNoLiveRowNamesItsPage) {
  // The smaller sample with the catalog row of "Contacts" flagged deleted (the table
  // dropped): the catalog lists it no more, its deleted row names its definition page.
  std::vector<std::uint8_t> image = testing::ReadSample("sample-jet4-small.mdb");
  constexpr std::size_t kCatalogPage = 14;
  const std::span<std::uint8_t, kPageSize> page(image.data() + kCatalogPage * kPageSize,
                                                kPageSize);
  const std::u16string wanted = u"Contacts";
  const auto* nameBytes = reinterpret_cast<const std::uint8_t*>(wanted.data());
  const auto at = std::search(page.begin(), page.end(), nameBytes, nameBytes + wanted.size() * 2);
  ASSERT_NE(at, page.end());
  const auto offset = static_cast<std::size_t>(at - page.begin());
  bool flagged = false;
  const std::vector<TSlot> slots = SlotsOf(page);
  for (std::size_t i = 0; i < slots.size() && !flagged; ++i) {
    if (slots[i].End == 0 || offset < slots[i].Start || offset >= slots[i].End) continue;
    page[kRowTableAt + 2 * i + 1] |= 0xC0;
    flagged = true;
  }
  ASSERT_TRUE(flagged);
  const testing::TImagePageStore store(image);
  const std::vector<TPageEntry> entries = testing::EntriesOf(store);
  TDatabasePages database;
  for (std::size_t i = 0; i < entries.size(); ++i)
    database.Pages.emplace(static_cast<std::uint32_t>(entries[i].SourceOffset / kPageSize), i);
  testing::TNoProgress progress;
  const TDatabaseReader reader(store, entries, database, progress);
  const std::map<std::uint32_t, TCatalogEntry> catalog =
      ReadCatalog(reader, entries, database, BuiltInCatalogDefinition());
  for (const auto& [number, entry] : catalog) EXPECT_NE(entry.Name, "Contacts");
  const std::map<std::uint32_t, std::string> dropped =
      DroppedTableNames(reader, entries, database, BuiltInCatalogDefinition(), catalog);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped.begin()->second, "Contacts");
  EXPECT_FALSE(catalog.contains(dropped.begin()->first));
  // A live row naming that page (the id taken again): the deleted row names nothing.
  std::map<std::uint32_t, TCatalogEntry> takenAgain = catalog;
  takenAgain[dropped.begin()->first].Name = "Customers";
  EXPECT_TRUE(DroppedTableNames(reader, entries, database, BuiltInCatalogDefinition(), takenAgain)
                  .empty());
}

}  // namespace
}  // namespace quillon::recover

namespace quillon::recover {
namespace {

// Pages of the larger sample laid out on an image, with each one's page number.
struct TLaidOut {
  std::vector<std::uint8_t> Image;
  std::map<std::int64_t, std::uint32_t> Truth;  // offset → page number
  std::map<std::int64_t, std::uint32_t> Copy;   // offset → page number, of the copy's pages

  // Pages `first` to `last` (exclusive) of `database` at the end of the image.
  void Add(const std::vector<std::uint8_t>& database, std::size_t first, std::size_t last,
           bool copy = false) {
    for (std::size_t page = first; page < last; ++page)
      (copy ? Copy : Truth)[static_cast<std::int64_t>(Image.size() + (page - first) * kPageSize)] =
          static_cast<std::uint32_t>(page);
    Image.insert(Image.end(), database.begin() + static_cast<std::ptrdiff_t>(first * kPageSize),
                 database.begin() + static_cast<std::ptrdiff_t>(last * kPageSize));
  }
  // Bytes of no page: another file's, or a step to another 512-byte grid.
  void Other(std::size_t bytes) { Image.resize(Image.size() + bytes, 0x5A); }
};

TEST(PlaceRuns, AHomeEndsAtAGapWhoseNumbersItsMapsList) {
  // The larger sample's pages 0-30 (header, catalog, Authors' definition, map and first
  // pages), 3 pages of another file, then pages 31 on, all on one grid: one run. Numbered
  // on from the base across the gap, pages 31-35 would lie at 34-38, where Authors' map
  // lists pages too; but the gap's numbers 31-33 are pages the map lists, which the store
  // would hold: the home ends before the gap.
  const std::vector<std::uint8_t> database = testing::ReadSample("sample-jet4.mdb");
  TLaidOut layout;
  layout.Add(database, 0, 31);
  layout.Other(3 * kPageSize);
  layout.Add(database, 31, database.size() / kPageSize);
  layout.Other(8 * kPageSize);
  const TPlacedImage source(layout.Image, 0);
  ASSERT_EQ(source.Placed.size(), 1u);
  EXPECT_TRUE(NumbersOwnByTruth(source, source.Placed[0], layout.Truth).contains(30));
}

TEST(PlaceRuns, AnOlderCopysRunIsNeverPlacedInTheDatabase) {
  // The larger sample's pages 0-219 as its home (Articles' pages 45 to 216 among them); an
  // older copy of its pages 27-45 on a grid of its own (its head written over), byte for
  // byte the same; then, on a third grid, the database's own pages 220 on (Articles' page
  // 253 among them). The copy's Articles page 45 fits one free number that Articles' map
  // lists, 253, where the database's own page lies too: two pieces for one number. But the
  // copy's pages 27-38 repeat the rows of the home's pages at their numbers: the run is
  // another copy, none of its pages is placed in the database, and the database's own
  // piece has no rival.
  const std::vector<std::uint8_t> database = testing::ReadSample("sample-jet4.mdb");
  TLaidOut layout;
  layout.Add(database, 0, 220);
  layout.Other(8 * kPageSize + 512);
  layout.Add(database, 27, 46, true);
  layout.Other(8 * kPageSize + 512);
  layout.Add(database, 220, database.size() / kPageSize);
  layout.Other(8 * kPageSize);
  const TPlacedImage source(layout.Image, 0);
  ASSERT_EQ(source.Placed.size(), 1u);
  for (const auto& [number, index] : source.Placed[0].Pages) {
    EXPECT_FALSE(layout.Copy.contains(source.Entries[index].SourceOffset))
        << "the copy's page placed at " << number;
  }
  EXPECT_TRUE(NumbersOwnByTruth(source, source.Placed[0], layout.Truth).contains(253));
}

TEST(PlaceRuns, APlacedPieceTakesThePagesBeforeItThatSayTheyAreTheDatabases) {
  // The larger sample's pages 0-41 (Articles' definition last) as its home; then, on a
  // grid of their own, pages of the smaller sample and with no gap after them the larger
  // one's pages 42 on: Articles' map, an LVAL page, then Articles' first data page at 45.
  // The piece is placed from that data page, by its map; the page before it that holds
  // the map says it is the database's only at the number that numbering gives it, and the
  // smaller sample's pages before it are no part of the database.
  const std::vector<std::uint8_t> database = testing::ReadSample("sample-jet4.mdb");
  const std::vector<std::uint8_t> small = testing::ReadSample("sample-jet4-small.mdb");
  TLaidOut layout;
  layout.Add(database, 0, 42);
  layout.Other(8 * kPageSize + 512);
  const std::int64_t foreignAt = static_cast<std::int64_t>(layout.Image.size());
  layout.Image.insert(layout.Image.end(), small.begin() + 60 * kPageSize,
                      small.begin() + 70 * kPageSize);
  const std::int64_t foreignEnd = static_cast<std::int64_t>(layout.Image.size());
  layout.Add(database, 42, database.size() / kPageSize);
  layout.Other(8 * kPageSize);
  const TPlacedImage source(layout.Image, 0);
  ASSERT_EQ(source.Placed.size(), 1u);
  for (const auto& [number, index] : source.Placed[0].Pages) {
    const std::int64_t offset = source.Entries[index].SourceOffset;
    EXPECT_FALSE(offset >= foreignAt && offset < foreignEnd)
        << "a page of the smaller sample placed at " << number;
  }
  const std::set<std::uint32_t> numbers =
      NumbersOwnByTruth(source, source.Placed[0], layout.Truth);
  for (const std::uint32_t number : {42u, 45u, 253u})
    EXPECT_TRUE(numbers.contains(number)) << "page " << number << " not placed";
}

TEST(PlaceRuns, APieceOfPagesSideBySideThatNoPlaceHoldsIsCutBeforeItsLastTablesPages) {
  // The larger sample's pages 0-83 as its home; then, on a grid of their own and side by
  // side with no gap, a stale page of Authors (its page 38 with other values in its rows,
  // as Access leaves a page it no longer lists) and Articles' pages 84-116 (a data page,
  // the LVAL pages its rows point to, and another data page). No single place holds the
  // whole: at Articles' numbers the stale page lies at 83, the home's, and at Authors'
  // numbers Articles' pages lie where their map lists none. Cut before Articles' pages,
  // they hold at their own numbers.
  const std::vector<std::uint8_t> database = testing::ReadSample("sample-jet4.mdb");
  std::vector<std::uint8_t> stale(database.begin() + 38 * kPageSize,
                                  database.begin() + 39 * kPageSize);
  const std::uint16_t count = jet::StatedRowCount(stale);
  for (std::uint16_t row = 0; row < count; ++row) {
    const jet::TRowSlot slot = jet::RowSlotAt(stale, count, row);
    ASSERT_TRUE(slot.Valid);
    stale[slot.Start + 2] ^= 0x40;  // the first fixed column: AuthorID
  }
  TLaidOut layout;
  layout.Add(database, 0, 84);
  layout.Other(8 * kPageSize + 512);
  const std::int64_t staleAt = static_cast<std::int64_t>(layout.Image.size());
  layout.Image.insert(layout.Image.end(), stale.begin(), stale.end());
  layout.Add(database, 84, 117);
  layout.Other(8 * kPageSize);
  const TPlacedImage source(layout.Image, 0);
  ASSERT_EQ(source.Placed.size(), 1u);
  for (const auto& [number, index] : source.Placed[0].Pages) {
    if (source.Entries[index].SourceOffset == staleAt)
      ADD_FAILURE() << "the stale page placed at " << number;
  }
  const std::set<std::uint32_t> numbers =
      NumbersOwnByTruth(source, source.Placed[0], layout.Truth);
  for (const std::uint32_t number : {84u, 100u, 116u})
    EXPECT_TRUE(numbers.contains(number)) << "page " << number << " not placed";
}

}  // namespace
}  // namespace quillon::recover

namespace quillon::recover {
namespace {

TEST(Renumber, AnotherCopysLongValueRowsDoNotMakeTheDatabasesOwnAmbiguous) {
  // The small sample in 64 KiB pieces, its piece 4 (LVAL pages 64 to 79) moved ahead of
  // page 0; after the file, another copy's version of that piece, byte for byte the same.
  // Only the memos' pointers number the moved piece, by rows no other LVAL row on the
  // source has: the copy's rows count against that unless they are known as the copy's.
  const std::vector<std::uint8_t> db = testing::ReadSample("sample-jet4-small.mdb");
  constexpr std::size_t kPiece = 65536;
  std::vector<std::uint8_t> image(kPageSize, 0x00);
  for (const std::size_t piece : {4, 0, 1, 2, 3, 5}) {
    const auto from = db.begin() + static_cast<std::ptrdiff_t>(piece * kPiece);
    image.insert(image.end(), from, std::min(from + kPiece, db.end()));
  }
  const std::size_t fileEnd = image.size();
  image.resize(image.size() + 8 * kPageSize, 0x5A);
  const std::size_t copyAt = image.size();
  image.insert(image.end(), db.begin() + 4 * kPiece, db.begin() + 5 * kPiece);
  const testing::TImagePageStore store(std::move(image));
  const std::vector<TPageEntry> entries = testing::EntriesOf(store);
  // The file's pages by their places from its page 0 (at the piece after the moved one);
  // the copy's pages are the copy's.
  TDatabasePages grid;
  grid.Base = static_cast<std::int64_t>(kPageSize + kPiece);
  std::unordered_set<std::size_t> copy;
  std::uint32_t before = kUnnumberedPage;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::int64_t offset = entries[i].SourceOffset;
    if (offset >= static_cast<std::int64_t>(copyAt)) {
      copy.insert(i);
    } else if (offset < static_cast<std::int64_t>(fileEnd)) {
      grid.Pages.emplace(offset < grid.Base ? before++
                                            : static_cast<std::uint32_t>((offset - grid.Base) /
                                                                         kPageSize),
                         i);
    }
  }
  ASSERT_FALSE(copy.empty());
  testing::TNoProgress progress;
  // How many of the moved piece's pages are numbered as they were written (64 on).
  const auto movedNumbered = [&](const std::unordered_set<std::size_t>& otherCopies) {
    TDatabasePages database = grid;
    const TDatabaseReader reader(store, entries, database, progress);
    Renumber(reader, entries, database, otherCopies);
    std::size_t right = 0;
    for (const auto& [number, index] : database.Pages) {
      const std::int64_t offset = entries[index].SourceOffset;
      if (offset < grid.Base &&
          number == 64 + static_cast<std::uint32_t>((offset - static_cast<std::int64_t>(kPageSize)) /
                                                    kPageSize))
        ++right;
    }
    return right;
  };
  EXPECT_EQ(movedNumbered({}), 0u);
  EXPECT_GE(movedNumbered(copy), 8u);
}

}  // namespace
}  // namespace quillon::recover
