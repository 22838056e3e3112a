// The row reader on hand-built pages: rows live, deleted and moved, text in both forms,
// memo values inline, in one LVAL row and in a chain, pointers that fit several rows or
// none, and pages of garbage.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "jet/row_layout.h"
#include "rows/jet_page_builder.h"
#include "jet/text.h"
#include "rows/page_catalog.h"
#include "rows/row_recovery.h"

namespace quillon {
namespace {

using namespace quillon::testing;

std::optional<std::string> TextOnly(std::span<const std::uint8_t> bytes) {
  return jet::DecodeJetText(bytes, jet::TTextPolicy::TextOnly);
}

constexpr std::uint16_t kDeleted = 0x8000;
constexpr std::uint16_t kOverflow = 0x4000;

std::vector<TRecoveredRow> RowsOf(const TRowRecovery& recovery, std::uint32_t owner) {
  std::vector<TRecoveredRow> rows;
  for (std::size_t t = 0; t < recovery.Tables().size(); ++t) {
    if (recovery.Tables()[t].Owner != owner) continue;
    recovery.ForEachRow(t, [&](const TRecoveredRow& row) { rows.push_back(row); });
  }
  return rows;
}

const TRecoveredTable* TableOf(const TRowRecovery& recovery, std::uint32_t owner) {
  for (const TRecoveredTable& table : recovery.Tables()) {
    if (table.Owner == owner) return &table;
  }
  return nullptr;
}

void AddPages(TPageCatalog& catalog, const std::vector<TJetPage>& pages) {
  for (const TJetPage& page : pages) {
    const auto bytes = page.Bytes();
    catalog.Add(catalog.PageCount(), TPageBytes(bytes.data(), bytes.size()));
  }
}

TEST(RowRecovery, ReadsRowsAndMemosOfHandBuiltPages) {
  const TBytes chainFirst = Compressed("a memo in two ");
  const TBytes chainSecond = {'p', 'a', 'r', 't', 's'};
  const TBytes single = Utf16(u"a memo in one row");
  // Pages 10 and 11 of the lost database hold table 24's rows, 20 to 22 its memo values.
  TJetPage page10(24);
  page10.Row(JetRow(5, {1, 0, 0, 0}, {Compressed("Ivan"), Utf16(u"Athens 址交"),
                                      MemoHead(kInlineFlag, 8, 0, 0, Compressed("short!"))}))
      .Row(JetRow(5, {2, 0, 0, 0}, {Compressed("Gone"), Utf16(u"Oslo"), {}}),
           kDeleted | kOverflow)
      .Row({1, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kOverflow)  // moved to page 11, row 1
      .Row(JetRow(5, {4, 0, 0, 0},
                  {Compressed(std::string("Bei\0\x17\x53\xAC\x4E\0 x", 11)),
                   MemoHead(kSingleRowFlag, static_cast<std::uint32_t>(single.size()), 20, 1),
                   MemoHead(0, static_cast<std::uint32_t>(chainFirst.size() + chainSecond.size()),
                            21, 0)}));
  TJetPage page11(24);
  page11.Row(JetRow(5, {5, 0, 0, 0}, {Compressed("Bob"), {}, {}}))
      .Row(JetRow(5, {3, 0, 0, 0}, {Compressed("Moved"), Utf16(u"Rome"), {}}), kDeleted);
  TJetPage page20(kLval);
  page20.Row(Utf16(u"someone else's memo")).Row(single);
  TJetPage page21(kLval);
  page21.Row(ChainPart(22, 0, chainFirst));
  TJetPage page22(kLval);
  page22.Row(ChainPart(0, 0, chainSecond));

  TPageCatalog catalog;
  AddPages(catalog, {page10, page11, page20, page21, page22});
  const TRowRecovery recovery(catalog);
  const auto rows = RowsOf(recovery, 24);

  // The moved row is shown once, where its data lies; its pointer is tied to it, not listed.
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].State, TRowState::Live);
  EXPECT_EQ(jet::HexText(rows[0].Fixed), "01000000");
  ASSERT_EQ(rows[0].Values.size(), 3u);
  EXPECT_EQ(rows[0].Values[0].Kind, TValueKind::Text);
  EXPECT_EQ(rows[0].Values[0].Text, "Ivan");
  EXPECT_EQ(rows[0].Values[1].Text, "Athens 址交");
  EXPECT_EQ(rows[0].Values[2].Kind, TValueKind::LongValue);
  EXPECT_EQ(rows[0].Values[2].LongKind, TLongValueKind::Inline);
  EXPECT_EQ(rows[0].Values[2].Text, "short!");

  EXPECT_EQ(rows[1].State, TRowState::Deleted);
  EXPECT_EQ(rows[1].Values[0].Text, "Gone");
  EXPECT_EQ(rows[1].Values[2].Kind, TValueKind::Empty);

  EXPECT_EQ(rows[2].Values[0].Text, "Bei北京 x");
  EXPECT_EQ(rows[2].Values[1].Status, TMatchStatus::Found);
  EXPECT_EQ(rows[2].Values[1].Text, "a memo in one row");
  EXPECT_EQ(rows[2].Values[2].LongKind, TLongValueKind::Chain);
  EXPECT_EQ(rows[2].Values[2].Status, TMatchStatus::Found);
  EXPECT_EQ(rows[2].Values[2].Text, "a memo in two parts");

  EXPECT_EQ(rows[3].Fragment, 1u);
  EXPECT_EQ(rows[3].Values[0].Text, "Bob");

  EXPECT_EQ(rows[4].Fragment, 1u);
  EXPECT_EQ(rows[4].Row, 1u);
  EXPECT_EQ(rows[4].State, TRowState::Live);
  EXPECT_TRUE(rows[4].MovedData);
  EXPECT_TRUE(rows[4].PointerKnown);
  EXPECT_EQ(rows[4].PointerFragment, 0u);
  EXPECT_EQ(rows[4].PointerRow, 2u);
  EXPECT_EQ(rows[4].Values[0].Text, "Moved");

  const TRecoveredTable* table = TableOf(recovery, 24);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->LiveRows, 4u);
  EXPECT_EQ(table->DeletedRows, 1u);
  EXPECT_EQ(table->LongValuesFound, 2u);
  EXPECT_EQ(table->ColumnCounts.at(5), 5u);
  EXPECT_EQ(recovery.Totals().MovedRowsFound, 1u);
}

// A table's rows keep the column counts they were written with: each is read through its
// own count and offset table, deleted ones too, and a table of fixed-length columns only
// keeps no variable section in rows of any count.
TEST(RowRecovery, RowsOfOlderColumnCountsAreEachReadAsWritten) {
  TJetPage changed(50);
  changed.Row(JetRow(4, {1, 0, 0, 0}, {Compressed("new"), Compressed("added")}))
      .Row(JetRow(3, {2, 0, 0, 0}, {Compressed("old")}), kDeleted | kOverflow);
  TJetPage fixedOnly(60);
  fixedOnly.Row(FixedOnlyRow(2, {1, 0, 0, 0}, NullMask(2, {0, 1})))
      .Row(FixedOnlyRow(3, {5, 0, 0, 0, 7, 0, 0, 0}, NullMask(3, {0, 1, 2})));
  TPageCatalog catalog;
  AddPages(catalog, {changed, fixedOnly});
  const TRowRecovery recovery(catalog);

  const auto rows = RowsOf(recovery, 50);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].ColumnCount, 4u);
  ASSERT_EQ(rows[0].Values.size(), 2u);
  EXPECT_EQ(rows[0].Values[1].Text, "added");
  EXPECT_EQ(rows[1].State, TRowState::Deleted);
  EXPECT_EQ(rows[1].ColumnCount, 3u);
  EXPECT_EQ(jet::HexText(rows[1].Fixed), "02000000");
  ASSERT_EQ(rows[1].Values.size(), 1u);
  EXPECT_EQ(rows[1].Values[0].Text, "old");
  const TRecoveredTable* table = TableOf(recovery, 50);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->ColumnCounts.at(4), 1u);
  EXPECT_EQ(table->ColumnCounts.at(3), 1u);
  EXPECT_EQ(table->SkippedRows, 0u);

  const auto fixedRows = RowsOf(recovery, 60);
  ASSERT_EQ(fixedRows.size(), 2u);
  EXPECT_EQ(jet::HexText(fixedRows[0].Fixed), "01000000");
  EXPECT_TRUE(fixedRows[0].Values.empty());
  EXPECT_EQ(jet::HexText(fixedRows[1].Fixed), "0500000007000000");
  EXPECT_TRUE(fixedRows[1].Values.empty());
}

// Where the file cannot say which LVAL row a pointer means, the value is not guessed.
TEST(RowRecovery, PointersThatFitSeveralRowsOrNoneAreSaidToBeSo) {
  // More LVAL pages: each holds `first` or `second` as its row 0, and with `extra` a row 1
  // too, so that the page differs from the others while the value is the same.
  const auto recover = [](const TBytes& first, const TBytes& second,
                          const std::vector<std::pair<bool, TBytes>>& more = {}) {
    TJetPage data(7);
    data.Row(JetRow(1, {}, {MemoHead(kSingleRowFlag, 10, 30, 0)}))
        .Row(JetRow(1, {}, {MemoHead(kSingleRowFlag, 11, 30, 0)}))
        .Row({1, 99, 0, 0, 0, 0}, kOverflow);  // moved to page 99, which is not in the file
    TJetPage lvalA(kLval);
    lvalA.Row(first);
    TJetPage lvalB(kLval);
    lvalB.Row(second);
    std::vector<TJetPage> pages{data, lvalA, lvalB};
    for (const auto& [isFirst, extra] : more) {
      TJetPage lval(kLval);
      lval.Row(isFirst ? first : second);
      if (!extra.empty()) lval.Row(extra);
      pages.push_back(lval);
    }
    TPageCatalog catalog;
    AddPages(catalog, pages);
    const TRowRecovery recovery(catalog);
    return RowsOf(recovery, 7);
  };
  const auto rivals = recover(Utf16(u"first"), Utf16(u"other"));
  ASSERT_EQ(rivals.size(), 3u);
  EXPECT_EQ(rivals[0].Values[0].Status, TMatchStatus::Ambiguous);
  EXPECT_EQ(rivals[0].Values[0].Candidates, 2u);
  EXPECT_EQ(rivals[0].Values[0].Text, "");
  EXPECT_EQ(rivals[1].Values[0].Status, TMatchStatus::NotFound);
  EXPECT_EQ(rivals[1].Values[0].Where.Page, 30u);
  EXPECT_TRUE(rivals[2].Moved);
  EXPECT_EQ(rivals[2].State, TRowState::Moved);
  EXPECT_EQ(rivals[2].MoveStatus, TMatchStatus::NotFound);
  EXPECT_FALSE(rivals[2].HasData);

  // Two copies of the same page: either is the value.
  const auto copies = recover(Utf16(u"first"), Utf16(u"first"));
  EXPECT_EQ(copies[0].Values[0].Status, TMatchStatus::Found);
  EXPECT_EQ(copies[0].Values[0].Text, "first");
  // Different pages that hold the same value in that row: still one value.
  const auto samePart = recover(Utf16(u"first"), Utf16(u"first"), {{true, Utf16(u"x")}});
  EXPECT_EQ(samePart[0].Values[0].Status, TMatchStatus::Found);
  EXPECT_EQ(samePart[0].Values[0].Text, "first");
  // Copies and other pages mixed: the values are counted, not the pages.
  const auto mixed = recover(Utf16(u"first"), Utf16(u"other"),
                             {{true, {}}, {false, Utf16(u"x")}, {true, Utf16(u"y")}});
  EXPECT_EQ(mixed[0].Values[0].Status, TMatchStatus::Ambiguous);
  EXPECT_EQ(mixed[0].Values[0].Candidates, 2u);
}

// Every length, offset and pointer comes from the page: garbage costs skipped rows, and a
// chain that points back at itself ends.
TEST(RowRecovery, ALoopOfLongValueRowsFindsNoValue) {
  // Nine LVAL pages (20 to 28) whose one row each is just a pointer to the next, the last
  // back to the first; fifty memo heads point into the loop as chains of 100 bytes.
  std::vector<TJetPage> pages;
  TJetPage rows(24);
  for (std::uint8_t i = 0; i < 50; ++i)
    rows.Row(JetRow(2, {i, 0, 0, 0}, {MemoHead(0, 100, 20 + i % 9, 0)}));
  pages.push_back(rows);
  for (std::uint32_t page = 20; page <= 28; ++page) {
    TJetPage loop(kLval);
    loop.Row(ChainPart(page == 28 ? 20 : page + 1, 0, {}));
    pages.push_back(loop);
  }
  TPageCatalog catalog;
  AddPages(catalog, pages);
  const TRowRecovery recovery(catalog);
  const auto found = RowsOf(recovery, 24);
  ASSERT_EQ(found.size(), 50u);
  for (const TRecoveredRow& row : found) {
    ASSERT_EQ(row.Values.size(), 1u);
    EXPECT_NE(row.Values[0].Status, TMatchStatus::Found);
  }
}

TEST(RowRecovery, GarbagePagesCostSkippedRowsNeverACrash) {
  std::mt19937 random(7);
  TPageCatalog catalog;
  for (int i = 0; i < 300; ++i) {
    std::array<std::uint8_t, kFragmentSize> page;
    for (auto& byte : page) byte = static_cast<std::uint8_t>(random());
    page[0] = page[1] = 1;
    if (i % 3 == 0) std::memcpy(page.data() + 4, "LVAL", 4);
    if (i % 5 == 0) page[13] = static_cast<std::uint8_t>(random() % 4);  // few rows
    if (i % 7 == 0) page[12] = page[13] = 0xFF;                          // more than fit
    catalog.Add(catalog.PageCount(), page);
  }
  TJetPage data(9);
  data.Row(JetRow(1, {}, {MemoHead(0, 100000, 50, 0)}))
      // Column count 7, offsets past the row: the only row of 7 columns, so read as one of
      // fixed-length columns only.
      .Row({7, 0, 0xFF, 0xFF, 0, 0})
      .Row({1, 0, 0, 0, 1, 0, 0xFF});
  TJetPage loop(kLval);
  loop.Row(ChainPart(50, 0, TBytes(100, 'x')));  // its own next part, were it page 50
  AddPages(catalog, {data, loop});

  const TRowRecovery recovery(catalog);
  std::size_t visited = 0;
  for (std::size_t t = 0; t < recovery.Tables().size(); ++t) {
    recovery.ForEachRow(t, [&](const TRecoveredRow&) { ++visited; });
  }
  EXPECT_GT(recovery.Totals().SkippedRows, 100u);
  const auto rows = RowsOf(recovery, 9);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Values[0].Status, TMatchStatus::NotFound);
  EXPECT_EQ(jet::HexText(rows[1].Fixed), "ffff00");
  EXPECT_EQ(TableOf(recovery, 9)->SkippedRows, 1u);
  EXPECT_EQ(visited, recovery.Totals().LiveRows + recovery.Totals().DeletedRows +
                         recovery.Totals().MovedRowsNotFound);
}

TEST(JetText, DecodesBothFormsAndRefusesWhatIsNotText) {
  EXPECT_EQ(TextOnly(Compressed("Z\xFCrich")), "Zürich");
  EXPECT_EQ(TextOnly(Compressed(std::string("\0\x17\x53", 3))), "北");
  EXPECT_EQ(TextOnly(Utf16(u"\U0001F600 ok")), "\U0001F600 ok");
  EXPECT_EQ(TextOnly(Utf16(u"tab\tand\r\nlines")), "tab\tand\r\nlines");
  EXPECT_EQ(TextOnly(TBytes{}), "");
  EXPECT_FALSE(TextOnly(TBytes{0x41, 0x00, 0x42}));                  // odd length
  EXPECT_FALSE(TextOnly(TBytes{0x01, 0x00, 0x00, 0x00}));            // controls
  EXPECT_FALSE(TextOnly(Utf16(std::u16string(1, char16_t{0xD800}))));  // lone surrogate
  EXPECT_FALSE(TextOnly(Utf16(u"\uE000\uE001")));  // private use, as binary bytes give
  EXPECT_FALSE(TextOnly(Compressed(std::string("A\0\x42", 3)) ));  // half a character
}

TEST(RowLayout, ChecksEveryCountAndOffsetAgainstTheRow) {
  const TBytes good = JetRow(3, {9, 9}, {Compressed("ab"), {}});
  const auto layout = jet::ReadRowLayout(good, false);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->ColumnCount(), 3u);
  EXPECT_EQ(jet::HexText(layout->Fixed()), "0909");
  ASSERT_EQ(layout->VarCount(), 2u);
  EXPECT_EQ(jet::HexText(layout->Var(0)), "fffe6162");
  EXPECT_TRUE(layout->Var(1).empty());

  TBytes outOfOrder = good;
  outOfOrder[good.size() - 1 - 2 - 2] = 0x30;  // variable column 0 starts past column 1
  EXPECT_FALSE(jet::ReadRowLayout(outOfOrder, false));
  EXPECT_FALSE(jet::ReadRowLayout(JetRow(1, {}, {{1}, {2}}), false));  // more variable columns than columns
  EXPECT_FALSE(jet::ReadRowLayout(TBytes{3, 0, 0}, false));
  EXPECT_FALSE(jet::ReadRowLayout(JetRow(0, {}, {}), false));
}

}  // namespace
}  // namespace quillon
