#include "rows/overflow_matcher.h"

#include <algorithm>

namespace quillon {

void TOverflowMatcher::AddTarget(std::uint32_t owner, TPageIndex page, std::uint16_t slot) {
  targets_[Key(owner, slot)].push_back(page);
}

TOverflowMatch TOverflowMatcher::Match(std::uint32_t owner, TRowPointer where,
                                       TMatchRule rule) {
  TOverflowMatch match;
  const auto found = targets_.find(Key(owner, where.Row));
  if (found == targets_.end()) return match;

  // Pages known to have the number come first; pages known to have another never. Other
  // pages are candidates only when no numbered page has the row: a file can hold two
  // databases, or two versions of one, whose pages share numbers.
  std::vector<TPageIndex> candidates;
  for (const TPageIndex page : found->second) {
    if (anchors_.NumberOf(page) == where.Page) candidates.push_back(page);
  }
  if (candidates.empty()) {
    for (const TPageIndex page : found->second) {
      if (!anchors_.NumberOf(page)) candidates.push_back(page);
    }
  }
  if (candidates.empty()) return match;

  // Copies of one page hold the same row: then it does not matter which is taken.
  const auto bytesOf = [&](TPageIndex page) { return catalog_.RowBytes(page, where.Row); };
  std::vector<TPageIndex> distinct;
  for (const TPageIndex page : candidates) {
    const auto bytes = bytesOf(page);
    const bool seen = std::any_of(distinct.begin(), distinct.end(), [&](TPageIndex other) {
      const auto otherBytes = bytesOf(other);
      return std::equal(bytes.begin(), bytes.end(), otherBytes.begin(), otherBytes.end());
    });
    if (!seen) distinct.push_back(page);
  }
  match.Candidates = static_cast<std::uint32_t>(distinct.size());
  TPageIndex chosen = distinct.front();
  if (distinct.size() > 1) {
    int best = 0;
    bool tie = true;
    if (rule == TMatchRule::Neighbours) {
      for (const TPageIndex page : distinct) {
        const int support = anchors_.NeighbourSupport(page, where.Page);
        if (support > best) {
          best = support;
          chosen = page;
          tie = false;
        } else if (support == best) {
          tie = true;
        }
      }
    }
    if (tie) {
      match.Status = TMatchStatus::Ambiguous;
      return match;
    }
  }
  match.Status = TMatchStatus::Found;
  match.Page = chosen;
  match.Slot = where.Row;
  if (candidates.size() == 1 || distinct.size() > 1) anchors_.Add(match.Page, where.Page);
  return match;
}

}  // namespace quillon
