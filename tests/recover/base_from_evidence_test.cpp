// Bases from evidence, on sources made of the sample databases: a database whose header and
// system definitions are lost gets its page 0 back from its definitions and the data pages
// that fit them, and nothing else does (another copy of a database placed already, a
// definition tied by a row that shows only its first columns).

#include <gtest/gtest.h>

#include <array>

#include "recover/base_from_evidence.h"
#include "recover/image_page_store.h"
#include "recover/run_placement.h"
#include "recover/sample_sources.h"
#include "recover/table_definition.h"

namespace quillon::recover {
namespace {

constexpr std::size_t kLostHead = 6;  // header, page 1 and the system definitions

// `first` whole, then the larger sample with its first kLostHead pages zeroed (deleted, and
// written over by another file), then the head of a third file (its header and system
// definitions: a database whose other pages were written over), as on a disk with a
// history: `base` gets where the larger sample's page 0 lay.
std::vector<std::uint8_t> HeadlessAfter(const char* first, std::int64_t& base) {
  std::vector<std::uint8_t> image = testing::ReadSample(first);
  base = static_cast<std::int64_t>(image.size());
  std::vector<std::uint8_t> large = testing::ReadSample("sample-jet4.mdb");
  std::fill(large.begin(), large.begin() + kLostHead * kPageSize, 0);
  image.insert(image.end(), large.begin(), large.end());
  const std::vector<std::uint8_t> third = testing::ReadSample("sample-jet4-small.mdb");
  image.insert(image.end(), third.begin(), third.begin() + kLostHead * kPageSize);
  return image;
}

const TDatabaseReport* DatabaseAt(const TRecoveryReport& report, std::int64_t base) {
  for (const TDatabaseReport& database : report.Databases) {
    if (database.BaseOffset == base) return &database;
  }
  return nullptr;
}

std::vector<TFoundDefinition> DefinitionsOf(const IPageStore& store,
                                            const std::vector<TPageEntry>& entries) {
  std::vector<TFoundDefinition> found;
  std::array<std::uint8_t, kPageSize> page{};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].Kind != TPageKind::Definition) continue;
    store.Read(i, page);
    const TDefinitionResult parsed = ParseTableDefinition(page);
    if (parsed.Status == TDefinitionParse::Invalid) continue;
    found.push_back({i, entries[i].SourceOffset,
                     parsed.Definition ? SystemDefinitionPage(*parsed.Definition) : 0u});
  }
  return found;
}

TEST(BaseFromEvidence, AHeadlessDatabaseGetsItsPageZeroFromItsDefinitionsAndRows) {
  std::int64_t base = 0;
  const testing::TImagePageStore store(HeadlessAfter("sample-jet4-small.mdb", base));
  const std::vector<TPageEntry> entries = testing::EntriesOf(store);
  const std::vector<TFoundDefinition> definitions = DefinitionsOf(store, entries);
  // Nothing placed yet: the smaller sample's definitions lie at their own numbers too, so
  // its base (0) would be found as well, and the third file's; the larger one's is the one
  // asked for here.
  const std::int64_t third =
      base + static_cast<std::int64_t>(testing::ReadSample("sample-jet4.mdb").size());
  const std::optional<TEvidenceBase> first =
      BaseFromEvidence(store, entries, definitions, {}, {0, third});
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->Base, base);
  EXPECT_GE(first->Definitions.size(), kMinAgreeingDefinitions);
  for (const std::size_t index : first->Definitions)
    EXPECT_GE(entries[index].SourceOffset, base + static_cast<std::int64_t>(kLostHead * kPageSize));
  EXPECT_GE(first->HomeStart, base);
  // A base once tried is not given again.
  const std::optional<TEvidenceBase> again =
      BaseFromEvidence(store, entries, definitions, {}, {0, third, base});
  EXPECT_FALSE(again && again->Base == base);

  // Recovered: its tables typed and whole, in a database of their own at that base; the
  // smaller sample's tables are its own only.
  const TRecoveryReport report = testing::RecoverInMemory(store);
  const TDatabaseReport* found = DatabaseAt(report, base);
  ASSERT_NE(found, nullptr);
  const TDatabaseReport& headless = *found;
  const TTableReport* authors = testing::TableNamed(headless, "Authors");
  ASSERT_NE(authors, nullptr);
  EXPECT_TRUE(authors->Typed);
  EXPECT_EQ(authors->Rows, 767);
  EXPECT_EQ(authors->ValuesNotFound, 0);
  ASSERT_NE(DatabaseAt(report, 0), nullptr);
  for (const TTableReport& table : DatabaseAt(report, 0)->Tables)
    EXPECT_TRUE(table.Name == "Contacts" || table.Name == "Memos") << table.Name;
  const TTableReport* contacts = testing::TableNamed(*DatabaseAt(report, 0), "Contacts");
  ASSERT_NE(contacts, nullptr);
  EXPECT_EQ(contacts->Rows, 1464);
}

TEST(BaseFromEvidence, AnotherCopyOfAPlacedDatabaseIsNoDatabaseOfItsOwn) {
  std::int64_t base = 0;
  const testing::TImagePageStore store(HeadlessAfter("sample-jet4.mdb", base));
  const std::vector<TPageEntry> entries = testing::EntriesOf(store);
  const std::vector<TFoundDefinition> definitions = DefinitionsOf(store, entries);
  TPlacementReading reading;
  reading.Judge = [](std::size_t, const TTableDefinition&) { return TPageJudgement{}; };
  // The live copy's pages at their numbers, as its home places them.
  TDatabasePages live;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].SourceOffset < base && entries[i].SourceOffset % kPageSize == 0)
      live.Pages.emplace(static_cast<std::uint32_t>(entries[i].SourceOffset / kPageSize), i);
  }
  std::set<std::size_t> placed;
  for (const auto& [number, index] : live.Pages) placed.insert(index);
  const std::optional<TEvidenceBase> found =
      BaseFromEvidence(store, entries, definitions, placed, {0, 2 * base});
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->Base, base);
  EXPECT_TRUE(CopiesAPlacedDatabase(store, entries, *found, {live}));
  // Against a database of other tables at those numbers it is no copy.
  TDatabasePages other;
  for (const auto& [number, index] : live.Pages) {
    if (entries[index].Kind != TPageKind::Definition) other.Pages.emplace(number, index);
  }
  EXPECT_FALSE(CopiesAPlacedDatabase(store, entries, *found, {other}));

  // Recovered: the headless copy is kept apart as the older copy, never merged and never a
  // database of its own.
  const TRecoveryReport report = testing::RecoverInMemory(store);
  ASSERT_GE(report.Databases.size(), 2u);
  EXPECT_EQ(report.Databases[1].Name, "database-1 (older copy)");
  ASSERT_NE(DatabaseAt(report, base), nullptr);
  EXPECT_EQ(DatabaseAt(report, base)->Name, "database-1 (older copy)");
}

TEST(BaseFromEvidence, ABaseIsKeptOnlyWhereItsOwnCatalogNamesItsTables) {
  std::int64_t base = 0;
  std::vector<std::uint8_t> image = HeadlessAfter("sample-jet4-small.mdb", base);
  // The larger sample's catalog pages (owner value 2) lost too: its tables' definitions
  // and rows still agree on the base, but nothing names them there.
  for (std::size_t at = static_cast<std::size_t>(base); at + kPageSize <= image.size();
       at += kPageSize) {
    if (image[at] == 0x01 && image[at + 1] == 0x01 && image[at + 4] == 2 && image[at + 5] == 0 &&
        image[at + 6] == 0 && image[at + 7] == 0)
      std::fill(image.begin() + static_cast<std::ptrdiff_t>(at),
                image.begin() + static_cast<std::ptrdiff_t>(at + kPageSize), 0);
  }
  const testing::TImagePageStore store(std::move(image));
  const TRecoveryReport report = testing::RecoverInMemory(store);
  EXPECT_EQ(DatabaseAt(report, base), nullptr);
}

TEST(BaseFromEvidence, CatalogPagesThatAnotherDatabasesMapListsAreThatDatabases) {
  const testing::TImagePageStore store(testing::ReadSample("sample-jet4.mdb"));
  const std::vector<TPageEntry> entries = testing::EntriesOf(store);
  // The file's own pages at their numbers, its catalog pages apart in another "database".
  TDatabasePages whole, catalog;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].SourceOffset % kPageSize != 0) continue;
    const auto number = static_cast<std::uint32_t>(entries[i].SourceOffset / kPageSize);
    whole.Pages.emplace(number, i);
    if (entries[i].Kind == TPageKind::Data && entries[i].Owner == 2) catalog.Pages.emplace(number, i);
  }
  ASSERT_FALSE(catalog.Pages.empty());
  TDatabasePages rest = whole;
  for (const auto& [number, index] : catalog.Pages) rest.Pages.erase(number);
  EXPECT_TRUE(HoldsCatalogPageListedBy(store, entries, catalog, rest));
  // Where the other database holds its catalog pages, or its map is not there, they are not.
  EXPECT_FALSE(HoldsCatalogPageListedBy(store, entries, catalog, whole));
  TDatabasePages noMap = rest;
  noMap.Pages.erase(2);
  EXPECT_FALSE(HoldsCatalogPageListedBy(store, entries, catalog, noMap));
  // At numbers its map does not list, they are not either.
  TDatabasePages moved;
  for (const auto& [number, index] : catalog.Pages) moved.Pages.emplace(number + 1000, index);
  EXPECT_FALSE(HoldsCatalogPageListedBy(store, entries, moved, rest));
}

// The larger sample with the definition of one table (page 41) moved far past its end and
// zeros in its place: a definition lying apart, which its catalog names.
constexpr std::uint32_t kMovedDefinition = 41;

std::int64_t PlaceMovedDefinition(bool rowsShowItWhole) {
  std::vector<std::uint8_t> image = testing::ReadSample("sample-jet4.mdb");
  const auto at = static_cast<std::ptrdiff_t>(kMovedDefinition * kPageSize);
  std::vector<std::uint8_t> definition(image.begin() + at, image.begin() + at + kPageSize);
  std::fill(image.begin() + at, image.begin() + at + kPageSize, 0);
  image.resize(image.size() + 200 * kPageSize, 0);  // far past any run's gap
  image.insert(image.end(), definition.begin(), definition.end());
  const testing::TImagePageStore store(std::move(image));
  const std::vector<TPageEntry> entries = testing::EntriesOf(store);
  TPlacementReading reading;
  // Every page's rows fit every definition; whether one of them shows all its columns is
  // what is asked.
  reading.Judge = [&](std::size_t, const TTableDefinition&) {
    TPageJudgement judgement;
    judgement.Fits = true;
    judgement.Whole = rowsShowItWhole;
    return judgement;
  };
  const std::vector<TDatabasePages> placed = PlaceRuns(store, entries, {0}, reading);
  for (const TDatabasePages& database : placed) {
    const auto there = database.Pages.find(kMovedDefinition);
    if (there != database.Pages.end()) return entries[there->second].SourceOffset;
  }
  return -1;
}

TEST(PlaceRuns, ADefinitionLyingApartIsTiedOnlyByRowsThatShowItWhole) {
  const std::int64_t whole = PlaceMovedDefinition(true);
  EXPECT_GT(whole, static_cast<std::int64_t>(testing::ReadSample("sample-jet4.mdb").size()));
  // Rows that count only its first columns fit any definition that begins with columns of
  // their types: they tie nothing.
  EXPECT_EQ(PlaceMovedDefinition(false), -1);
}

}  // namespace
}  // namespace quillon::recover
