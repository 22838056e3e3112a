#pragma once
// The row slots of a data page as recovery reads them: where each row lies and its flags.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/row_slots.h"
#include "recover/page_store.h"

namespace quillon::recover {

using TPage = std::array<std::uint8_t, kPageSize>;

inline constexpr std::uint16_t kSlotDeleted = jet::kRowDeleted;
inline constexpr std::uint16_t kSlotPointer = jet::kRowOverflowFlag;

struct TSlot {
  std::uint16_t Start = 0, End = 0, Flags = 0;
};

// The row slots of a data page; one that cannot be read (outside the page, or empty) has
// Start and End 0. None when the page's slot table does not fit it.
std::vector<TSlot> SlotsOf(std::span<const std::uint8_t, kPageSize> page);

// A live row: as written, or the data of a moved row (flagged 0x8000 alone, reached through
// a pointer elsewhere).
bool IsLive(const TSlot& slot);

// The live rows of a data page, byte for byte.
std::vector<std::string> LiveRowsOf(std::span<const std::uint8_t, kPageSize> page);

// The rows of a data page flagged deleted, byte for byte.
std::vector<std::string> DeletedRowsOf(std::span<const std::uint8_t, kPageSize> page);

}  // namespace quillon::recover
