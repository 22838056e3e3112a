#pragma once
// A table's usage map (the row its definition points to): which page numbers the table
// owns. Read the same way whether the pages' numbers are known or only assumed.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <vector>

namespace quillon::jet {

// The bytes of the usage-bitmap page (type 0x05) whose page number is given, a whole page
// of kPageSize bytes, or nullptr when no such page is there.
using TBitmapPageAt = std::function<const std::uint8_t*(std::uint32_t number)>;

// The page numbers a usage map row lists: type 0, an inline bitmap (u32 first page number,
// then one bit per page); type 1, a list of u32 numbers of bitmap pages, each a bitmap of
// 8 × 4092 pages. Nothing when the row is not a map or a bitmap page is missing (a map
// missing a part cannot be trusted). `bitmapPagesRead` receives the numbers of those read.
std::optional<std::set<std::uint32_t>> ParseUsageMap(
    std::span<const std::uint8_t> row, const TBitmapPageAt& bitmapPageAt,
    std::vector<std::uint32_t>* bitmapPagesRead = nullptr);

}  // namespace quillon::jet
