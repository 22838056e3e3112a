#pragma once
// The slot table of a Jet 4 data or LVAL page: u16 row count at 0x0C, then one u16 entry
// per row from 0x0E. Rows fill the page from its end: row i spans from its entry's offset
// up to the offset of row i - 1 (row 0: up to the page's end).

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/page_head.h"

namespace quillon::jet {

// The header offsets and the page size are the scan's too: they live in core/page_head.h.
using quillon::kLvalOwner;  // the owner an LVAL page states
using quillon::kPageSize;
using quillon::kRowCountAt;
using quillon::kRowTableAt;
inline constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
// Flags of a slot entry. 0x8000 alone: the data of a moved row (live, reached through a
// pointer elsewhere); 0xC000: a deleted row; 0x4000 alone: a 4-byte pointer to where the
// row now lives.
inline constexpr std::uint16_t kRowDeletedFlag = 0x8000;
inline constexpr std::uint16_t kRowOverflowFlag = 0x4000;
inline constexpr std::uint16_t kRowFlagsMask = kRowDeletedFlag | kRowOverflowFlag;
inline constexpr std::uint16_t kRowDeleted = kRowFlagsMask;

struct TRowSlot {
  std::uint16_t Start = 0;
  std::uint16_t End = 0;
  std::uint16_t Flags = 0;  // kRowDeletedFlag and kRowOverflowFlag as stored
  bool Valid = false;       // the span lies after the slot table, inside the page, not empty
  // The row's bytes in the page it was read from; empty when not Valid.
  std::span<const std::uint8_t> In(std::span<const std::uint8_t> page) const {
    return Valid ? page.subspan(Start, End - Start) : std::span<const std::uint8_t>{};
  }
};

// The row count the page states (0 when the page is too short to state one).
std::uint16_t StatedRowCount(std::span<const std::uint8_t> page);
// The owner the page states: its table's definition page, or kLvalOwner (0 when the page
// is too short to state one).
std::uint32_t StatedOwner(std::span<const std::uint8_t> page);

// Slot `slot` of a page whose slot table is taken to hold slotCount entries (callers
// bound it by what fits the page). A slot whose entry lies outside the page is not Valid.
TRowSlot RowSlotAt(std::span<const std::uint8_t> page, std::uint16_t slotCount,
                   std::uint16_t slot);

}  // namespace quillon::jet
