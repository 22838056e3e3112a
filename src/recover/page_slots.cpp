#include "recover/page_slots.h"

namespace quillon::recover {

std::vector<TSlot> SlotsOf(std::span<const std::uint8_t, kPageSize> page) {
  std::vector<TSlot> slots;
  const std::uint16_t count = jet::StatedRowCount(page);
  if (jet::kRowTableAt + 2u * count > kPageSize) return slots;
  for (std::uint16_t i = 0; i < count; ++i) {
    const jet::TRowSlot slot = jet::RowSlotAt(page, count, i);
    slots.push_back(slot.Valid ? TSlot{slot.Start, slot.End, slot.Flags} : TSlot{0, 0, slot.Flags});
  }
  return slots;
}

bool IsLive(const TSlot& slot) { return slot.Flags == 0 || slot.Flags == jet::kRowDeletedFlag; }

std::vector<std::string> LiveRowsOf(std::span<const std::uint8_t, kPageSize> page) {
  std::vector<std::string> rows;
  for (const TSlot& slot : SlotsOf(page)) {
    if (slot.End == 0 || slot.Flags == kSlotPointer || slot.Flags == kSlotDeleted) continue;
    rows.emplace_back(page.begin() + slot.Start, page.begin() + slot.End);
  }
  return rows;
}

std::vector<std::string> DeletedRowsOf(std::span<const std::uint8_t, kPageSize> page) {
  std::vector<std::string> rows;
  for (const TSlot& slot : SlotsOf(page)) {
    if (slot.End == 0 || slot.Flags != kSlotDeleted) continue;
    rows.emplace_back(page.begin() + slot.Start, page.begin() + slot.End);
  }
  return rows;
}

}  // namespace quillon::recover
