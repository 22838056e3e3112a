#include "rows/page_anchors.h"

#include <algorithm>

namespace quillon {

void TPageAnchors::Add(TPageIndex page, std::uint32_t number) {
  std::uint32_t& known = numbers_[page];
  if (known == number || known == kContested) return;
  if (known != kUnknown) {
    auto& pages = pagesByNumber_[known];
    pages.erase(std::remove(pages.begin(), pages.end(), page), pages.end());
    known = kContested;
    --count_;
    ++changes_;
    return;
  }
  known = number;
  ++count_;
  ++changes_;
  pagesByNumber_[number].push_back(page);
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
  for (TPageIndex k = 1; k <= kNear && page + k < numbers_.size(); ++k) {
    if (const auto after = NumberOf(page + k)) {
      support += agrees(number, *after, k) ? 1 : -1;
      break;
    }
  }
  for (TPageIndex k = 1; k <= kNear && k <= page; ++k) {
    if (const auto before = NumberOf(page - k)) {
      support += agrees(*before, number, k) ? 1 : -1;
      break;
    }
  }
  return support;
}

}  // namespace quillon
