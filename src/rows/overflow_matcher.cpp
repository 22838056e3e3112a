#include "rows/overflow_matcher.h"

#include <algorithm>

namespace quillon {

void TOverflowMatcher::AddTarget(std::uint32_t owner, TPageIndex page, std::uint16_t slot) {
  targets_[Key(owner, slot)].push_back(page);
}

TOverflowMatch TOverflowMatcher::Match(std::uint32_t owner, TRowPointer where) {
  auto& byPage = cache_[Key(owner, where.Row)];
  const auto cached = byPage.find(where.Page);
  if (cached != byPage.end() && cached->second.Changes == anchors_.Changes()) {
    return cached->second.Match;
  }
  const TOverflowMatch match = Work(owner, where);
  // After Work: a tie may have numbered a page.
  byPage[where.Page] = {anchors_.Changes(), match};
  return match;
}

TOverflowMatch TOverflowMatcher::Work(std::uint32_t owner, TRowPointer where) {
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

  // Copies of one page hold the same row: then it does not matter which is taken. One pass
  // against the first row's bytes tells whether all are the same.
  const auto firstBytes = catalog_.RowBytes(candidates.front(), where.Row);
  const std::vector<std::uint8_t> first(firstBytes.begin(), firstBytes.end());
  bool same = true;
  for (std::size_t i = 1; i < candidates.size() && same; ++i) {
    const auto bytes = catalog_.RowBytes(candidates[i], where.Row);
    same = std::equal(bytes.begin(), bytes.end(), first.begin(), first.end());
  }
  match.Candidates = static_cast<std::uint32_t>(candidates.size());
  if (!same) {
    match.Status = TMatchStatus::Ambiguous;
    return match;
  }
  match.Status = TMatchStatus::Found;
  match.Page = candidates.front();
  match.Slot = where.Row;
  match.Tied = candidates.size() == 1;
  if (match.Tied) anchors_.Add(match.Page, where.Page);
  return match;
}

}  // namespace quillon
