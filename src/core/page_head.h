#pragma once
// The facts of a Jet 4 page's head, in one place for the scan and for the format readers
// above it (src/jet): the page size, the header fields' offsets, the page types, and the
// start of a would-be page as the candidate test sees it (one step record).

#include <bit>
#include <cstddef>
#include <cstdint>

namespace quillon {

static_assert(std::endian::native == std::endian::little,
              "PageHead overlays little-endian page bytes");

inline constexpr std::size_t kPageSize = 4096;  // every page of a Jet 4 database

// The first byte of a page: its type.
inline constexpr std::uint8_t kDataPageType = 0x01;        // rows of a table, or LVAL rows
inline constexpr std::uint8_t kDefinitionPageType = 0x02;  // a table definition, or its continuation
inline constexpr std::uint8_t kUsageMapPageType = 0x05;    // a bitmap of a usage map

// Header fields of data and LVAL pages.
inline constexpr std::size_t kPageTypeAt = 0;
inline constexpr std::size_t kFreeSpaceAt = 2;   // u16 free bytes left in the page
inline constexpr std::size_t kOwnerAt = 4;       // u32 page of the owning definition, or "LVAL"
inline constexpr std::size_t kRowCountAt = 12;   // u16 rows in the slot table
inline constexpr std::size_t kRowTableAt = 14;   // u16 per row: its offset and flags
inline constexpr std::uint32_t kLvalOwner = 0x4C41564C;  // the bytes "LVAL" read little-endian

// The first page of a table definition (type 0x02): offsets from the start of the page,
// which are also offsets into a definition's bytes read whole (its continuation pages
// follow without their 8-byte heads).
inline constexpr std::size_t kDefinitionNextPageAt = 0x04;    // u32 continuation page; 0: none
inline constexpr std::size_t kDefinitionLengthAt = 0x08;      // u32 bytes of the definition
inline constexpr std::size_t kDefinitionRowCountAt = 0x10;    // u32 rows (may be stale)
inline constexpr std::size_t kTableTypeAt = 0x28;             // kUserTable or kSystemTable
inline constexpr std::size_t kHighestColumnCountAt = 0x29;    // u16, deleted columns counted
inline constexpr std::size_t kVarColumnCountAt = 0x2B;        // u16, deleted ones counted
inline constexpr std::size_t kColumnCountAt = 0x2D;           // u16 columns now
inline constexpr std::size_t kIndexCountAt = 0x2F;            // u32
inline constexpr std::size_t kRealIndexCountAt = 0x33;        // u32
inline constexpr std::size_t kUsageMapPointerAt = 0x37;       // u32 row pointer
inline constexpr std::size_t kRealIndexEntriesAt = 0x3F;      // then the column entries
inline constexpr std::size_t kRealIndexEntrySize = 12;
inline constexpr std::size_t kColumnEntrySize = 25;
inline constexpr std::size_t kDefinitionPageHeadSize = 8;     // not repeated in the bytes read whole
inline constexpr std::uint8_t kUserTable = 0x4E;
inline constexpr std::uint8_t kSystemTable = 0x53;

inline constexpr std::size_t kPageHeadSize = 526;  // a step's 512 bytes and the 14 that follow
inline constexpr std::size_t kRowOffsetEntries = 256;

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
static_assert(offsetof(PageHead, FreeSpace) == kFreeSpaceAt);
static_assert(offsetof(PageHead, OwnerPage) == kOwnerAt);
static_assert(offsetof(PageHead, RowCount) == kRowCountAt);
static_assert(offsetof(PageHead, RowOffsets) == kRowTableAt);

}  // namespace quillon
