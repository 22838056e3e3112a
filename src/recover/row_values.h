#pragma once
// One row of a table read with its definition: every column's value typed, long values
// followed through the pages of their database.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/row_layout.h"
#include "recover/table_definition.h"

namespace quillon::recover {

struct TValue {
  enum class TKind : std::uint8_t {
    Null,      // the row holds no value
    NotFound,  // a long value whose pages are not there or not certain: NULL, and counted
    Integer,
    Real,
    Text,  // UTF-8 in Bytes
    Blob,  // raw bytes in Bytes
  };
  TKind Kind = TKind::Null;
  std::int64_t Integer = 0;
  double Real = 0;
  std::string Bytes;
};

// Where a row's long values are: the row bytes of an LVAL page of the same database.
class ILongValueRows {
 public:
  virtual ~ILongValueRows() = default;
  // The bytes of row `row` of database page `page`, or nothing when that page is not known
  // to be an LVAL page of this database or the row is not there.
  virtual std::optional<std::vector<std::uint8_t>> Row(std::uint32_t page,
                                                       std::uint8_t row) const = 0;
};

// The layout of row as one of the definition's table, whatever column count the row was
// written with; nothing when the row cannot be one of its rows: more columns or variable
// columns than the table ever had, a mask or offsets outside the row, offsets that go back.
std::optional<jet::TRowLayout> LayoutOfRow(std::span<const std::uint8_t> row,
                                           const TTableDefinition& definition);

// Where the definition puts the column in a row.
jet::TColumnPlace PlaceOf(const TColumn& column);

// The row's values in the order of definition.Columns, each column read through its
// number and variable-column index (null where the row was written before the column
// existed); nothing when LayoutOfRow refuses the row, the row counts a fixed column its
// fixed part cannot hold, or a text column's bytes are not text: such a row is not certain.
std::optional<std::vector<TValue>> DecodeRow(std::span<const std::uint8_t> row,
                                             const TTableDefinition& definition,
                                             const ILongValueRows& longValues);

// A long value (memo or OLE) from the 12-byte head and what follows it in the row: inline,
// one LVAL row, or a chain of them whose parts must add up to the stated length.
TValue DecodeLongValue(std::span<const std::uint8_t> field, bool text,
                       const ILongValueRows& longValues);

}  // namespace quillon::recover
