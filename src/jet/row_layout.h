#pragma once
// A Jet 4 row as it was written, read from its own bytes:
//   u16 column count | fixed-length columns | variable-length data |
//   variable-length offsets (u16 each, last column first, plus one for the end of the
//   variable data) | u16 count of variable-length columns | null mask, one bit per column.
// A table whose columns are all fixed-length has rows without the variable-length section:
//   u16 column count | fixed-length columns | null mask.
//
// A row keeps the column count and the offset table of the definition it was written
// under, whatever was dropped or added since. So a column is read through its number (its
// bit in the null mask, which covers the row's own count) and, when variable-length,
// through its variable-column index (its entry in the row's own offset table); a fixed
// column lies at its fixed offset. What the row holds for dropped columns is never looked
// at; a column added after the row was written lies past what the row holds: null.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/little_endian.h"

namespace quillon::jet {

// The most columns a row read without its definition may count: Jet's limit per table.
inline constexpr std::uint16_t kMaxRowColumns = 255;

class TRowLayout {
 public:
  std::uint16_t ColumnCount() const { return columns_; }
  std::uint16_t VarCount() const { return varCount_; }
  bool AllFixed() const { return allFixed_; }
  std::span<const std::uint8_t> Bytes() const { return row_; }

  // The fixed part, after the column count: up to the variable data, or to the null mask
  // in a row without a variable section.
  std::span<const std::uint8_t> Fixed() const { return row_.subspan(2, fixedEnd_ - 2); }
  // Variable-length column k < VarCount(), possibly empty (null or a zero-length value).
  std::span<const std::uint8_t> Var(std::uint16_t k) const;
  // Whether the end offset of the variable data is exactly the start of the offset table,
  // as Access writes it. A row of fixed-length columns only, read as if it had a variable
  // section, seldom is.
  bool EndsAtOffsetTable() const;
  // Column `number`'s bit in the null mask: set when the column holds a value (for yes/no
  // columns, the value itself); clear for numbers past the row's column count.
  bool NullMaskBit(std::uint16_t number) const;

 private:
  friend std::optional<TRowLayout> ReadRowLayout(std::span<const std::uint8_t>, bool,
                                                 std::uint16_t);
  std::uint16_t VarOffset(std::uint16_t k) const;

  std::span<const std::uint8_t> row_;
  std::uint16_t columns_ = 0;
  std::uint16_t varCount_ = 0;
  std::size_t maskAt_ = 0;
  std::size_t offsetTableEnd_ = 0;  // one past the offset of variable column 0
  std::size_t fixedEnd_ = 2;        // where the fixed part ends
  bool allFixed_ = false;
};

// The column count a row states in its first two bytes; nothing for a row shorter.
inline std::optional<std::uint16_t> StatedColumnCount(std::span<const std::uint8_t> row) {
  return ReadU16(row, 0);
}

// The row's layout, or nothing when it cannot be one: a column count of 0 or above
// maxColumns, a row shorter than its count and null mask, and with a variable section
// (allFixed false) more variable columns than columns, or offsets that do not run in
// order from after the column count to the offset table.
std::optional<TRowLayout> ReadRowLayout(std::span<const std::uint8_t> row, bool allFixed,
                                        std::uint16_t maxColumns = kMaxRowColumns);

// Where a table definition puts a column.
struct TColumnPlace {
  std::uint16_t Number = 0;       // its bit in the null mask
  std::uint16_t VarIndex = 0;     // variable-length columns: its entry in the offset table
  std::uint16_t FixedOffset = 0;  // fixed-length columns: its offset after the column count
  std::uint16_t Size = 0;         // fixed-length columns: its bytes
  bool Fixed = false;
  bool BitOnly = false;           // yes/no: no bytes, the null-mask bit is the value
};

enum class TFieldState : std::uint8_t {
  Absent,   // the row was written before the column existed: null
  Null,     // the row holds the column, and its null-mask bit says it has no value
  Present,  // Bytes (or, for BitOnly columns, Bit) is the value
  Misfit,   // the row counts the column but its fixed part is too short to hold it: the
            // row is not one of the table's, or not whole
};

struct TColumnField {
  TFieldState State = TFieldState::Absent;
  std::span<const std::uint8_t> Bytes;
  bool Bit = false;  // the null-mask bit
};

// What row holds for the column at `place`.
TColumnField FieldOf(const TRowLayout& row, const TColumnPlace& place);

}  // namespace quillon::jet
