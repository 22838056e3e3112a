#include "recover/database_reader.h"

#include "jet/row_slots.h"

namespace quillon::recover {

const TPage* TDatabaseReader::PageByNumber(std::uint32_t number) const {
  const auto found = database_.Pages.find(number);
  return found == database_.Pages.end() ? nullptr : PageByIndex(found->second);
}

const TPage* TDatabaseReader::PageByIndex(std::size_t index) const {
  for (auto& cached : cache_) {
    if (cached.first == index) return &cached.second;
  }
  if (!stopSeen_ && progress_.StopRequested()) {
    stopSeen_ = true;
    if (!quietStops_) throw TDecodingStopped{};
  }
  auto& slot = cache_[next_++ % cache_.size()];
  slot.first = SIZE_MAX;  // until the read below has filled it
  store_.Read(index, slot.second);
  slot.first = index;
  return &slot.second;
}

std::optional<std::vector<std::uint8_t>> TDatabaseReader::RowOf(std::uint32_t number,
                                                                std::uint8_t row,
                                                                bool longValue) const {
  if (stopSeen_ && quietStops_) return std::nullopt;
  const auto found = database_.Pages.find(number);
  if (found == database_.Pages.end()) return std::nullopt;
  const TPageEntry& entry = entries_[found->second];
  if (entry.Kind != TPageKind::Data) return std::nullopt;
  if (longValue != (entry.Owner == jet::kLvalOwner)) return std::nullopt;
  const TPage* page = PageByIndex(found->second);
  const std::vector<TSlot> slots = SlotsOf(*page);
  if (row >= slots.size() || slots[row].End == 0) return std::nullopt;
  return std::vector<std::uint8_t>(page->begin() + slots[row].Start,
                                   page->begin() + slots[row].End);
}

}  // namespace quillon::recover
