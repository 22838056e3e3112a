#include "jet/row_slots.h"

#include "jet/byte_view.h"

namespace quillon::jet {

std::uint16_t StatedRowCount(std::span<const std::uint8_t> page) {
  return TByteView(page).U16(kRowCountAt).value_or(0);
}

std::uint32_t StatedOwner(std::span<const std::uint8_t> page) {
  return TByteView(page).U32(kOwnerAt).value_or(0);
}

TRowSlot RowSlotAt(std::span<const std::uint8_t> page, std::uint16_t slotCount,
                   std::uint16_t slot) {
  const TByteView view(page);
  TRowSlot result;
  const std::optional<std::uint16_t> entry = view.U16(kRowTableAt + 2u * slot);
  if (slot >= slotCount || !entry) return result;
  result.Flags = static_cast<std::uint16_t>(*entry & kRowFlagsMask);
  result.Start = static_cast<std::uint16_t>(*entry & kRowOffsetMask);
  if (slot == 0) {
    result.End = static_cast<std::uint16_t>(kPageSize);
  } else {
    const std::optional<std::uint16_t> previous = view.U16(kRowTableAt + 2u * (slot - 1));
    result.End = static_cast<std::uint16_t>(previous.value_or(0) & kRowOffsetMask);
  }
  const std::size_t tableEnd = kRowTableAt + 2u * slotCount;
  result.Valid = result.Start >= tableEnd && result.Start < result.End &&
                 result.End <= page.size();
  return result;
}

}  // namespace quillon::jet
