#include "rows/long_value_directory.h"

#include <algorithm>


namespace quillon {
namespace {

std::uint32_t SlotLengthKey(std::uint8_t slot, std::uint16_t length) {
  return (static_cast<std::uint32_t>(slot) << 16) | length;
}

}  // namespace

TLongValueDirectory::TLongValueDirectory(const TPageCatalog& catalog, std::uint64_t maxRows)
    : bySlotAndNext_(256) {
  for (const TPageIndex page : catalog.LongValuePages()) {
    if (rows_.size() + catalog.SlotCount(page) > maxRows) {
      full_ = true;
      break;
    }
    firstRowOfPage_[page] = static_cast<TLongValueRowId>(rows_.size());
    // Pointers hold one byte for the row number: rows past 255 cannot be reached.
    const std::uint16_t slots = std::min<std::uint16_t>(catalog.SlotCount(page), 256);
    const TPageBytes pageBytes = catalog.Bytes(page);
    for (std::uint16_t slot = 0; slot < slots; ++slot) {
      const TRowSlot s = TPageCatalog::SlotIn(pageBytes, catalog.SlotCount(page), slot);
      const auto bytes = s.Valid ? pageBytes.subspan(s.Start, s.End - s.Start)
                                 : std::span<const std::uint8_t>();
      TLongValueRow row;
      row.Page = page;
      row.Slot = slot;
      row.Length = static_cast<std::uint16_t>(bytes.size());
      if (bytes.size() >= 4) {
        row.HasPointer = true;
        row.Next = *jet::RowPointerAt(bytes, 0);
      }
      const auto id = static_cast<TLongValueRowId>(rows_.size());
      rows_.push_back(row);
      if (bytes.empty()) continue;  // an invalid slot keeps its number but matches nothing
      bySlotAndLength_[SlotLengthKey(static_cast<std::uint8_t>(slot), row.Length)].push_back(id);
      if (row.HasPointer && row.Next.Page != 0) {
        bySlotAndNext_[slot].emplace_back(row.Next.Page, id);
      }
    }
  }
  for (auto& list : bySlotAndNext_) std::sort(list.begin(), list.end());
}

std::optional<TLongValueRowId> TLongValueDirectory::RowAt(TPageIndex page,
                                                          std::uint8_t slot) const {
  const auto found = firstRowOfPage_.find(page);
  if (found == firstRowOfPage_.end()) return std::nullopt;
  const TLongValueRowId id = found->second + slot;
  if (id >= rows_.size() || rows_[id].Page != page || rows_[id].Length == 0) return std::nullopt;
  return id;
}

const std::vector<TLongValueRowId>& TLongValueDirectory::WithSlotAndLength(
    std::uint8_t slot, std::uint16_t length) const {
  const auto found = bySlotAndLength_.find(SlotLengthKey(slot, length));
  return found == bySlotAndLength_.end() ? none_ : found->second;
}

void TLongValueDirectory::ForSlotAndNextPage(
    std::uint8_t slot, std::uint32_t first, std::uint32_t last,
    const std::function<void(TLongValueRowId)>& visit) const {
  const auto& list = bySlotAndNext_[slot];
  auto it = std::lower_bound(list.begin(), list.end(), std::make_pair(first, TLongValueRowId{0}));
  for (; it != list.end() && it->first <= last; ++it) visit(it->second);
}

}  // namespace quillon
