#pragma once
// A Jet 4 row read from its own bytes, without the table definition:
//   u16 column count | fixed-length columns | variable-length data |
//   variable-length offsets (u16 each, last column first, plus one for the end of the
//   variable data) | u16 count of variable-length columns | null mask, one bit per column.
// A table whose columns are all fixed-length has rows without the variable-length section:
//   u16 column count | fixed-length columns | null mask.

#include <cstdint>
#include <optional>
#include <span>

namespace quillon {

inline constexpr std::uint16_t kMaxColumns = 255;  // the most a Jet table can have

class TRowLayout {
 public:
  std::uint16_t ColumnCount() const { return columns_; }
  std::uint16_t VarCount() const { return varCount_; }
  // The fixed-length columns, together: without the definition they cannot be told apart.
  std::span<const std::uint8_t> Fixed() const;
  // Variable-length column k < VarCount(), possibly empty (null or a zero-length value).
  std::span<const std::uint8_t> Var(std::uint16_t k) const;
  // Whether the end offset of the variable data is exactly the start of the offset table,
  // as Access writes it. A row of fixed-length columns only, read as if it had a variable
  // section, seldom is.
  bool EndsAtOffsetTable() const;
  // Read as a row of fixed-length columns only.
  bool AllFixed() const { return allFixed_; }

 private:
  // The two decoders below fill the fields.
  friend std::optional<TRowLayout> DecodeRowLayout(std::span<const std::uint8_t> row);
  friend std::optional<TRowLayout> DecodeFixedRowLayout(std::span<const std::uint8_t> row);
  std::uint16_t VarOffset(std::uint16_t k) const;

  std::span<const std::uint8_t> row_;
  std::uint16_t columns_ = 0;
  std::uint16_t varCount_ = 0;
  std::size_t offsetTableEnd_ = 0;  // one past the offset of variable column 0
  bool allFixed_ = false;
};

// Nothing when a count, offset or length does not fit the row: 1 to 255 columns, no more
// variable columns than columns, offsets from after the column count, in order, and
// ending before the offset table.
std::optional<TRowLayout> DecodeRowLayout(std::span<const std::uint8_t> row);

// The row as one of fixed-length columns only; nothing when the column count is not 1 to
// 255 or the row is shorter than the count and the null mask.
std::optional<TRowLayout> DecodeFixedRowLayout(std::span<const std::uint8_t> row);

// The layout a table's rows of this column count have been judged to have.
std::optional<TRowLayout> DecodeRowLayout(std::span<const std::uint8_t> row, bool allFixed);

}  // namespace quillon
