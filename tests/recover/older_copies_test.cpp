// Older copies of a database told apart from it: a second base whose pages repeat rows of
// the database's other pages of the same tables, and which of the two copies is the newer.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "recover/older_copies.h"
#include "recover/pages_set_apart.h"
#include "recover/recovery_report.h"
#include "rows/jet_page_builder.h"

namespace quillon::recover {
namespace {

constexpr std::int64_t kPage = 4096;
constexpr std::uint16_t kDeleted = 0xC000;

using TBytes = std::array<std::uint8_t, kPageSize>;
using TRows = std::vector<std::pair<std::string, std::uint16_t>>;

// A data page of `owner` holding `rows` (text, slot flags) from its end, as Jet lays them.
TBytes DataPage(std::uint32_t owner, const std::vector<std::pair<std::string, std::uint16_t>>& rows) {
  TBytes page{};
  page[0] = page[1] = 0x01;
  std::memcpy(&page[4], &owner, 4);
  const auto count = static_cast<std::uint16_t>(rows.size());
  std::memcpy(&page[12], &count, 2);
  std::size_t end = kPageSize;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string& row = rows[i].first;
    end -= row.size();
    std::memcpy(&page[end], row.data(), row.size());
    const auto slot = static_cast<std::uint16_t>(end | rows[i].second);
    std::memcpy(&page[14 + 2 * i], &slot, 2);
  }
  return page;
}

class TMemoryStore : public IPageStore {
 public:
  std::vector<TPageEntry> Entries;
  std::vector<TBytes> Bytes;

  std::size_t Add(std::int64_t place, TPageKind kind, std::uint32_t owner = 0, TBytes bytes = {}) {
    Entries.push_back({place * kPage, kind, owner});
    Bytes.push_back(bytes);
    return Entries.size() - 1;
  }
  std::size_t Count() const override { return Entries.size(); }
  TPageEntry Entry(std::size_t index) const override { return Entries[index]; }
  bool HasOffsets() const override { return true; }
  void Read(std::size_t index, std::span<std::uint8_t, kPageSize> out) const override {
    std::memcpy(out.data(), Bytes[index].data(), kPageSize);
  }
};

// A definition of columns `names`, each `size` bytes long.
TTableDefinition Definition(const std::vector<std::string>& names, std::uint16_t size = 4) {
  TTableDefinition parsed;
  for (const std::string& name : names) parsed.Columns.push_back({.Name = name, .Size = size});
  parsed.HighestColumnCount = static_cast<std::uint16_t>(parsed.Columns.size());
  return parsed;
}

// A table's plan as recovery makes it: its owner value, its name (from the catalog or not)
// and its definition where one is known.
TTablePlan Plan(std::uint32_t owner, std::string name, bool fromCatalog,
                std::optional<TTableDefinition> parsed) {
  TTablePlan made;
  made.Owner = owner;
  made.Name = std::move(name);
  made.NamedFromCatalog = fromCatalog;
  made.Definition = std::move(parsed);
  return made;
}

// A catalog row (17 columns, its fixed part through Flags, the name among the variable
// columns) last changed `days` after 1899-12-30, as the catalog's DateUpdate counts.
std::string CatalogRowUpdated(double days) {
  testing::TBytes fixed;
  testing::PutU32(fixed, 0x0F000001);
  testing::PutU32(fixed, 0x0F000000);
  testing::PutU16(fixed, 1);
  for (const double date : {days, days}) {
    std::uint8_t bytes[8];
    std::memcpy(bytes, &date, 8);
    fixed.insert(fixed.end(), bytes, bytes + 8);
  }
  testing::PutU32(fixed, 0);
  const testing::TBytes row = testing::JetRow(17, fixed, {testing::Utf16(u"Orders"), {0xC0, 0x75}});
  return std::string(row.begin(), row.end());
}

// A database on the source from place `base` (in pages) on: its header (unless `header` is false),
// definitions at pages 10 and 12, their data at pages 20 and 21, and where `catalogDays` is
// given the catalog's data page 30, holding one row last changed then. Its pages are
// added to `pages` by page number (`numbered`) or as places without numbers.
struct TCopyPages {
  std::vector<std::size_t> Indexes;  // in the store, in the order above
};

TCopyPages AddCopy(TMemoryStore& store, TDatabasePages& pages, std::int64_t base, bool numbered,
                   bool header, const TRows& rows10, double catalogDays = 0) {
  static std::uint32_t unnumbered = kUnnumberedPage;
  TCopyPages copy;
  auto add = [&](std::uint32_t number, TPageKind kind, std::uint32_t owner = 0, TBytes bytes = {}) {
    copy.Indexes.push_back(store.Add(base + number, kind, owner, bytes));
    pages.Pages.emplace(numbered ? number : unnumbered++, copy.Indexes.back());
  };
  if (header) add(0, TPageKind::Header);
  add(10, TPageKind::Definition);
  add(12, TPageKind::Definition);
  add(20, TPageKind::Data, 10, DataPage(10, rows10));
  add(21, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}}));
  if (catalogDays > 0)
    add(30, TPageKind::Data, 2, DataPage(2, {{CatalogRowUpdated(catalogDays), 0}}));
  return copy;
}

// The live file from place 100 (its header there), the older copy from place 0 with its head
// written over: tables at definition pages 10 and 12, their data at pages 20 and 21. As
// databases are told apart by their headers, the older copy's pages lie before the live
// base, without numbers.
// Pages of a database as places: `live` numbered from its base, the others unnumbered.
struct TDisk {
  TMemoryStore Store;
  TDatabasePages Database;
  std::uint32_t Unnumbered = kUnnumberedPage;

  explicit TDisk(std::int64_t base) { Database.Base = base * kPage; }
  std::size_t Apart(std::int64_t place, TPageKind kind, std::uint32_t owner = 0, TBytes b = {}) {
    const std::size_t index = Store.Add(place, kind, owner, b);
    Database.Pages.emplace(Unnumbered++, index);
    return index;
  }
  std::size_t Live(std::uint32_t number, TPageKind kind, std::uint32_t owner = 0, TBytes b = {}) {
    const std::size_t index = Store.Add(Database.Base / kPage + number, kind, owner, b);
    Database.Pages.emplace(number, index);
    return index;
  }
  TCopiesOfDatabase Split() const { return SplitOlderCopy(Store, Store.Entries, Database); }
};

struct TTwoCopies : TDisk {
  std::vector<std::size_t> Older;

  TTwoCopies(const std::vector<std::pair<std::string, std::uint16_t>>& olderRows,
             const std::vector<std::pair<std::string, std::uint16_t>>& liveRows,
             bool olderHeader = false)
      : TDisk(100) {
    if (olderHeader) Older.push_back(Apart(0, TPageKind::Header));
    Older.push_back(Apart(10, TPageKind::Definition));
    Older.push_back(Apart(12, TPageKind::Definition));
    Older.push_back(Apart(20, TPageKind::Data, 10, DataPage(10, olderRows)));
    Older.push_back(Apart(21, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}})));
    Live(0, TPageKind::Header);
    Live(10, TPageKind::Definition);
    Live(12, TPageKind::Definition);
    Live(20, TPageKind::Data, 10, DataPage(10, liveRows));
    Live(21, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}}));
    Database.FirstOffset = 0;
    Database.LastOffset = 121 * kPage;
  }
};

TEST(OlderCopies, ACopyAtItsOwnBaseIsSplitOffAndRowsDeletedSinceTellTheNewer) {
  const TTwoCopies disk({{"id1", 0}, {"id2", 0}, {"id3", 0}},
                        {{"id1", 0}, {"id2", kDeleted}, {"id3", 0}});
  const TCopiesOfDatabase copies = disk.Split();
  ASSERT_EQ(copies.Copies.size(), 2u);
  EXPECT_EQ(copies.Evidence, TNewerEvidence::DeletedRows);
  EXPECT_EQ(copies.RowsDeletedSince, 1);
  const TDatabaseCopy& live = copies.Copies[0];
  const TDatabaseCopy& older = copies.Copies[1];
  EXPECT_TRUE(live.Newer);
  EXPECT_FALSE(live.Split);
  EXPECT_TRUE(older.Split);
  // The older copy numbered from its own base, every one of its pages taken from the live.
  EXPECT_EQ(older.Pages.Base, 0);
  EXPECT_EQ(older.Pages.Pages, (std::unordered_map<std::uint32_t, std::size_t>{
                                   {10, disk.Older[0]}, {12, disk.Older[1]},
                                   {20, disk.Older[2]}, {21, disk.Older[3]}}));
  EXPECT_EQ(older.Pages.FirstOffset, 10 * kPage);
  EXPECT_EQ(older.Pages.LastOffset, 21 * kPage);
  EXPECT_EQ(live.Pages.Pages.size(), 5u);
  EXPECT_EQ(live.Pages.FirstOffset, 100 * kPage);
  EXPECT_EQ(NewerBecauseText(copies),
            "1 row live in the older copy is deleted in the newer one, byte for byte the same");
}

TEST(OlderCopies, APageThatEvidencePlacedInTheDatabaseIsNeverTakenIntoACopy) {
  // The live file from place 100 (definitions 10 and 12, their data at 20 and 21); its
  // older copy from place 200, head written over; and the live file's page 22 (table 12)
  // at place 330, after the copy, where a file system put a later piece of it. Evidence
  // placed that page in the database (position numbered it 230); the copy's ties reach
  // it (its owner value lands on the copy's definition 12), but it stays the database's.
  TMemoryStore store;
  TDatabasePages database;
  database.Base = 100 * kPage;
  const auto add = [&](std::int64_t place, TPageKind kind, std::uint32_t owner = 0,
                       TBytes bytes = {}) {
    const std::size_t index = store.Add(place, kind, owner, bytes);
    database.Pages.emplace(static_cast<std::uint32_t>(place - 100), index);
    return index;
  };
  add(100, TPageKind::Header);
  for (const std::int64_t base : {100, 200}) {
    add(base + 10, TPageKind::Definition);
    add(base + 12, TPageKind::Definition);
    add(base + 20, TPageKind::Data, 10,
        DataPage(10, {{"id1", 0}, {"id2", base == 100 ? kDeleted : std::uint16_t{0}}}));
    add(base + 21, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}}));
  }
  const std::size_t later = add(330, TPageKind::Data, 12, DataPage(12, {{"y1", 0}, {"y2", 0}}));
  database.Evidenced.insert(later);
  database.FirstOffset = 100 * kPage;
  database.LastOffset = 330 * kPage;

  const TCopiesOfDatabase copies = SplitOlderCopy(store, store.Entries, database);
  ASSERT_EQ(copies.Copies.size(), 2u);
  EXPECT_EQ(copies.Copies[1].Pages.Base, 200 * kPage);
  for (const auto& [number, index] : copies.Copies[1].Pages.Pages)
    EXPECT_NE(index, later) << "the live file's page taken into the copy at " << number;
  EXPECT_TRUE(std::ranges::any_of(copies.Copies[0].Pages.Pages,
                                  [&](const auto& page) { return page.second == later; }));
}

TEST(OlderCopies, TheCopySplitOffCanBeTheNewerAndTheHeaderDecidesWhereRowsSayNothing) {
  // Rows the live file holds live that the copy deleted: the copy found apart is the newer.
  TCopiesOfDatabase copies = TTwoCopies({{"id1", kDeleted}, {"id2", 0}},
                                        {{"id1", 0}, {"id2", 0}}).Split();
  ASSERT_EQ(copies.Copies.size(), 2u);
  EXPECT_EQ(copies.Evidence, TNewerEvidence::DeletedRows);
  EXPECT_TRUE(copies.Copies[0].Split);
  EXPECT_TRUE(copies.Copies[0].Newer);
  EXPECT_FALSE(copies.Copies[1].Newer);

  // The same rows in both (one changed, one not): only the live file's header survives.
  copies = TTwoCopies({{"id1", 0}, {"id2 old", 0}}, {{"id1", 0}, {"id2 new", 0}}).Split();
  ASSERT_EQ(copies.Copies.size(), 2u);
  EXPECT_EQ(copies.Evidence, TNewerEvidence::Header);
  EXPECT_FALSE(copies.Copies[0].Split);

  // Both headers there: nothing tells them apart, and the copy keeps the second place.
  copies = TTwoCopies({{"id1", 0}, {"id2 old", 0}}, {{"id1", 0}, {"id2 new", 0}}, true).Split();
  ASSERT_EQ(copies.Copies.size(), 2u);
  EXPECT_EQ(copies.Evidence, TNewerEvidence::None);
  EXPECT_FALSE(copies.Copies[0].Split);
  EXPECT_EQ(NewerBecauseText(copies), "");
}

TEST(OlderCopies, PagesWhoseRepeatsDoNotLieAsAPieceOfTheDatabaseAreNoCopy) {
  // Both tables' pages repeat rows of the live file's, whose pages lie as one piece (its
  // page n at its base + n): a copy.
  EXPECT_EQ(TTwoCopies({{"id1", 0}, {"id2", 0}}, {{"id1", 0}, {"id2", 0}}).Split().Copies.size(),
            2u);

  // Another database of the same shape (or pieces of this one moved about): table 10's
  // pages share no row, and one repeat alone shows no piece of the database.
  EXPECT_EQ(TTwoCopies({{"a", 0}, {"b", 0}}, {{"id1", 0}, {"id2", 0}}).Split().Copies.size(), 1u);

  // Rows repeated on pages that lie where no piece would put the copy's page numbers (old
  // versions a file keeps of its own pages, stale ones): a piece of the database's own
  // file moved about, not a copy.
  TTwoCopies stale({{"id1", 0}, {"id2", 0}}, {{"id1", 0}, {"id2", 0}});
  stale.Store.Entries[stale.Database.Pages.at(21)].SourceOffset = 150 * kPage;
  const TCopiesOfDatabase none = stale.Split();
  ASSERT_EQ(none.Copies.size(), 1u);
  EXPECT_EQ(none.Copies[0].Pages.Pages, stale.Database.Pages);
}

TEST(OlderCopies, TheReportsSayWhichCopyWasFoundAndWhosePagesWereSetApart) {
  TTwoCopies disk({{"id1", 0}, {"id2", 0}}, {{"id1", 0}, {"id2", kDeleted}});
  const TCopiesOfDatabase copies = disk.Split();
  ASSERT_EQ(copies.Copies.size(), 2u);
  TDatabaseReport live, older;
  live.Name = "database-1";
  older.Name = "database-1 (older copy)";
  AccountForCopies(copies, {&live, &older});
  EXPECT_EQ(live.OlderCopies, std::vector<std::string>{"database-1 (older copy)"});
  EXPECT_FALSE(live.NewerBecause.empty());
  EXPECT_EQ(older.NewerBecause, live.NewerBecause);

  // The copy's pages, set apart from the live one's and written as the copy: said in the
  // live one's report as the copy's, counted once, in the copy's.
  std::vector<std::size_t> livePages, copyPages;
  for (const auto& [number, index] : copies.Copies[0].Pages.Pages) livePages.push_back(index);
  for (const auto& [number, index] : copies.Copies[1].Pages.Pages) copyPages.push_back(index);
  std::vector<TDatabaseReport> written = {live, older};
  const TPageAccount account =
      AccountForPages(disk.Store.Entries, {livePages, copyPages}, {copyPages, {}}, written);
  ASSERT_EQ(written[0].PagesSetApart.size(), 1u);
  EXPECT_EQ(written[0].PagesSetApart[0].Database, "database-1 (older copy)");
  EXPECT_EQ(written[0].PagesSetApart[0].Pages, 4);
  EXPECT_EQ(written[0].PagesSetApart[0].FirstOffset, 10 * kPage);
  EXPECT_TRUE(written[1].PagesSetApart.empty());
  EXPECT_EQ(written[1].Pages, 4);
  EXPECT_EQ(account.SetApart, 0);
  EXPECT_EQ(account.InDatabases + account.Unplaced,
            static_cast<std::int64_t>(disk.Store.Entries.size()));

  // The copy gave no table: its pages were still set apart, as no database's.
  TDatabaseReport alone;
  AccountForCopies(copies, {&alone, nullptr});
  EXPECT_TRUE(alone.OlderCopies.empty());
  std::vector<TDatabaseReport> one = {alone};
  EXPECT_EQ(AccountForPages(disk.Store.Entries, {livePages}, {copyPages}, one).SetApart, 4);
  ASSERT_EQ(one[0].PagesSetApart.size(), 1u);
  EXPECT_EQ(one[0].PagesSetApart[0].Database, "");

  // A table read with the definition the other copies agree on is said and counted.
  TRecoveryReport report;
  older.TablesTypedFromOtherCopies = 1;
  report.Databases = {live, older};
  const std::string text = RecoveryReportText(report);
  EXPECT_NE(text.find("database-1 (older copy): pages"), std::string::npos);
  EXPECT_NE(text.find("1 table read with the definition the database's other copies agree on"),
            std::string::npos);
  const nlohmann::json json = RecoveryReportJson(report);
  EXPECT_EQ(json["databases"][0]["tables_typed_from_other_copies"], 0);
  EXPECT_EQ(json["databases"][1]["tables_typed_from_other_copies"], 1);
}

TEST(OlderCopies, TablesTheCopysCatalogDoesNotNameTakeTheOtherCopysNamesWhereColumnsAgree) {
  TDatabaseReport newer;
  newer.Tables.resize(3);
  // Tables as a database's report lists them: the name, where the definition lies, whether
  // the catalog named it, and its columns.
  const auto table = [](std::string name, std::uint32_t definitionPage, bool fromCatalog,
                        std::vector<std::pair<std::string, std::string>> columns) {
    TTableReport report;
    report.Name = std::move(name);
    report.DefinitionPage = definitionPage;
    report.Typed = true;
    report.NamedFromCatalog = fromCatalog;
    for (auto& [column, type] : columns) report.ColumnList.push_back({column, type});
    return report;
  };
  newer.Tables[0] = table("Orders", 30, true, {{"Id", "INTEGER"}, {"Customer", "TEXT"}});
  newer.Tables[1] = table("Notes", 40, true, {{"Id", "INTEGER"}});
  newer.Tables[2] = table("table-50", 50, false, {{"Id", "INTEGER"}});
  std::vector<TTablePlan> plans(5);
  plans[0] = Plan(30, "table-30", false, Definition({"Id", "Customer"}));  // the same table
  // Other columns: dropped and made anew.
  plans[1] = Plan(40, "table-40", false, Definition({"Id", "Text"}));
  // The other copy has no name for it either.
  plans[2] = Plan(50, "table-50", false, Definition({"Id"}));
  plans[3] = Plan(30, "table-30", false, std::nullopt);  // untyped: its columns are not known
  plans[4] = Plan(30, "Kept", true, Definition({"Id", "Customer"}));  // its own catalog names it
  NameFromOtherCopy(plans, newer);
  EXPECT_EQ(plans[0].Name, "Orders");
  EXPECT_TRUE(plans[0].NamedFromCatalog);
  EXPECT_EQ(plans[1].Name, "table-40");
  EXPECT_EQ(plans[2].Name, "table-50");
  EXPECT_EQ(plans[3].Name, "table-30");
  EXPECT_EQ(plans[4].Name, "Kept");

  // Tables the newer copy's catalog names no more: dropped since, named by the deleted row
  // at their definition page, where the name is no other table's of the copy and the newer
  // copy's catalog does not name the page live.
  std::vector<TTablePlan> older(4);
  older[0] = Plan(60, "table-60", false, Definition({"Id", "Price"}));
  older[1] = Plan(70, "table-70", false, Definition({"Id"}));  // its name is taken
  older[2] = Plan(80, "table-80", false, std::nullopt);        // untyped
  older[3] = Plan(30, "table-30", false, Definition({"Id", "Customer"}));
  const std::map<std::uint32_t, std::string> dropped = {
      {60, "Prices"}, {70, "Orders"}, {80, "Stock"}, {30, "OldOrders"}};
  NameFromOtherCopy(older, newer, dropped);
  EXPECT_EQ(older[0].Name, "Prices");
  EXPECT_TRUE(older[0].NamedFromCatalog);
  EXPECT_EQ(older[1].Name, "table-70");
  EXPECT_EQ(older[2].Name, "table-80");
  EXPECT_EQ(older[3].Name, "Orders");  // the live catalog's name comes first
}

TEST(OlderCopies, ACopyWithoutItsCatalogTakesNamesFromAnyOtherCopysOwnCatalogTheFirstThatNamesIt) {
  // The newest copy's head, holding its catalog, was not found; the older copies' catalogs
  // survive. Names read from a copy's own catalog only: one it took from another is not
  // passed on.
  const std::vector<TTablePlan> older = {Plan(30, "Orders", true, Definition({"Id", "Customer"})),
                                         Plan(40, "table-40", false, Definition({"Id"})),
                                         Plan(50, "Stock", true, std::nullopt)};
  const std::vector<TTablePlan> oldest = {Plan(30, "Orders (old)", true,
                                               Definition({"Id", "Customer"})),
                                          Plan(40, "Notes", true, Definition({"Id"})),
                                          Plan(60, "Items", true, Definition({"Id", "Price"}))};
  const std::vector<TNamedTable> namedByOlder = TablesNamedByCatalog(older);
  ASSERT_EQ(namedByOlder.size(), 1u);  // untyped and unnamed tables name nothing
  EXPECT_EQ(namedByOlder[0].Columns, (std::vector<std::string>{"Id", "Customer"}));
  std::vector<TTablePlan> live = {Plan(30, "table-30", false, Definition({"Id", "Customer"})),
                                  Plan(40, "table-40", false, Definition({"Id"})),
                                  Plan(60, "table-60", false, Definition({"Id", "Name"})),
                                  Plan(70, "table-70", false, Definition({"Id"}))};
  EXPECT_EQ(NameFromOtherCopies(live, {namedByOlder, TablesNamedByCatalog(oldest)}), 2u);
  EXPECT_EQ(live[0].Name, "Orders");  // the first list that names it, newest first
  EXPECT_EQ(live[1].Name, "Notes");
  EXPECT_TRUE(live[1].NamedFromCatalog);
  EXPECT_EQ(live[2].Name, "table-60");  // other columns: another table
  EXPECT_EQ(live[3].Name, "table-70");  // no copy's catalog names it
}

TEST(OlderCopies, ATableWithoutItsDefinitionTakesTheOneTheOtherCopiesAgreeOnWhereItsRowsFit) {
  const auto plan = [](std::uint32_t owner, std::string name, bool fromCatalog,
                       std::optional<TTableDefinition> parsed) {
    TTablePlan made = Plan(owner, std::move(name), fromCatalog, std::move(parsed));
    made.Pages.emplace_back(70, 0);  // a data page of the table
    return made;
  };
  // Two other copies: both hold the definition of "Sales" (its stored row count differs, as
  // rows were deleted between them); "Notes" has other columns in each; "Stock" is untyped.
  TTableDefinition sales = Definition({"Id", "Amount"});
  TTableDefinition salesLater = sales;
  salesLater.StoredRowCount = 7;
  const std::vector<TTablePlan> older = {plan(30, "Sales", true, sales),
                                         plan(40, "Notes", true, Definition({"Id"})),
                                         plan(50, "Stock", true, std::nullopt),
                                         plan(60, "Items", true, Definition({"Id"}))};
  const std::vector<TTablePlan> oldest = {plan(30, "Sales", true, salesLater),
                                          plan(40, "Notes", true, Definition({"Id"}, 8)),
                                          plan(60, "Items", true, Definition({"Id"}))};
  std::vector<TTablePlan> live = {plan(30, "Sales", true, std::nullopt),
                                  plan(40, "Notes", true, std::nullopt),
                                  plan(50, "Stock", true, std::nullopt),
                                  plan(60, "Orders", true, std::nullopt),  // another table there
                                  plan(30, "table-30", false, std::nullopt),
                                  plan(70, "Later", true, std::nullopt)};
  live[4].Pages.clear();  // nothing to read: nothing to type
  std::vector<std::uint32_t> asked;
  const std::size_t given = DefinitionsFromOtherCopies(
      live, {&older, nullptr, &oldest}, [&](const TTablePlan& table, const TTableDefinition&) {
        asked.push_back(table.Owner);
        return true;
      });
  EXPECT_EQ(given, 1u);
  ASSERT_TRUE(live[0].Definition);
  EXPECT_EQ(live[0].Definition->Columns.size(), 2u);
  EXPECT_FALSE(live[1].Definition);  // the copies disagree on its columns
  EXPECT_FALSE(live[2].Definition);  // no copy knows its columns
  EXPECT_FALSE(live[3].Definition);  // two names for one page: two tables
  EXPECT_FALSE(live[4].Definition);
  EXPECT_FALSE(live[5].Definition);
  EXPECT_EQ(asked, std::vector<std::uint32_t>{30});

  // Rows that do not have exactly its shape are not read with it.
  std::vector<TTablePlan> other = {plan(30, "Sales", true, std::nullopt)};
  EXPECT_EQ(DefinitionsFromOtherCopies(other, {&older},
                                       [](const TTablePlan&, const TTableDefinition&) {
                                         return false;
                                       }),
            0u);
  EXPECT_FALSE(other[0].Definition);
}

TEST(OlderCopies, WhereRowsSayNothingTheCatalogsNewestDateTellsTheNewer) {
  // Both heads survive and no row was deleted between them: the copy found before the live
  // file's base was changed later (its catalog's newest DateUpdate), so it is the newer.
  TMemoryStore store;
  TDatabasePages database;
  database.Base = 100 * kPage;
  const TRows rows = {{"id1", 0}, {"id2", 0}};
  const TCopyPages split = AddCopy(store, database, 0, false, true, rows, 44256.5);
  AddCopy(store, database, 100, true, true, rows, 44228.5);
  TCopiesOfDatabase copies = SplitOlderCopy(store, store.Entries, database);
  ASSERT_EQ(copies.Copies.size(), 2u);
  EXPECT_EQ(copies.Evidence, TNewerEvidence::CatalogDates);
  EXPECT_TRUE(copies.Copies[0].Split);
  EXPECT_EQ(copies.Copies[0].Pages.Pages.at(30), split.Indexes.back());
  EXPECT_EQ(copies.Copies[1].Reason.Evidence, TNewerEvidence::CatalogDates);
  EXPECT_EQ(NewerBecauseText(copies),
            "the newer copy's catalog was last changed 2021-03-01 12:00:00, the older copy's "
            "2021-02-01 12:00:00");

  // The same dates: nothing tells, and the copy split off is named as the other copy.
  TMemoryStore same;
  TDatabasePages both;
  both.Base = 100 * kPage;
  AddCopy(same, both, 0, false, true, rows, 44228.5);
  AddCopy(same, both, 100, true, true, rows, 44228.5);
  copies = SplitOlderCopy(same, same.Entries, both);
  ASSERT_EQ(copies.Copies.size(), 2u);
  EXPECT_EQ(copies.Evidence, TNewerEvidence::None);
  EXPECT_FALSE(copies.Copies[0].Split);
  EXPECT_EQ(CopyName("database-1", false, 1), "database-1 (other copy)");
  EXPECT_EQ(CopyName("database-1", false, 2), "database-1 (other copy 2)");
}

// Two older copies without their heads before the live file, the second right after the
// first (nothing between them): each deleted rows the one before it had live.
struct TThreeCopies {
  TMemoryStore Store;
  TDatabasePages Database;
  TCopyPages Oldest, Middle, Live;

  TThreeCopies() {
    Database.Base = 200 * kPage;
    Oldest = AddCopy(Store, Database, 0, false, false, {{"id1", 0}, {"id2", 0}, {"id3", 0}});
    Middle = AddCopy(Store, Database, 30, false, false,
                     {{"id1", 0}, {"id2", kDeleted}, {"id3", 0}});
    Live = AddCopy(Store, Database, 200, true, true,
                   {{"id1", 0}, {"id2", kDeleted}, {"id3", kDeleted}});
  }
};

std::vector<std::size_t> IndexesOf(const TDatabasePages& pages) {
  std::vector<std::size_t> indexes;
  for (const auto& [number, index] : pages.Pages) indexes.push_back(index);
  std::sort(indexes.begin(), indexes.end());
  return indexes;
}

TEST(OlderCopies, EveryOlderCopyIsSplitOffEndingWhereTheNextBeginsAndTheyAreOrderedNewestFirst) {
  const TThreeCopies disk;
  const TCopiesOfDatabase copies = SplitOlderCopy(disk.Store, disk.Store.Entries, disk.Database);
  ASSERT_EQ(copies.Copies.size(), 3u);
  const TDatabaseCopy& live = copies.Copies[0];
  const TDatabaseCopy& middle = copies.Copies[1];
  const TDatabaseCopy& oldest = copies.Copies[2];
  EXPECT_TRUE(live.Newer);
  EXPECT_FALSE(live.Split);
  EXPECT_EQ(IndexesOf(live.Pages), disk.Live.Indexes);
  // The oldest copy stops where the middle one's base lies, though no gap parts them.
  EXPECT_EQ(IndexesOf(middle.Pages), disk.Middle.Indexes);
  EXPECT_EQ(IndexesOf(oldest.Pages), disk.Oldest.Indexes);
  EXPECT_EQ(middle.Pages.Base, 30 * kPage);
  EXPECT_EQ(oldest.Pages.Base, 0);
  EXPECT_EQ(oldest.Pages.LastOffset, 21 * kPage);
  for (const TDatabaseCopy* copy : {&middle, &oldest}) {
    EXPECT_TRUE(copy->Split);
    EXPECT_EQ(copy->SplitFrom, 0u);
    EXPECT_FALSE(copy->Newer);
    EXPECT_EQ(copy->Reason.Evidence, TNewerEvidence::DeletedRows);
  }
  // Each reason says what the live file deleted of that copy's live rows.
  EXPECT_EQ(middle.Reason.RowsDeletedSince, 1);
  EXPECT_EQ(oldest.Reason.RowsDeletedSince, 2);
  EXPECT_EQ(CopyName("database-1", true, 1), "database-1 (older copy)");
  EXPECT_EQ(CopyName("database-1", true, 2), "database-1 (older copy 2)");

  // Each report says each copy with its own reason, and the pages of both set apart.
  TDatabaseReport first, second, third;
  first.Name = "database-1";
  second.Name = "database-1 (older copy)";
  third.Name = "database-1 (older copy 2)";
  AccountForCopies(copies, {&first, &second, &third});
  EXPECT_EQ(first.OlderCopies, (std::vector<std::string>{second.Name, third.Name}));
  ASSERT_EQ(first.OlderCopiesNewerBecause.size(), 2u);
  EXPECT_EQ(first.OlderCopiesNewerBecause[1],
            "2 rows live in the older copy are deleted in the newer one, byte for byte the same");
  EXPECT_EQ(OlderCopyBecause(first, 0), second.NewerBecause);
  EXPECT_EQ(first.NewerBecause, second.NewerBecause);
  EXPECT_EQ(third.NewerBecause, first.OlderCopiesNewerBecause[1]);
  // Each copy split off is set apart from the live one's pages, in the order written.
  std::vector<std::size_t> pagesOf[3];
  for (std::size_t k = 0; k < 3; ++k) {
    for (const auto& [number, index] : copies.Copies[k].Pages.Pages) pagesOf[k].push_back(index);
  }
  std::vector<std::size_t> split = pagesOf[2];
  split.insert(split.end(), pagesOf[1].begin(), pagesOf[1].end());
  std::vector<TDatabaseReport> written = {first, second, third};
  AccountForPages(disk.Store.Entries, {pagesOf[0], pagesOf[1], pagesOf[2]}, {split, {}, {}}, written);
  ASSERT_EQ(written[0].PagesSetApart.size(), 2u);
  EXPECT_EQ(written[0].PagesSetApart[0].Database, second.Name);
  EXPECT_EQ(written[0].PagesSetApart[1].Database, third.Name);
  EXPECT_TRUE(written[1].PagesSetApart.empty());
}

TEST(OlderCopies, ABaseWhoseTiesUseAnotherCopysDefinitionsIsThatCopyAtOtherNumbers) {
  // The older copy has definitions at its pages 10, 12 and 14. Seen from place 2, its pages
  // 20 to 23 of tables 10 and 12 land on definitions too (at 12 and 14): two votes, as many
  // as its true base 0 has. The ties from place 2 use definitions the copy at base 0 uses:
  // it is that copy numbered wrongly, and it neither cuts the copy short nor is split off.
  TDisk disk(100);
  disk.Apart(10, TPageKind::Definition);
  disk.Apart(12, TPageKind::Definition);
  disk.Apart(14, TPageKind::Definition);
  disk.Apart(20, TPageKind::Data, 10, DataPage(10, {{"id1", 0}, {"id2", 0}}));
  disk.Apart(21, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}}));
  // Seen from base 2, pages 22 and 23 of table 10 and 12 tie to definitions 12 and 14.
  disk.Apart(22, TPageKind::Data, 10, DataPage(10, {{"id3", 0}, {"id4", 0}}));
  disk.Apart(23, TPageKind::Data, 12, DataPage(12, {{"x3", 0}, {"x4", 0}}));
  disk.Live(0, TPageKind::Header);
  disk.Live(10, TPageKind::Definition);
  disk.Live(12, TPageKind::Definition);
  disk.Live(14, TPageKind::Definition);
  disk.Live(20, TPageKind::Data, 10, DataPage(10, {{"id1", 0}, {"id2", kDeleted}}));
  disk.Live(21, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}}));
  disk.Live(22, TPageKind::Data, 10, DataPage(10, {{"id3", 0}, {"id4", 0}}));
  disk.Live(23, TPageKind::Data, 12, DataPage(12, {{"x3", 0}, {"x4", 0}}));
  const TCopiesOfDatabase copies = disk.Split();
  ASSERT_EQ(copies.Copies.size(), 2u);
  EXPECT_EQ(copies.Copies[1].Pages.Base, 0);
  EXPECT_EQ(copies.Copies[1].Pages.Pages.size(), 7u);
}

TEST(OlderCopies, ASecondBaseWhosePagesRepeatNoRowOfTheCopyFoundIsAnotherPieceOfItNotACopy) {
  // The older copy in two pieces: its pages 10 to 21 from place 0, its pages 30 to 41 from
  // place 80 (whose base would be place 50). Each piece ties to definitions of its own, but
  // they hold other tables: no row of one repeats in the other.
  TDisk disk(200);
  disk.Apart(10, TPageKind::Definition);
  disk.Apart(12, TPageKind::Definition);
  disk.Apart(20, TPageKind::Data, 10, DataPage(10, {{"id1", 0}, {"id2", 0}}));
  disk.Apart(21, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}}));
  disk.Apart(80, TPageKind::Definition);
  disk.Apart(82, TPageKind::Definition);
  disk.Apart(90, TPageKind::Data, 30, DataPage(30, {{"p1", 0}, {"p2", 0}}));
  disk.Apart(91, TPageKind::Data, 32, DataPage(32, {{"q1", 0}, {"q2", 0}}));
  disk.Live(0, TPageKind::Header);
  for (const std::uint32_t number : {10u, 12u, 30u, 32u}) disk.Live(number, TPageKind::Definition);
  disk.Live(20, TPageKind::Data, 10, DataPage(10, {{"id1", 0}, {"id2", kDeleted}}));
  disk.Live(21, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}}));
  disk.Live(40, TPageKind::Data, 30, DataPage(30, {{"p1", 0}, {"p2", 0}}));
  disk.Live(41, TPageKind::Data, 32, DataPage(32, {{"q1", 0}, {"q2", 0}}));
  const TCopiesOfDatabase copies = disk.Split();
  ASSERT_EQ(copies.Copies.size(), 2u);
  EXPECT_EQ(copies.Copies[1].Pages.Base, 0);
  EXPECT_EQ(copies.Copies[1].Pages.Pages.size(), 8u);  // both pieces, from place 0
}

TEST(OlderCopies, TheDatabaseSeenFromABaseAFewPagesOnIsNoCopyOfItself) {
  // The live file's definitions at 10, 12, 13 and 15: seen from place 103, its pages 20 and
  // 21 (tables 10 and 12) land on definitions 13 and 15 by chance, and their rows repeat on
  // the older copy's pages. A copy holds other versions of the database's own pages: what
  // that base would take leaves the database only its header, so it is none.
  TDisk disk(100);
  disk.Apart(10, TPageKind::Definition);
  disk.Apart(12, TPageKind::Definition);
  const std::size_t old20 =
      disk.Apart(20, TPageKind::Data, 10, DataPage(10, {{"id1", 0}, {"id2", 0}}));
  disk.Apart(21, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}}));
  disk.Live(0, TPageKind::Header);
  for (const std::uint32_t number : {10u, 12u, 13u, 15u}) disk.Live(number, TPageKind::Definition);
  disk.Live(20, TPageKind::Data, 10, DataPage(10, {{"id1", 0}, {"id2", kDeleted}}));
  disk.Live(21, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}}));
  const TCopiesOfDatabase copies = disk.Split();
  ASSERT_EQ(copies.Copies.size(), 2u);
  EXPECT_EQ(copies.Copies[0].Pages.Pages.size(), 7u);
  EXPECT_EQ(copies.Copies[1].Pages.Base, 0);
  EXPECT_EQ(copies.Copies[1].Pages.Pages.at(20), old20);
  EXPECT_EQ(copies.Evidence, TNewerEvidence::DeletedRows);
}

TEST(OlderCopies, TheNewestIsTheCopyFoundNewerThanAnotherAndOlderThanNone) {
  // Copy A (place 0) deleted a row the live file holds: A is the newer of the two. Copy B
  // (place 30) lacks that row: nothing tells it from A, and the live file's header makes
  // the live file the newer of it and B. A is the newest; B is named as another copy.
  TDisk disk(200);
  disk.Apart(10, TPageKind::Definition);
  disk.Apart(12, TPageKind::Definition);
  disk.Apart(20, TPageKind::Data, 10, DataPage(10, {{"id1", 0}, {"id2", kDeleted}}));
  disk.Apart(21, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}}));
  disk.Apart(40, TPageKind::Definition);
  disk.Apart(42, TPageKind::Definition);
  disk.Apart(50, TPageKind::Data, 10, DataPage(10, {{"id1", 0}}));
  disk.Apart(51, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}}));
  disk.Live(0, TPageKind::Header);
  disk.Live(10, TPageKind::Definition);
  disk.Live(12, TPageKind::Definition);
  disk.Live(20, TPageKind::Data, 10, DataPage(10, {{"id1", 0}, {"id2", 0}}));
  disk.Live(21, TPageKind::Data, 12, DataPage(12, {{"x1", 0}, {"x2", 0}}));
  const TCopiesOfDatabase copies = disk.Split();
  ASSERT_EQ(copies.Copies.size(), 3u);
  EXPECT_EQ(copies.Copies[0].Pages.Base, 0);
  EXPECT_TRUE(copies.Copies[0].Split);
  EXPECT_FALSE(copies.Copies[1].Split);  // the live file, older than A
  EXPECT_EQ(copies.Copies[1].Reason.Evidence, TNewerEvidence::DeletedRows);
  EXPECT_EQ(copies.Copies[2].Pages.Base, 30 * kPage);
  EXPECT_EQ(copies.Copies[2].Reason.Evidence, TNewerEvidence::None);
  // Both were split off the live file, which now stands second.
  EXPECT_EQ(copies.Copies[0].SplitFrom, 1u);
  EXPECT_EQ(copies.Copies[2].SplitFrom, 1u);
}

TEST(OlderCopies, DatabasesWithHeadersOfTheirOwnThatRepeatEachOthersRowsAreJoinedAsCopies) {
  TMemoryStore store;
  std::vector<TDatabasePages> databases(3);
  databases[0].Base = 0;
  databases[1].Base = 100 * kPage;
  databases[2].Base = 200 * kPage;
  const TCopyPages older = AddCopy(store, databases[0], 0, true, true, {{"id1", 0}, {"id2", 0}});
  // Another database of the same shape whose rows are its own: no copy.
  AddCopy(store, databases[1], 100, true, true, {{"a", 0}, {"b", 0}});
  // Its page 21 holds rows of its own too.
  store.Bytes.back() = DataPage(12, {{"y1", 0}, {"y2", 0}});
  const TCopyPages newer =
      AddCopy(store, databases[2], 200, true, true, {{"id1", 0}, {"id2", kDeleted}});
  std::vector<TCopiesOfDatabase> groups;
  for (const TDatabasePages& database : databases)
    groups.push_back(SplitOlderCopy(store, store.Entries, database));
  groups = JoinCopiesOfOneDatabase(store, store.Entries, std::move(groups));
  ASSERT_EQ(groups.size(), 2u);
  // The group of the first database, the newer first; the other database alone after it.
  ASSERT_EQ(groups[0].Copies.size(), 2u);
  EXPECT_EQ(IndexesOf(groups[0].Copies[0].Pages), newer.Indexes);
  EXPECT_EQ(IndexesOf(groups[0].Copies[1].Pages), older.Indexes);
  EXPECT_FALSE(groups[0].Copies[1].Split);
  EXPECT_EQ(groups[0].Evidence, TNewerEvidence::DeletedRows);
  ASSERT_EQ(groups[1].Copies.size(), 1u);
  EXPECT_EQ(groups[1].Copies[0].Pages.Base, 100 * kPage);

  // One page of rows in common is not enough.
  store.Bytes[older.Indexes[4]] = DataPage(12, {{"z1", 0}, {"z2", 0}});
  groups.clear();
  for (const TDatabasePages& database : databases)
    groups.push_back(SplitOlderCopy(store, store.Entries, database));
  EXPECT_EQ(JoinCopiesOfOneDatabase(store, store.Entries, std::move(groups)).size(), 3u);
}

TEST(PagesSetApart, EveryPageIsCountedOnceAndEachDatabaseSaysWhereThePagesItSetApartWent) {
  // Store pages 0 to 7. database-1 was written from 0 and 1, database-2 from 1 (counted as
  // database-1's) and 2 to 4. database-1 set apart 3 and 4 (database-2's), 5 (taken by
  // none) and 6, which database-2 set apart as well after taking it in a copy split off;
  // 7 is no database's.
  const std::vector<TPageEntry> entries = {
      {0, TPageKind::Header, 0},          {1 * kPage, TPageKind::Data, 40},
      {2 * kPage, TPageKind::Data, 40},   {9 * kPage, TPageKind::Data, 40},
      {4 * kPage, TPageKind::Data, 40},   {6 * kPage, TPageKind::Data, 41},
      {5 * kPage, TPageKind::Definition, 0}, {8 * kPage, TPageKind::Data, 42}};
  std::vector<TDatabaseReport> databases(3);
  databases[0].Name = "database-1";
  databases[1].Name = "database-2";
  databases[2].Name = "unplaced";
  databases[2].Unplaced = true;
  databases[2].Pages = 3;  // the unplaced pages' own count is not the accounting's
  const TPageAccount account =
      AccountForPages(entries, {{0, 1}, {1, 2, 3, 4}}, {{3, 4, 5, 6}, {6}}, databases);
  EXPECT_EQ(account.InDatabases, 5);
  EXPECT_EQ(account.SetApart, 2);
  EXPECT_EQ(account.Unplaced, 1);
  EXPECT_EQ(databases[0].Pages, 2);
  EXPECT_EQ(databases[1].Pages, 3);
  EXPECT_EQ(databases[2].Pages, 3);

  // Those another database took first, then those none took.
  ASSERT_EQ(databases[0].PagesSetApart.size(), 2u);
  const TPagesSetApart& second = databases[0].PagesSetApart[0];
  EXPECT_EQ(second.Database, "database-2");
  EXPECT_EQ(second.Pages, 2);
  EXPECT_EQ(second.FirstOffset, 4 * kPage);
  EXPECT_EQ(second.LastOffset, 9 * kPage);
  const TPagesSetApart& none = databases[0].PagesSetApart[1];
  EXPECT_EQ(none.Database, "");
  EXPECT_EQ(none.Pages, 1);
  EXPECT_EQ(none.FirstOffset, 6 * kPage);
  // Page 6 is said once, by the last database that set it apart.
  ASSERT_EQ(databases[1].PagesSetApart.size(), 1u);
  EXPECT_EQ(databases[1].PagesSetApart[0].Database, "");
  EXPECT_EQ(databases[1].PagesSetApart[0].Pages, 1);
  EXPECT_EQ(databases[1].PagesSetApart[0].FirstOffset, 5 * kPage);
  EXPECT_TRUE(databases[2].PagesSetApart.empty());

  // Said in the summary and the JSON, adding up to the pages read.
  TRecoveryReport report;
  report.PagesInStore = 8;
  report.PagesInDatabases = account.InDatabases;
  report.PagesSetApart = account.SetApart;
  report.PagesUnplaced = account.Unplaced;
  report.Databases = databases;
  EXPECT_NE(RecoveryReportText(report).find(
                "8 pages read: 5 in databases, 2 set apart by a database as none of its own, 1 "
                "tied to no database\n"),
            std::string::npos);
  const nlohmann::json json = RecoveryReportJson(report);
  EXPECT_EQ(json["pages_in_databases"], 5);
  EXPECT_EQ(json["pages_set_apart_by_databases"], 2);
  EXPECT_EQ(json["pages_unplaced"], 1);
  EXPECT_TRUE(json["databases"][0]["pages_set_apart"][1]["database"].is_null());
}

}  // namespace
}  // namespace quillon::recover
