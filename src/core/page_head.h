#pragma once
// The start of a would-be Jet 4 page as the candidate test sees it: one step record.

#include <bit>
#include <cstddef>
#include <cstdint>

namespace quillon {

static_assert(std::endian::native == std::endian::little,
              "PageHead overlays little-endian page bytes");

inline constexpr std::size_t kPageHeadSize = 526;  // a step's 512 bytes and the 14 that follow
inline constexpr std::size_t kRowOffsetEntries = 256;
inline constexpr std::uint32_t kLvalOwner = 0x4C41564C;  // the bytes "LVAL" read little-endian

// Packed to 2 rather than 1: every field still sits at its page offset and the record is
// 526 bytes long, but the 16-bit row-offset entries stay naturally aligned, so the table
// can be handed on as a plain uint16_t array.
#pragma pack(push, 2)
struct PageHead {
  std::uint8_t PageType;    // 0x01 on a data page
  std::uint8_t PageMark;    // 0x01 on a data page
  std::uint16_t FreeSpace;  // free bytes left in the page
  std::uint32_t OwnerPage;  // page of the owning table definition, or "LVAL"
  std::uint32_t Unused;     // never examined
  std::uint16_t RowCount;
  std::uint16_t RowOffsets[kRowOffsetEntries];
};
#pragma pack(pop)

static_assert(sizeof(PageHead) == kPageHeadSize);
static_assert(offsetof(PageHead, FreeSpace) == 2);
static_assert(offsetof(PageHead, OwnerPage) == 4);
static_assert(offsetof(PageHead, RowCount) == 12);
static_assert(offsetof(PageHead, RowOffsets) == 14);

}  // namespace quillon
