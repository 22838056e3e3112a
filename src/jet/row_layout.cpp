#include "jet/row_layout.h"

#include "jet/byte_view.h"

namespace quillon::jet {

// Offsets were checked against the row when it was read: the reads stay inside it.
std::uint16_t TRowLayout::VarOffset(std::uint16_t k) const {
  return TByteView(row_).U16(offsetTableEnd_ - 2u * (k + 1u)).value_or(0);
}

std::span<const std::uint8_t> TRowLayout::Var(std::uint16_t k) const {
  if (allFixed_ || k >= varCount_) return {};
  const std::uint16_t start = VarOffset(k);
  return row_.subspan(start, VarOffset(static_cast<std::uint16_t>(k + 1)) - start);
}

bool TRowLayout::EndsAtOffsetTable() const {
  return !allFixed_ && VarOffset(varCount_) == offsetTableEnd_ - 2u * (varCount_ + 1u);
}

bool TRowLayout::NullMaskBit(std::uint16_t number) const {
  if (number >= columns_) return false;
  return ((row_[maskAt_ + number / 8u] >> (number % 8u)) & 1u) != 0;
}

std::optional<TRowLayout> ReadRowLayout(std::span<const std::uint8_t> row, bool allFixed,
                                        std::uint16_t maxColumns) {
  const TByteView view(row);
  const std::optional<std::uint16_t> columns = view.U16(0);
  if (!columns || *columns == 0 || *columns > maxColumns) return std::nullopt;
  const std::size_t maskBytes = (*columns + 7u) / 8u;
  TRowLayout layout;
  layout.row_ = row;
  layout.columns_ = *columns;
  layout.allFixed_ = allFixed;
  if (allFixed) {
    if (!view.Holds(2, maskBytes)) return std::nullopt;
    layout.maskAt_ = row.size() - maskBytes;
    layout.fixedEnd_ = layout.maskAt_;
    return layout;
  }
  // The column count, the variable-column count and at least the end offset.
  if (!view.Holds(2, maskBytes + 2 + 2)) return std::nullopt;
  layout.maskAt_ = row.size() - maskBytes;
  const std::size_t countAt = layout.maskAt_ - 2;
  const std::uint16_t varCount = *view.U16(countAt);
  if (varCount > *columns) return std::nullopt;
  const std::size_t tableBytes = 2u * (varCount + 1u);
  if (countAt < 2 + tableBytes) return std::nullopt;
  const std::size_t tableStart = countAt - tableBytes;
  layout.varCount_ = varCount;
  layout.offsetTableEnd_ = countAt;
  std::uint16_t previous = 2;
  for (std::uint16_t k = 0; k <= varCount; ++k) {
    const std::uint16_t offset = layout.VarOffset(k);
    if (offset < previous || offset > tableStart) return std::nullopt;
    previous = offset;
  }
  layout.fixedEnd_ = layout.VarOffset(0);
  return layout;
}

TColumnField FieldOf(const TRowLayout& row, const TColumnPlace& place) {
  TColumnField field;
  if (place.Number >= row.ColumnCount()) return field;  // added after the row was written
  field.Bit = row.NullMaskBit(place.Number);
  if (place.BitOnly) {
    field.State = TFieldState::Present;
    return field;
  }
  if (place.Fixed) {
    const std::optional<std::span<const std::uint8_t>> bytes =
        TByteView(row.Fixed()).Sub(place.FixedOffset, place.Size);
    if (!bytes) {
      field.State = TFieldState::Misfit;
      return field;
    }
    field.Bytes = *bytes;
  } else {
    if (place.VarIndex >= row.VarCount()) return field;  // added after the row was written
    field.Bytes = row.Var(place.VarIndex);
  }
  field.State = field.Bit ? TFieldState::Present : TFieldState::Null;
  return field;
}

}  // namespace quillon::jet
