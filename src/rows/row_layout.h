#pragma once
// A Jet 4 row read from its own bytes, without the table definition:
//   u16 column count | fixed-length columns | variable-length data |
//   variable-length offsets (u16 each, last column first, plus one for the end of the
//   variable data) | u16 count of variable-length columns | null mask, one bit per column.

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

 private:
  friend std::optional<TRowLayout> DecodeRowLayout(std::span<const std::uint8_t> row);
  std::uint16_t VarOffset(std::uint16_t k) const;

  std::span<const std::uint8_t> row_;
  std::uint16_t columns_ = 0;
  std::uint16_t varCount_ = 0;
  std::size_t offsetTableEnd_ = 0;  // one past the offset of variable column 0
};

// Nothing when a count, offset or length does not fit the row: 1 to 255 columns, no more
// variable columns than columns, offsets from after the column count, in order, and
// ending before the offset table.
std::optional<TRowLayout> DecodeRowLayout(std::span<const std::uint8_t> row);

}  // namespace quillon
