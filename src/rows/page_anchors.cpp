#include "rows/page_anchors.h"

#include <algorithm>

namespace quillon {

void TPageAnchors::Add(TPageIndex page, std::uint32_t number) {
  if (contested_.count(page) != 0) return;
  const auto known = numbers_.find(page);
  if (known != numbers_.end()) {
    if (known->second == number) return;
    auto& pages = pagesByNumber_[known->second];
    pages.erase(std::remove(pages.begin(), pages.end(), page), pages.end());
    numbers_.erase(known);
    contested_.insert(page);
    return;
  }
  numbers_.emplace(page, number);
  pagesByNumber_[number].push_back(page);
}

std::optional<std::uint32_t> TPageAnchors::NumberOf(TPageIndex page) const {
  const auto known = numbers_.find(page);
  if (known == numbers_.end()) return std::nullopt;
  return known->second;
}

const std::vector<TPageIndex>& TPageAnchors::PagesNumbered(std::uint32_t number) const {
  const auto found = pagesByNumber_.find(number);
  return found == pagesByNumber_.end() ? none_ : found->second;
}

int TPageAnchors::NeighbourSupport(TPageIndex page, std::uint32_t number) const {
  // Neighbours this close are likely on the same run; pages that are not data or LVAL pages
  // (definitions, indexes) may lie between them on the source, a few, seldom many.
  constexpr TPageIndex kNear = 4;
  constexpr std::uint32_t kMissingPages = 32;
  // Same run: the numbers differ the same way as the places, by at least the pages between.
  const auto agrees = [](std::uint32_t low, std::uint32_t high, TPageIndex between) {
    return high > low && high - low >= between && high - low - between <= kMissingPages;
  };
  int support = 0;
  const auto after = numbers_.upper_bound(page);
  if (after != numbers_.end() && after->first - page <= kNear) {
    support += agrees(number, after->second, after->first - page) ? 1 : -1;
  }
  auto before = numbers_.lower_bound(page);
  if (before != numbers_.begin()) {
    --before;
    if (page - before->first <= kNear) {
      support += agrees(before->second, number, page - before->first) ? 1 : -1;
    }
  }
  return support;
}

}  // namespace quillon
