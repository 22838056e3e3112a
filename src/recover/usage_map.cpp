#include "recover/usage_map.h"

#include <vector>

#include "rows/byte_reading.h"

namespace quillon::recover {
namespace {

constexpr std::size_t kBitmapPageSpan = 8 * 4092;
constexpr std::size_t kBitmapAt = 4;  // after a bitmap page's 4-byte head

}  // namespace

std::optional<std::set<std::uint32_t>> ParseUsageMap(std::span<const std::uint8_t> row,
                                                     const TBitmapPageAt& bitmapPageAt,
                                                     std::vector<std::uint32_t>* bitmapPagesRead) {
  if (row.size() < 5) return std::nullopt;
  std::set<std::uint32_t> pages;
  if (row[0] == 0) {
    const std::uint32_t first = LoadU32(row, 1);
    for (std::size_t bit = 0; bit < (row.size() - 5) * 8; ++bit) {
      if ((row[5 + bit / 8] >> (bit % 8)) & 1) pages.insert(first + static_cast<std::uint32_t>(bit));
    }
    return pages;
  }
  if (row[0] != 1) return std::nullopt;
  for (std::size_t i = 0; 1 + 4 * i + 4 <= row.size(); ++i) {
    const std::uint32_t bitmapPage = LoadU32(row, 1 + 4 * i);
    if (bitmapPage == 0) continue;
    const std::uint8_t* page = bitmapPageAt(bitmapPage);
    if (page == nullptr) return std::nullopt;
    if (bitmapPagesRead) bitmapPagesRead->push_back(bitmapPage);
    for (std::size_t bit = 0; bit < kBitmapPageSpan; ++bit) {
      if ((page[kBitmapAt + bit / 8] >> (bit % 8)) & 1)
        pages.insert(static_cast<std::uint32_t>(i * kBitmapPageSpan + bit));
    }
  }
  return pages;
}

}  // namespace quillon::recover
