#include "recover/page_cache.h"

#include <algorithm>

#include "core/errors.h"

namespace quillon::recover {

void TPageCache::Read(std::size_t index, std::span<std::uint8_t, kPageSize> out) const {
  if (const auto found = where_.find(index); found != where_.end()) {
    kept_.splice(kept_.begin(), kept_, found->second);
    std::copy(found->second->Page.begin(), found->second->Page.end(), out.begin());
    return;
  }
  const TPage& page = Keep(index);
  std::copy(page.begin(), page.end(), out.begin());
  // Read ahead only what stays kept beside the page itself; a page ahead that cannot be
  // read is left for when it is asked for, where its failure is the reader's to see.
  const std::size_t ahead =
      std::min({kReadAhead, (budget_ - 1) / 2, inner_.Count() - index - 1});
  for (std::size_t next = index + 1; next <= index + ahead; ++next) {
    if (where_.contains(next)) continue;
    try {
      Keep(next);
    } catch (const EQuillonError&) {
      break;
    }
  }
}

const TPage& TPageCache::Keep(std::size_t index) const {
  TKept kept;
  kept.Index = index;
  inner_.Read(index, kept.Page);  // a failure throws before anything is kept
  ++innerReads_;
  if (kept_.size() >= budget_) {
    where_.erase(kept_.back().Index);
    kept_.pop_back();
  }
  kept_.push_front(kept);
  where_[index] = kept_.begin();
  return kept_.front().Page;
}

}  // namespace quillon::recover
