// The Jet row reader on hand-built pages and rows: slots, bounds, and rows written under
// older definitions of their table.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "jet/byte_view.h"
#include "jet/row_layout.h"
#include "jet/row_slots.h"
#include "rows/jet_page_builder.h"

namespace quillon::jet {
namespace {

using testing::Compressed;
using testing::FixedOnlyRow;
using testing::JetRow;
using testing::NullMask;
using testing::TBytes;
using testing::TJetPage;
using testing::WithMask;

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  for (const std::uint8_t b : bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

TColumnPlace FixedAt(std::uint16_t number, std::uint16_t offset, std::uint16_t size) {
  TColumnPlace place;
  place.Number = number;
  place.FixedOffset = offset;
  place.Size = size;
  place.Fixed = true;
  return place;
}

TColumnPlace VarAt(std::uint16_t number, std::uint16_t varIndex) {
  TColumnPlace place;
  place.Number = number;
  place.VarIndex = varIndex;
  return place;
}

TEST(ByteView, NoReadReachesPastItsBytes) {
  const TBytes bytes{1, 2, 3};
  const TByteView view(bytes);
  EXPECT_EQ(view.U16(1), 0x0302);
  EXPECT_FALSE(view.U16(2));
  EXPECT_FALSE(view.U32(0));
  EXPECT_EQ(view.U24(0), 0x030201u);
  EXPECT_FALSE(view.Sub(1, std::numeric_limits<std::size_t>::max()));  // no wrap-around
  EXPECT_FALSE(view.Holds(std::numeric_limits<std::size_t>::max(), 1));
  EXPECT_TRUE(view.Holds(3, 0));
}

TEST(RowSlots, SpansFlagsAndSlotsThatCannotBeRows) {
  TJetPage builder(7);
  builder.Row(TBytes(10, 0xAA)).Row(TBytes(6, 0xBB), kRowDeleted).Row(TBytes(4, 0xCC),
                                                                       kRowOverflowFlag);
  auto page = builder.Bytes();
  ASSERT_EQ(StatedRowCount(page), 3u);
  const TRowSlot first = RowSlotAt(page, 3, 0);
  ASSERT_TRUE(first.Valid);
  EXPECT_EQ(first.End, 4096u);
  EXPECT_EQ(Hex(first.In(page)), std::string(20, 'a'));
  const TRowSlot deleted = RowSlotAt(page, 3, 1);
  EXPECT_EQ(deleted.Flags, kRowDeleted);
  EXPECT_EQ(deleted.In(page).size(), 6u);
  EXPECT_EQ(RowSlotAt(page, 3, 2).Flags, kRowOverflowFlag);
  EXPECT_FALSE(RowSlotAt(page, 3, 3).Valid);  // past the stated count

  // A row that would begin inside the slot table, and one whose span is empty.
  page[14] = 16;
  page[15] = 0;
  EXPECT_FALSE(RowSlotAt(page, 3, 0).Valid);
  page[16] = page[14];
  page[17] = page[15];
  EXPECT_FALSE(RowSlotAt(page, 3, 1).Valid);
  // A slot table said to run past the page: its entries there are no rows.
  const std::span<const std::uint8_t> cut(page.data(), 20);
  EXPECT_FALSE(RowSlotAt(cut, 3, 2).Valid);
  EXPECT_EQ(StatedRowCount(std::span<const std::uint8_t>(page.data(), 13)), 0u);
}

TEST(RowLayout, RefusesCountsAndOffsetsTheRowCannotHold) {
  EXPECT_FALSE(ReadRowLayout(JetRow(0, {}, {}), false));
  EXPECT_FALSE(ReadRowLayout(TBytes{3, 0, 0}, false));
  EXPECT_FALSE(ReadRowLayout(JetRow(1, {}, {{1}, {2}}), false));  // more variable than columns
  EXPECT_FALSE(ReadRowLayout(JetRow(20, {}, {}), false, 19));      // more columns than allowed
  EXPECT_TRUE(ReadRowLayout(JetRow(20, {}, {}), false, 20));
  TBytes backwards = JetRow(3, {9, 9}, {Compressed("ab"), {}});
  backwards[backwards.size() - 1 - 2 - 2] = 0x30;  // variable column 0 starts past column 1
  EXPECT_FALSE(ReadRowLayout(backwards, false));
  EXPECT_FALSE(ReadRowLayout(FixedOnlyRow(17, {}, {1, 2}), true));  // a mask of 3 bytes
}

// Columns added after the row was written lie past its column count or its offset table:
// null, whatever bytes happen to lie where the current definition puts them.
TEST(RowLayout, ColumnsAddedAfterTheRowWasWrittenAreAbsent) {
  // Written with 3 columns: 0 fixed at 0 (4 bytes), 1 variable (index 0), 2 fixed at 4,
  // since dropped. Added since: 3 fixed at 4 (where 2 was), 4 variable (index 1).
  const TBytes row = JetRow(3, {1, 0, 0, 0, 2, 0, 0, 0}, {Compressed("old")});
  const auto layout = ReadRowLayout(row, false);
  ASSERT_TRUE(layout);
  EXPECT_EQ(FieldOf(*layout, FixedAt(0, 0, 4)).State, TFieldState::Present);
  const TColumnField text = FieldOf(*layout, VarAt(1, 0));
  EXPECT_EQ(text.State, TFieldState::Present);
  EXPECT_EQ(Hex(text.Bytes), "fffe6f6c64");
  EXPECT_EQ(FieldOf(*layout, FixedAt(3, 4, 4)).State, TFieldState::Absent);
  EXPECT_EQ(FieldOf(*layout, VarAt(4, 1)).State, TFieldState::Absent);
  TColumnPlace yesNo = FixedAt(5, 0, 0);
  yesNo.BitOnly = true;
  EXPECT_EQ(FieldOf(*layout, yesNo).State, TFieldState::Absent);
}

// Columns dropped since the row was written leave gaps in the definition's numbers; their
// bytes and offset-table entries are still in the row and are stepped over.
TEST(RowLayout, ColumnsDroppedSinceAreSteppedOver) {
  // Written with 6 columns: 0 and 1 fixed (dropped), 2 and 3 variable (dropped), 4
  // variable (index 2), 5 fixed at 8. Mask: 1, 4 and 5 hold values.
  const TBytes row = WithMask(JetRow(6, {0xEE, 0xEE, 0xEE, 0xEE, 0xDD, 0xDD, 0xDD, 0xDD, 7, 0, 0, 0},
                                     {Compressed("x"), Compressed("y"), Compressed("kept")}),
                              NullMask(6, {1, 4, 5}));
  const auto layout = ReadRowLayout(row, false);
  ASSERT_TRUE(layout);
  const TColumnField kept = FieldOf(*layout, VarAt(4, 2));
  EXPECT_EQ(kept.State, TFieldState::Present);
  EXPECT_EQ(Hex(kept.Bytes), "fffe6b657074");
  const TColumnField fixed = FieldOf(*layout, FixedAt(5, 8, 4));
  EXPECT_EQ(fixed.State, TFieldState::Present);
  EXPECT_EQ(Hex(fixed.Bytes), "07000000");
  // A column's bit decides, not what its bytes hold.
  EXPECT_EQ(FieldOf(*layout, VarAt(3, 1)).State, TFieldState::Null);
}

TEST(RowLayout, AVariableIndexPastTheRowsOffsetTableIsAbsent) {
  // Three columns counted, one variable entry: column 2's entry is not in this row.
  const TBytes row = JetRow(3, {1, 0}, {Compressed("a")});
  const auto layout = ReadRowLayout(row, false);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->VarCount(), 1u);
  EXPECT_EQ(FieldOf(*layout, VarAt(2, 1)).State, TFieldState::Absent);
  EXPECT_TRUE(layout->Var(1).empty());
}

TEST(RowLayout, AFixedColumnTheRowCountsButCannotHoldIsAMisfit) {
  const TBytes row = JetRow(2, {1, 0}, {Compressed("a")});
  const auto layout = ReadRowLayout(row, false);
  ASSERT_TRUE(layout);
  EXPECT_EQ(FieldOf(*layout, FixedAt(0, 0, 2)).State, TFieldState::Present);
  EXPECT_EQ(FieldOf(*layout, FixedAt(0, 0, 4)).State, TFieldState::Misfit);
  EXPECT_EQ(FieldOf(*layout, FixedAt(0, 0xFFFF, 4)).State, TFieldState::Misfit);
}

TEST(RowLayout, TablesOfFixedColumnsOnlyHaveNoVariableSection) {
  // 3 columns: long at 0, integer at 4, yes/no (bit only). Column 1 null, yes/no set.
  const TBytes row = FixedOnlyRow(3, {0x2A, 0, 0, 0, 0x63, 0}, NullMask(3, {0, 2}));
  const auto layout = ReadRowLayout(row, true);
  ASSERT_TRUE(layout);
  EXPECT_TRUE(layout->AllFixed());
  EXPECT_EQ(layout->VarCount(), 0u);
  EXPECT_FALSE(layout->EndsAtOffsetTable());
  EXPECT_EQ(Hex(layout->Fixed()), "2a0000006300");
  EXPECT_EQ(Hex(FieldOf(*layout, FixedAt(0, 0, 4)).Bytes), "2a000000");
  const TColumnField nullInteger = FieldOf(*layout, FixedAt(1, 4, 2));
  EXPECT_EQ(nullInteger.State, TFieldState::Null);
  EXPECT_EQ(Hex(nullInteger.Bytes), "6300");  // the bytes are there; the bit says null
  TColumnPlace yesNo = FixedAt(2, 0, 0);
  yesNo.BitOnly = true;
  const TColumnField flag = FieldOf(*layout, yesNo);
  EXPECT_EQ(flag.State, TFieldState::Present);
  EXPECT_TRUE(flag.Bit);
  EXPECT_EQ(FieldOf(*layout, VarAt(1, 0)).State, TFieldState::Absent);
}

}  // namespace
}  // namespace quillon::jet
