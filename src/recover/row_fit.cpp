#include "recover/row_fit.h"

#include <algorithm>

namespace quillon::recover {

bool FitsRows(const TDatabaseReader& reader, const TTablePlan& plan,
              const TTableDefinition& definition) {
  for (const bool live : {true, false}) {
    std::size_t tried = 0, fitted = 0;
    for (const auto& [number, index] : plan.Pages) {
      const TPage page = *reader.PageByIndex(index);
      for (const TSlot& slot : SlotsOf(page)) {
        if (slot.End == 0 || slot.Flags == kSlotPointer || IsLive(slot) != live) continue;
        ++tried;
        if (DecodeRow(std::span(page).subspan(slot.Start, slot.End - slot.Start), definition,
                      TNoLongValues{}))
          ++fitted;
        if (tried >= 64) break;
      }
      if (tried >= 64) break;
    }
    if (tried > 0) return fitted * 10 >= tried * 9;
  }
  return true;
}

bool HasExactShape(std::span<const std::uint8_t> row, const TTableDefinition& definition) {
  const std::optional<jet::TRowLayout> layout = LayoutOfRow(row, definition);
  if (!layout) return false;
  const bool latest = layout->ColumnCount() == definition.HighestColumnCount;
  std::size_t fixedLength = 0;
  for (const TColumn& column : definition.Columns) {
    const bool counted = column.Number < layout->ColumnCount();
    const jet::TColumnField field = jet::FieldOf(*layout, PlaceOf(column));
    if (field.State == jet::TFieldState::Misfit) return false;
    if (column.Fixed) {
      if (counted && column.Type != TColumnType::YesNo)
        fixedLength = std::max<std::size_t>(fixedLength, column.FixedOffset + column.Size);
      continue;
    }
    if (!counted && column.VarIndex < layout->VarCount()) return false;
    const std::size_t length = field.Bytes.size();
    const std::uint16_t natural = NaturalSize(column.Type);
    if (length == 0) continue;
    if (natural != 0 && length != natural) return false;
    if ((column.Type == TColumnType::Text || column.Type == TColumnType::Binary) &&
        length > column.Size)
      return false;
    if ((column.Type == TColumnType::Memo || column.Type == TColumnType::Ole) && length < 12)
      return false;
  }
  return layout->Fixed().size() == (latest ? definition.FixedLength : fixedLength);
}

bool FitsExactly(const TDatabaseReader& reader, const TTablePlan& plan,
                 const TTableDefinition& definition) {
  std::size_t tried = 0;
  for (const auto& [number, index] : plan.Pages) {
    const TPage page = *reader.PageByIndex(index);
    for (const TSlot& slot : SlotsOf(page)) {
      if (slot.End == 0 || !IsLive(slot)) continue;
      if (!HasExactShape(std::span(page).subspan(slot.Start, slot.End - slot.Start), definition))
        return false;
      if (++tried >= 64) return true;
    }
  }
  return tried > 0;
}

}  // namespace quillon::recover
