#pragma once
// Follows overflow rows: a row that outgrew its page leaves a 4-byte pointer in its slot
// and moves to a row of another page of the same table, which is flagged deleted so that a
// scan of the table does not meet it twice. The pointer names a page number of the lost
// database; a match must be a row of that number flagged deleted (and not overflow) on a
// page of the same owner. Known page numbers (TPageAnchors) decide between several.

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "rows/long_value_head.h"
#include "rows/match_status.h"
#include "rows/page_anchors.h"
#include "rows/page_catalog.h"

namespace quillon {

struct TOverflowMatch {
  TMatchStatus Status = TMatchStatus::NotFound;
  TPageIndex Page = 0;  // where the row lives, when found
  std::uint16_t Slot = 0;
  std::uint32_t Candidates = 0;
};

class TOverflowMatcher {
 public:
  TOverflowMatcher(const TPageCatalog& catalog, TPageAnchors& anchors)
      : catalog_(catalog), anchors_(anchors) {}

  // Registers a row that may be the new home of a moved row: flagged deleted only, and
  // decodable as a row.
  void AddTarget(std::uint32_t owner, TPageIndex page, std::uint16_t slot);

  // Matches one pointer of a row of table `owner` with what is known now; a match numbers
  // the page it was found on.
  TOverflowMatch Match(std::uint32_t owner, TRowPointer where, TMatchRule rule);

 private:
  static std::uint64_t Key(std::uint32_t owner, std::uint16_t slot) {
    return (static_cast<std::uint64_t>(owner) << 16) | slot;
  }

  const TPageCatalog& catalog_;
  TPageAnchors& anchors_;
  std::unordered_map<std::uint64_t, std::vector<TPageIndex>> targets_;  // by owner and slot
};

}  // namespace quillon
