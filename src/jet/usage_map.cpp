#include "jet/usage_map.h"

#include "core/page_head.h"
#include "jet/byte_view.h"

namespace quillon::jet {
namespace {

constexpr std::size_t kBitmapPageSpan = 8 * 4092;
constexpr std::size_t kBitmapAt = 4;  // after a bitmap page's 4-byte head

}  // namespace

std::optional<std::set<std::uint32_t>> ParseUsageMap(std::span<const std::uint8_t> row,
                                                     const TBitmapPageAt& bitmapPageAt,
                                                     std::vector<std::uint32_t>* bitmapPagesRead) {
  const TByteView view(row);
  if (row.size() < 5) return std::nullopt;
  std::set<std::uint32_t> pages;
  if (row[0] == 0) {
    const std::uint32_t first = *view.U32(1);
    for (std::size_t bit = 0; bit < (row.size() - 5) * 8; ++bit) {
      if ((row[5 + bit / 8] >> (bit % 8)) & 1) pages.insert(first + static_cast<std::uint32_t>(bit));
    }
    return pages;
  }
  if (row[0] != 1) return std::nullopt;
  for (std::size_t i = 0; view.Holds(1 + 4 * i, 4); ++i) {
    const std::uint32_t bitmapPage = *view.U32(1 + 4 * i);
    if (bitmapPage == 0) continue;
    const std::uint8_t* at = bitmapPageAt(bitmapPage);
    if (at == nullptr) return std::nullopt;
    if (bitmapPagesRead) bitmapPagesRead->push_back(bitmapPage);
    const std::span<const std::uint8_t> bitmap =
        std::span<const std::uint8_t>(at, kPageSize).subspan(kBitmapAt);
    static_assert(kBitmapAt + kBitmapPageSpan / 8 == kPageSize);
    for (std::size_t bit = 0; bit < kBitmapPageSpan; ++bit) {
      if ((bitmap[bit / 8] >> (bit % 8)) & 1)
        pages.insert(static_cast<std::uint32_t>(i * kBitmapPageSpan + bit));
    }
  }
  return pages;
}

}  // namespace quillon::jet
