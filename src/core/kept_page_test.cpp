#include "core/kept_page_test.h"

#include <algorithm>
#include <cstring>

#include "core/little_endian.h"

namespace quillon {
namespace {

constexpr std::size_t kDefinitionBytesPerPage = kKeptPageSize - kDefinitionPageHeadSize;
// A database holds at most 2 GiB, 524,288 pages: a page number at or past it is no pointer.
constexpr std::uint32_t kPagesInLargestDatabase = 524288;
// Access allows 255 columns; deleted columns count on until a compaction, hence some room.
constexpr std::uint16_t kMaxColumnCount = 1024;
constexpr std::uint32_t kMaxIndexCount = 1024;
constexpr std::uint32_t kMaxDefinitionLength = 16u << 20;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(LittleEndianAt<2>(p)); }
std::uint32_t U32(const std::uint8_t* p) { return static_cast<std::uint32_t>(LittleEndianAt<4>(p)); }

bool IsColumnType(std::uint8_t type) {
  // 0x01 yes/no ... 0x10 decimal, without the unused 0x0D and 0x0E; ACE's 0x11 to 0x14.
  return type >= 0x01 && type <= 0x14 && type != 0x0D && type != 0x0E;
}

// The first page of a table definition.
bool IsDefinitionHead(const std::uint8_t* page) {
  const std::uint16_t freeSpace = U16(page + kFreeSpaceAt);
  const std::uint32_t next = U32(page + kDefinitionNextPageAt);
  const std::uint32_t length = U32(page + kDefinitionLengthAt);
  if (freeSpace > kDefinitionBytesPerPage || next >= kPagesInLargestDatabase) return false;
  if (page[kTableTypeAt] != kUserTable && page[kTableTypeAt] != kSystemTable) return false;
  const std::uint16_t maxColumns = U16(page + kHighestColumnCountAt);
  const std::uint16_t variableColumns = U16(page + kVarColumnCountAt);
  const std::uint16_t columns = U16(page + kColumnCountAt);
  const std::uint32_t indexes = U32(page + kIndexCountAt);
  const std::uint32_t realIndexes = U32(page + kRealIndexCountAt);
  if (columns == 0 || columns > maxColumns || maxColumns > kMaxColumnCount) return false;
  if (variableColumns > maxColumns) return false;
  if (realIndexes > indexes || indexes > kMaxIndexCount) return false;
  const std::size_t columnsStart = kRealIndexEntriesAt + kRealIndexEntrySize * realIndexes;
  // The descriptors and at least a two-byte length for each name.
  const std::size_t leastLength = columnsStart + (kColumnEntrySize + 2) * columns;
  if (length < leastLength || length > kMaxDefinitionLength) return false;
  // The page's own share of the definition fills it up to its free space: all of it when
  // the definition ends here, the whole page when it goes on.
  const std::size_t onPage = kDefinitionBytesPerPage - freeSpace;
  if (next == 0 ? onPage != length : onPage >= length) return false;
  for (std::size_t c = 0; c < columns; ++c) {
    const std::size_t at = columnsStart + kColumnEntrySize * c;
    if (at + kColumnEntrySize > kKeptPageSize) break;  // the rest is on a continuation page
    if (!IsColumnType(page[at])) return false;
    if (U16(page + at + 5) >= maxColumns) return false;  // the column's number
  }
  return true;
}

// A later page of a definition: the same head, then the definition's bytes going on. Only
// its head can be judged: the marks, a free space within the page and a page pointer that
// a database can hold. A last page (no next page) holds at least a byte.
bool IsDefinitionContinuation(const std::uint8_t* page) {
  const std::uint16_t freeSpace = U16(page + kFreeSpaceAt);
  const std::uint32_t next = U32(page + kDefinitionNextPageAt);
  if (next >= kPagesInLargestDatabase) return false;
  return next == 0 ? freeSpace < kDefinitionBytesPerPage : freeSpace <= kDefinitionBytesPerPage;
}

bool IsHeaderPage(const std::uint8_t* page) {
  static constexpr char kJet[] = "Standard Jet DB";
  static constexpr char kAce[] = "Standard ACE DB";
  return page[0] == 0x00 && page[1] == 0x01 && page[2] == 0x00 && page[3] == 0x00 &&
         (std::memcmp(page + 4, kJet, sizeof kJet - 1) == 0 ||
          std::memcmp(page + 4, kAce, sizeof kAce - 1) == 0);
}

}  // namespace

std::optional<TKeptPageKind> ClassifyKeptPage(std::span<const std::uint8_t, kKeptPageSize> page) {
  const std::uint8_t* p = page.data();
  if (!MayBeginKeptPage(p)) return std::nullopt;
  switch (p[0]) {
    case 0x00:
      if (IsHeaderPage(p)) return TKeptPageKind::Header;
      return std::nullopt;
    case 0x02:
      if (IsDefinitionHead(p)) return TKeptPageKind::Definition;
      if (IsDefinitionContinuation(p)) return TKeptPageKind::DefinitionContinuation;
      return std::nullopt;
    case 0x05:
      return TKeptPageKind::UsageMap;
    default:
      return std::nullopt;
  }
}

}  // namespace quillon
