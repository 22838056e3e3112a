// Typed rows of a table whose columns were dropped and added after rows were written:
// each row read as it was written, against the table's one current definition.

#include <gtest/gtest.h>

#include <cstring>

#include "jet/row_slots.h"
#include "recover/row_values.h"
#include "rows/jet_page_builder.h"

namespace quillon::recover {
namespace {

using quillon::testing::Compressed;
using quillon::testing::JetRow;
using quillon::testing::NullMask;
using quillon::testing::PutU16;
using quillon::testing::PutU32;
using quillon::testing::TBytes;
using quillon::testing::TJetPage;
using quillon::testing::WithMask;

class TNoLongValueRows : public ILongValueRows {
 public:
  std::optional<std::vector<std::uint8_t>> Row(std::uint32_t, std::uint8_t) const override {
    return std::nullopt;
  }
};

TColumn Column(const char* name, TColumnType type, std::uint16_t number, bool fixed,
               std::uint16_t varIndex, std::uint16_t fixedOffset, std::uint16_t size) {
  TColumn column;
  column.Name = name;
  column.Type = type;
  column.Number = number;
  column.Fixed = fixed;
  column.VarIndex = varIndex;
  column.FixedOffset = fixedOffset;
  column.Size = size;
  return column;
}

// Columns ever: 0 Id (long, fixed at 0); 1 Code (text, variable 0) since dropped; 2 Name
// (text, variable 1); 3 Old (long, fixed at 4) since dropped; 4 Paid (yes/no); 5 Amount
// (currency, fixed at 8); 6 Note (text, variable 2), added last.
TTableDefinition Orders() {
  TTableDefinition definition;
  definition.HighestColumnCount = 7;
  definition.VarColumnCount = 3;
  definition.FixedLength = 16;
  using T = TColumnType;
  definition.Columns = {Column("Id", T::Long, 0, true, 0, 0, 4),
                        Column("Name", T::Text, 2, false, 1, 0, 100),
                        Column("Paid", T::YesNo, 4, true, 0, 0, 0),
                        Column("Amount", T::Currency, 5, true, 0, 8, 8),
                        Column("Note", T::Text, 6, false, 2, 0, 100)};
  return definition;
}

TBytes Fixed(std::uint32_t id, std::uint32_t old, std::uint32_t tenThousandths) {
  TBytes fixed;
  PutU32(fixed, id);
  PutU32(fixed, old);
  PutU32(fixed, tenThousandths);
  PutU32(fixed, 0);
  return fixed;
}

// Values as comparable text: "null", a number, or the text.
std::vector<std::string> Texts(const std::vector<TValue>& values) {
  std::vector<std::string> texts;
  for (const TValue& value : values) {
    switch (value.Kind) {
      case TValue::TKind::Null: texts.push_back("null"); break;
      case TValue::TKind::Integer: texts.push_back(std::to_string(value.Integer)); break;
      case TValue::TKind::Text: texts.push_back(value.Bytes); break;
      default: texts.push_back("?"); break;
    }
  }
  return texts;
}

using TTexts = std::vector<std::string>;

TEST(RowsUnderOlderDefinitions, EachRowIsReadAsItWasWrittenDeletedRowsToo) {
  const TTableDefinition definition = Orders();
  const TNoLongValueRows none;
  // Written last: all 7 columns; the dropped Code keeps its (empty) entry, Old its bytes.
  const TBytes latest = WithMask(
      JetRow(7, Fixed(1, 0, 125000), {{}, Compressed("Ann"), Compressed("hi")}),
      NullMask(7, {0, 2, 4, 5, 6}));
  // Written before Note was added and while Code and Old existed: 6 columns, 2 entries.
  const TBytes older = WithMask(JetRow(6, Fixed(2, 99, 30000), {Compressed("X"), Compressed("Bob")}),
                                NullMask(6, {0, 1, 2, 3, 5}));
  // Older still, before Amount: 5 columns, and a fixed part without Amount's bytes.
  TBytes oldest;
  {
    TBytes fixed;
    PutU32(fixed, 3);
    PutU32(fixed, 7);
    oldest = WithMask(JetRow(5, fixed, {Compressed("Y"), Compressed("Cy")}),
                      NullMask(5, {0, 1, 2, 3, 4}));
  }
  TJetPage builder(40);
  builder.Row(latest).Row(older, jet::kRowDeleted).Row(oldest, jet::kRowDeleted);
  const auto page = builder.Bytes();
  std::vector<TTexts> read;
  for (std::uint16_t slot = 0; slot < 3; ++slot) {
    const jet::TRowSlot s = jet::RowSlotAt(page, 3, slot);
    ASSERT_TRUE(s.Valid);
    const auto values = DecodeRow(s.In(page), definition, none);
    ASSERT_TRUE(values) << "slot " << slot;
    read.push_back(Texts(*values));
  }
  EXPECT_EQ(read[0], (TTexts{"1", "Ann", "1", "12.5000", "hi"}));
  // Note came later: null, though the row's fixed part and offsets hold other columns' bytes.
  EXPECT_EQ(read[1], (TTexts{"2", "Bob", "0", "3.0000", "null"}));
  EXPECT_EQ(read[2], (TTexts{"3", "Cy", "1", "null", "null"}));
}

TEST(RowsUnderOlderDefinitions, ARowThatDoesNotFitIsRefusedNotGuessed) {
  const TTableDefinition definition = Orders();
  const TNoLongValueRows none;
  // Counts Amount (column 5) but its fixed part ends before Amount's bytes.
  TBytes shortFixed;
  PutU32(shortFixed, 4);
  EXPECT_FALSE(DecodeRow(JetRow(7, shortFixed, {{}, Compressed("D"), {}}), definition, none));
  // More columns or variable columns than the table ever had.
  EXPECT_FALSE(DecodeRow(JetRow(8, Fixed(5, 0, 0), {{}, {}, {}}), definition, none));
  EXPECT_FALSE(DecodeRow(JetRow(7, Fixed(5, 0, 0), {{}, {}, {}, {}}), definition, none));
  EXPECT_TRUE(DecodeRow(JetRow(7, Fixed(5, 0, 0), {{}, {}, {}}), definition, none));
  // Text that does not decode: half a UTF-16 unit, or a lone surrogate.
  EXPECT_FALSE(DecodeRow(JetRow(7, Fixed(5, 0, 0), {{}, {0x41, 0x00, 0x42}, {}}), definition, none));
  EXPECT_FALSE(DecodeRow(JetRow(7, Fixed(5, 0, 0), {{}, {0x00, 0xD8}, {}}), definition, none));
  // The same bytes in a column the row was written without are never looked at.
  EXPECT_TRUE(DecodeRow(JetRow(6, Fixed(5, 0, 0), {{}, {}, {0x00, 0xD8}}), definition, none));
}

TEST(RowsUnderOlderDefinitions, TablesOfFixedColumnsOnlyAreReadWithoutAVariableSection) {
  TTableDefinition definition;
  definition.HighestColumnCount = 4;  // column 1 dropped, column 3 added later
  definition.FixedLength = 10;
  using T = TColumnType;
  definition.Columns = {Column("Id", T::Long, 0, true, 0, 0, 4),
                        Column("Qty", T::Integer, 2, true, 0, 4, 2),
                        Column("Price", T::Long, 3, true, 0, 6, 4)};
  const TNoLongValueRows none;
  TBytes row;
  PutU16(row, 3);
  PutU32(row, 9);
  PutU16(row, 5);
  row.push_back(0x05);  // columns 0 and 2 hold values
  const auto values = DecodeRow(row, definition, none);
  ASSERT_TRUE(values);
  EXPECT_EQ(Texts(*values), (TTexts{"9", "5", "null"}));
}

// A single and an Access 2019 extended date/time, as every output is given them: the single
// as the decimal that was typed, the date as a date; stored text that is not a date is left
// out (not found), never shown.
TEST(TypedValues, SinglesAreTheirShortDecimalAndExtendedDatesAreDates) {
  TTableDefinition definition;
  definition.HighestColumnCount = 2;
  definition.VarColumnCount = 1;
  definition.FixedLength = 4;
  using T = TColumnType;
  definition.Columns = {Column("Rate", T::Single, 0, true, 0, 0, 4),
                        Column("At", T::ExtendedDate, 1, false, 0, 0, 42)};
  const TNoLongValueRows none;
  auto rowOf = [](float single, const std::string& stored) {
    TBytes fixed(4);
    std::memcpy(fixed.data(), &single, 4);
    return WithMask(JetRow(2, fixed, {TBytes(stored.begin(), stored.end())}), NullMask(2, {0, 1}));
  };
  const auto values =
      DecodeRow(rowOf(3.3261771f, "0000000000000738520:0000000000000000000:7"), definition, none);
  ASSERT_TRUE(values);
  ASSERT_EQ((*values)[0].Kind, TValue::TKind::Real);
  EXPECT_EQ((*values)[0].Real, 3.3261771);  // not 3.3261771202087402, the float's own value
  ASSERT_EQ((*values)[1].Kind, TValue::TKind::Text);
  EXPECT_EQ((*values)[1].Bytes, "2023-01-01 00:00:00");

  const auto broken =
      DecodeRow(rowOf(0.1f, "0000000000000738520:0000000864000000000:7"), definition, none);
  ASSERT_TRUE(broken);
  EXPECT_EQ((*broken)[0].Real, 0.1);
  EXPECT_EQ((*broken)[1].Kind, TValue::TKind::NotFound);  // a time of day of a whole day
}

}  // namespace
}  // namespace quillon::recover
