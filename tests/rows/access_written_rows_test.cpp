// What files that Access wrote hold and the library-written fixtures do not: tables of
// fixed-length columns only, memo heads with leftover bytes, moved rows in copies of a
// database, the catalog's table names; and pages spilled to a temporary file read back the
// same as pages held in memory.

#include <algorithm>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "rows/catalog_objects.h"
#include "jet/text.h"
#include "rows/page_catalog.h"
#include "rows/row_recovery.h"
#include "rows/jet_page_builder.h"
#include "support/memory_file_system.h"

namespace quillon {
namespace {

using namespace quillon::testing;

constexpr std::uint16_t kMovedData = 0x8000;  // alone: the data of a moved row
constexpr std::uint16_t kOverflow = 0x4000;

// Column count, fixed part, null mask: no variable section at all.
TBytes FixedRow(std::uint16_t columns, const TBytes& fixed) {
  TBytes row;
  PutU16(row, columns);
  row.insert(row.end(), fixed.begin(), fixed.end());
  for (int i = 0; i < (columns + 7) / 8; ++i) row.push_back(0xFF);
  return row;
}

// A catalog row as Access writes it: 17 columns, the fixed part through Flags, then Name and
// Owner among the variable-length columns.
TBytes CatalogRow(std::uint32_t id, std::uint16_t type, const std::u16string& name) {
  TBytes fixed;
  PutU32(fixed, id);
  PutU32(fixed, 0x0F000001);
  PutU16(fixed, type);
  fixed.resize(fixed.size() + 16, 0x40);  // two dates
  PutU32(fixed, 0);
  return JetRow(17, fixed, {Utf16(name), {0xC0, 0x75}});
}

std::vector<TRecoveredRow> RowsOf(const TRowRecovery& recovery, std::uint32_t owner) {
  std::vector<TRecoveredRow> rows;
  for (std::size_t t = 0; t < recovery.Tables().size(); ++t) {
    if (recovery.Tables()[t].Owner != owner) continue;
    recovery.ForEachRow(t, [&](const TRecoveredRow& row) { rows.push_back(row); });
  }
  return rows;
}

const TRecoveredTable& TableOf(const TRowRecovery& recovery, std::uint32_t owner) {
  for (const TRecoveredTable& table : recovery.Tables()) {
    if (table.Owner == owner) return table;
  }
  ADD_FAILURE() << "no table of owner " << owner;
  return recovery.Tables().front();
}

void AddPages(TPageCatalog& catalog, const std::vector<TJetPage>& pages) {
  for (const TJetPage& page : pages) {
    const auto bytes = page.Bytes();
    catalog.Add(catalog.PageCount(), TPageBytes(bytes.data(), bytes.size()));
  }
}

// Order Details of a sample database: five fixed-length columns, 22 bytes, whatever the
// bytes look like when read as a variable section. A table with a variable column keeps
// its layout.
TEST(AccessWrittenRows, TablesOfFixedLengthColumnsOnlyKeepEveryRow) {
  TJetPage details(266);
  std::vector<TBytes> fixed;
  for (std::uint8_t i = 0; i < 40; ++i) {
    // Order, product, price (currency), quantity, discount 0.0: the last bytes, read as a
    // variable-column count, say 0, and the quantity before them as a plausible offset.
    TBytes bytes = {static_cast<std::uint8_t>(i), 0x28, 0, 0, 11, 0, 0, 0,
                    0x60, 0x09, 0x02, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(12 + i % 5), 0,
                    0, 0, 0, 0};
    fixed.push_back(bytes);
    details.Row(FixedRow(5, bytes));
  }
  TJetPage customers(56);
  customers.Row(JetRow(3, {1, 0, 0, 0}, {Compressed("ALFKI"), Compressed("Alfreds")}))
      .Row(JetRow(3, {2, 0, 0, 0}, {Compressed("ANATR"), {}}));
  TPageCatalog catalog;
  AddPages(catalog, {details, customers});
  const TRowRecovery recovery(catalog);

  const auto rows = RowsOf(recovery, 266);
  ASSERT_EQ(rows.size(), 40u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].Fixed, fixed[i]) << i;
    EXPECT_TRUE(rows[i].Values.empty());
  }
  EXPECT_EQ(TableOf(recovery, 266).SkippedRows, 0u);
  const auto named = RowsOf(recovery, 56);
  ASSERT_EQ(named.size(), 2u);
  EXPECT_EQ(named[0].Values[1].Text, "Alfreds");
}

// A moved row's data (0x8000 alone) is live where it lies. Its pointer is tied to it only
// when exactly one row fits; copies of the database give each data row its copy's count,
// and two different rows that fit leave the pointer untied, with the count of candidates.
TEST(AccessWrittenRows, MovedRowsAreLiveWhereTheyLieAndTiedOnlyWhenCertain) {
  const auto database = [](const std::string& text) {
    TJetPage pointers(30);
    pointers.Row(JetRow(2, {1, 0}, {Compressed("stays")}))
        .Row({0, 41, 0, 0}, kOverflow);  // moved to page 41, row 0
    TJetPage data(30);
    data.Row(JetRow(2, {2, 0}, {Compressed(text)}), kMovedData)
        .Row(JetRow(2, {3, 0}, {Compressed("old")}), kMovedData | kOverflow);  // deleted
    return std::vector<TJetPage>{pointers, data};
  };
  const auto recover = [](const std::vector<std::vector<TJetPage>>& copies) {
    auto catalog = std::make_unique<TPageCatalog>();
    for (const auto& copy : copies) AddPages(*catalog, copy);
    return catalog;
  };

  {
    const auto catalog = recover({database("moved away")});
    const TRowRecovery recovery(*catalog);
    const auto rows = RowsOf(recovery, 30);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].Values[0].Text, "moved away");
    EXPECT_EQ(rows[1].State, TRowState::Live);
    EXPECT_TRUE(rows[1].PointerKnown);
    EXPECT_EQ(rows[1].PointerRow, 1u);
    EXPECT_EQ(rows[2].State, TRowState::Deleted);
    EXPECT_EQ(TableOf(recovery, 30).LiveRows, 2u);
  }
  {
    // Three identical copies: the data of each is shown, no tie claimed, nothing deleted.
    const auto catalog = recover({database("same"), database("same"), database("same")});
    const TRowRecovery recovery(*catalog);
    EXPECT_EQ(TableOf(recovery, 30).LiveRows, 6u);
    EXPECT_EQ(TableOf(recovery, 30).DeletedRows, 3u);
    EXPECT_EQ(TableOf(recovery, 30).MovedRowsNotFound, 0u);
    for (const TRecoveredRow& row : RowsOf(recovery, 30)) {
      EXPECT_NE(row.State, TRowState::Moved);
      EXPECT_FALSE(row.PointerKnown);
    }
  }
  {
    // Two versions: which data row is whose is not known, and not claimed.
    const auto catalog = recover({database("before"), database("after")});
    const TRowRecovery recovery(*catalog);
    const auto rows = RowsOf(recovery, 30);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[1].State, TRowState::Moved);
    EXPECT_EQ(rows[1].MoveStatus, TMatchStatus::Ambiguous);
    EXPECT_EQ(rows[1].MoveCandidates, 2u);
    EXPECT_FALSE(rows[1].HasData);
    EXPECT_EQ(rows[2].Values[0].Text, "before");
    EXPECT_EQ(rows[6].Values[0].Text, "after");
    EXPECT_FALSE(rows[6].PointerKnown);
    EXPECT_EQ(TableOf(recovery, 30).LiveRows, 4u);
  }
}

// The catalog names the tables by their definition page; a head whose unused bytes are
// not zero is a memo when its chain is in the file, and text when nothing fits it.
TEST(AccessWrittenRows, TablesAreNamedAndLooseMemoHeadsAreBelievedOnlyWhenFound) {
  TJetPage catalogPage(kCatalogOwner);
  catalogPage.Row(CatalogRow(0x0F000001, 3, u"Tables"))  // a container, not a table
      .Row(CatalogRow(24, 1, u"客户 Customers"))
      .Row(CatalogRow(40, 1, u"Gone"), kMovedData | kOverflow)  // deleted
      .Row(CatalogRow(2, 1, u"MSysObjects"));
  const TBytes first = Utf16(u"long memo, ");
  const TBytes second = Utf16(u"second part");
  TBytes looseHead = MemoHead(0, static_cast<std::uint32_t>(first.size() + second.size()), 90, 0);
  looseHead[8] = 0x10;  // leftover bytes where the head has unused ones
  looseHead[11] = 0x17;
  TJetPage table(24);
  // The second row's text reads as a chain head that points at nothing.
  table.Row(JetRow(2, {1, 0}, {looseHead})).Row(JetRow(2, {2, 0}, {Utf16(u"ABCDEF")}));
  TJetPage lval90(kLval);
  lval90.Row(ChainPart(91, 0, first));
  TJetPage lval91(kLval);
  lval91.Row(ChainPart(0, 0, second));
  TPageCatalog catalog;
  AddPages(catalog, {catalogPage, table, lval90, lval91});
  const TRowRecovery recovery(catalog);

  EXPECT_EQ(TableOf(recovery, 24).Name, "客户 Customers");
  EXPECT_EQ(TableOf(recovery, 2).Name, "MSysObjects");
  const auto names = ReadTableNames(catalog);
  EXPECT_EQ(names.count(40), 0u);
  EXPECT_EQ(names.size(), 2u);

  const auto rows = RowsOf(recovery, 24);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Values[0].Kind, TValueKind::LongValue);
  EXPECT_EQ(rows[0].Values[0].Text, "long memo, second part");
  EXPECT_EQ(rows[1].Values[0].Kind, TValueKind::Text);
  EXPECT_EQ(rows[1].Values[0].Text, "ABCDEF");
}

// Pages past the memory budget go to the spill stream; what is read is the same, and
// identical pages are stored once. Memory for rows is bounded too.
TEST(AccessWrittenRows, SpilledPagesReadTheSameAsPagesInMemory) {
  std::vector<TJetPage> pages;
  for (std::uint32_t i = 0; i < 12; ++i) {
    TJetPage data(100 + i % 3);
    data.Row(JetRow(2, {static_cast<std::uint8_t>(i), 0},
                    {MemoHead(kSingleRowFlag, 12 + 2 * i, 500 + i, 0)}));
    pages.push_back(data);
    TJetPage lval(kLval);
    lval.Row(Utf16(u"memo " + std::u16string(i + 1, u'a')));  // lengths tell them apart
    pages.push_back(lval);
  }
  pages.push_back(pages[0]);  // a copy
  const auto everything = [](const TRowRecovery& recovery) {
    std::string text;
    for (std::size_t t = 0; t < recovery.Tables().size(); ++t) {
      recovery.ForEachRow(t, [&](const TRecoveredRow& row) {
        text += jet::HexText(row.Fixed);
        for (const TRecoveredValue& value : row.Values) text += "|" + value.Text;
        text += "\n";
      });
    }
    return text;
  };
  TPageCatalog inMemory;
  AddPages(inMemory, pages);
  TMemoryFileSystem fileSystem;
  const auto spill = fileSystem.Open("/tmp/spill", TOpenMode::CreateExclusive);
  TPageCatalog spilled;
  spilled.SetSpill(spill.get(), "/tmp/spill", 3);
  AddPages(spilled, pages);
  spilled.FinishAdding();
  EXPECT_EQ(spilled.DistinctPages(), pages.size() - 1);
  EXPECT_EQ(spilled.SpilledPages(), pages.size() - 1 - 3);
  // The zeros between the row-offset table and the rows are not written.
  EXPECT_LT(fileSystem.Find("/tmp/spill")->Data.size(), (pages.size() - 1 - 3) * kFragmentSize);
  for (TPageIndex page = 0; page < inMemory.PageCount(); ++page) {
    ASSERT_TRUE(std::ranges::equal(spilled.Bytes(page), inMemory.Bytes(page))) << page;
  }
  {
    // Pages with nothing to leave out read back to the byte as well: no zeros at all, and
    // a row count that claims more entries than the page holds.
    TMemoryFileSystem otherFiles;
    const auto otherSpill = otherFiles.Open("/tmp/other", TOpenMode::CreateExclusive);
    TPageCatalog catalog;
    catalog.SetSpill(otherSpill.get(), "/tmp/other", 1);
    std::vector<std::array<std::uint8_t, kFragmentSize>> odd(3, pages[0].Bytes());
    for (std::size_t at = 16; at < kFragmentSize; ++at) {
      odd[1][at] = static_cast<std::uint8_t>(at % 251 + 1);
    }
    odd[2][kRowCountAt] = 0xFF;
    odd[2][kRowCountAt + 1] = 0xFF;
    odd[2][kFragmentSize - 1] = 0;
    odd[2][kFragmentSize / 2] = 7;
    for (const auto& bytes : odd) catalog.Add(catalog.PageCount(), TPageBytes(bytes));
    EXPECT_TRUE(std::ranges::equal(catalog.Bytes(1), odd[1]));  // still waiting to be written
    catalog.FinishAdding();
    for (TPageIndex page = 0; page < 3; ++page) {
      EXPECT_TRUE(std::ranges::equal(catalog.Bytes(page), odd[page])) << page;
    }
  }

  {
    // Pages read back in any order, before and after the last were written, are the pages
    // added: read alone, or with those that follow them in the temporary file.
    TMemoryFileSystem manyFiles;
    const auto manySpill = manyFiles.Open("/tmp/many", TOpenMode::CreateExclusive);
    TPageCatalog catalog;
    catalog.SetSpill(manySpill.get(), "/tmp/many", 2);
    std::vector<std::array<std::uint8_t, kFragmentSize>> many(600, pages[1].Bytes());
    for (std::size_t p = 0; p < many.size(); ++p) {
      for (std::size_t at = 16; at < kFragmentSize; ++at) {
        many[p][at] = static_cast<std::uint8_t>((at * 7 + p * 13) % 251 + 1);
      }
    }
    for (const auto& bytes : many) catalog.Add(catalog.PageCount(), TPageBytes(bytes));
    const auto check = [&](TPageIndex page) {
      EXPECT_TRUE(std::ranges::equal(catalog.Bytes(page), many[page])) << page;
    };
    for (const TPageIndex page : {300u, 301u, 5u, 6u, 7u, 599u, 2u, 3u}) check(page);
    catalog.FinishAdding();
    for (TPageIndex page = 0; page < many.size(); page += 3) check(page);
    for (TPageIndex page = static_cast<TPageIndex>(many.size()); page-- > 0;) check(page);
    for (TPageIndex page = 0; page < many.size(); ++page) check(page);
  }

  const TRowRecovery expected(inMemory);
  const TRowRecovery actual(spilled);
  EXPECT_EQ(everything(actual), everything(expected));
  EXPECT_EQ(actual.Totals().LongValuesFound, 13u);

  // Past a limit nothing more is read, and the totals say so.
  TRowLimits limits;
  limits.Rows = 5;
  const TRowRecovery limited(inMemory, limits);
  EXPECT_TRUE(limited.Totals().RowLimitReached);
  EXPECT_EQ(limited.Totals().LiveRows, 5u);
  EXPECT_FALSE(actual.Totals().RowLimitReached);

  // A spill stream that cannot be written is said to be so, not taken for pages.
  fileSystem.Put("/tmp/full", {})->WriteLimit = 64;  // room for less than one page
  const auto full = fileSystem.Open("/tmp/full", TOpenMode::ReadWriteShared);
  TPageCatalog failing;
  failing.SetSpill(full.get(), "/tmp/full", 1);
  EXPECT_THROW(
      {
        AddPages(failing, pages);
        failing.FinishAdding();
      },
      EQuillonError);
}

}  // namespace
}  // namespace quillon
