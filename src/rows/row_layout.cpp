#include "rows/row_layout.h"

#include "rows/byte_reading.h"

namespace quillon {

std::uint16_t TRowLayout::VarOffset(std::uint16_t k) const {
  return LoadU16(row_, offsetTableEnd_ - 2u * (k + 1u));
}

std::span<const std::uint8_t> TRowLayout::Fixed() const {
  if (allFixed_) return row_.subspan(2, row_.size() - 2u - (columns_ + 7u) / 8u);
  return row_.subspan(2, VarOffset(0) - 2u);
}

bool TRowLayout::EndsAtOffsetTable() const {
  return !allFixed_ && VarOffset(varCount_) == offsetTableEnd_ - 2u * (varCount_ + 1u);
}

std::span<const std::uint8_t> TRowLayout::Var(std::uint16_t k) const {
  const std::uint16_t start = VarOffset(k);
  return row_.subspan(start, VarOffset(static_cast<std::uint16_t>(k + 1)) - start);
}

std::optional<TRowLayout> DecodeRowLayout(std::span<const std::uint8_t> row) {
  if (row.size() < 2) return std::nullopt;
  const std::uint16_t columns = LoadU16(row, 0);
  if (columns == 0 || columns > kMaxColumns) return std::nullopt;
  const std::size_t nullMask = (columns + 7u) / 8u;
  // The column count, the variable-column count and at least the end offset.
  if (row.size() < 2 + nullMask + 2 + 2) return std::nullopt;
  const std::size_t countAt = row.size() - nullMask - 2;
  const std::uint16_t varCount = LoadU16(row, countAt);
  if (varCount > columns) return std::nullopt;
  const std::size_t tableBytes = 2u * (varCount + 1u);
  if (countAt < 2 + tableBytes) return std::nullopt;
  const std::size_t tableStart = countAt - tableBytes;

  TRowLayout layout;
  layout.row_ = row;
  layout.columns_ = columns;
  layout.varCount_ = varCount;
  layout.offsetTableEnd_ = countAt;
  std::uint16_t previous = 2;
  for (std::uint16_t k = 0; k <= varCount; ++k) {
    const std::uint16_t offset = layout.VarOffset(k);
    if (offset < previous || offset > tableStart) return std::nullopt;
    previous = offset;
  }
  return layout;
}

std::optional<TRowLayout> DecodeFixedRowLayout(std::span<const std::uint8_t> row) {
  if (row.size() < 2) return std::nullopt;
  const std::uint16_t columns = LoadU16(row, 0);
  if (columns == 0 || columns > kMaxColumns) return std::nullopt;
  if (row.size() < 2 + (columns + 7u) / 8u) return std::nullopt;
  TRowLayout layout;
  layout.row_ = row;
  layout.columns_ = columns;
  layout.allFixed_ = true;
  return layout;
}

std::optional<TRowLayout> DecodeRowLayout(std::span<const std::uint8_t> row, bool allFixed) {
  return allFixed ? DecodeFixedRowLayout(row) : DecodeRowLayout(row);
}

}  // namespace quillon
