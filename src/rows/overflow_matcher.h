#pragma once
// Ties overflow rows to their data: a row that outgrew its page leaves a 4-byte pointer in
// its slot (flag 0x4000) and moves to a row of another page of the same table, flagged 0x8000
// alone so that a scan of the table does not meet it twice. The data rows are shown where
// they lie whatever the tie; the tie only says where a pointer's data is, and is made only
// when it is certain. The pointer names a page number of the lost database; a candidate is
// a 0x8000-only row of that row number on a page of the same owner, on a page known to
// have that number (TPageAnchors) or, when there is none, on a page of unknown number.

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "jet/long_value.h"
#include "rows/match_status.h"
#include "rows/page_anchors.h"
#include "rows/page_catalog.h"

namespace quillon {

using jet::TLongValueKind;
using jet::TRowPointer;

struct TOverflowMatch {
  TMatchStatus Status = TMatchStatus::NotFound;
  // Found: exactly one row fits (Tied), or several copies with the same bytes; Page and
  // Slot name that row, or the first copy.
  bool Tied = false;
  TPageIndex Page = 0;
  std::uint16_t Slot = 0;
  std::uint32_t Candidates = 0;  // rows that fit
};

class TOverflowMatcher {
 public:
  TOverflowMatcher(const TPageCatalog& catalog, TPageAnchors& anchors)
      : catalog_(catalog), anchors_(anchors) {}

  // Registers a row that may be the new home of a moved row: flagged 0x8000 alone, and
  // decodable as a row.
  void AddTarget(std::uint32_t owner, TPageIndex page, std::uint16_t slot);

  // Matches one pointer of a row of table `owner` with what is known now; a tie numbers the
  // page it was found on. Pointers that agree on owner and target share one answer until
  // more pages are numbered, so copies of a database cost one match, not one per pair.
  TOverflowMatch Match(std::uint32_t owner, TRowPointer where);

 private:
  static std::uint64_t Key(std::uint32_t owner, std::uint16_t slot) {
    return (static_cast<std::uint64_t>(owner) << 16) | slot;
  }
  struct TCached {
    std::uint64_t Changes;  // TPageAnchors::Changes() when it was worked out
    TOverflowMatch Match;
  };
  TOverflowMatch Work(std::uint32_t owner, TRowPointer where);

  const TPageCatalog& catalog_;
  TPageAnchors& anchors_;
  std::unordered_map<std::uint64_t, std::vector<TPageIndex>> targets_;  // by owner and slot
  // By owner, target page and row.
  std::unordered_map<std::uint64_t, std::unordered_map<std::uint32_t, TCached>> cache_;
};

}  // namespace quillon
