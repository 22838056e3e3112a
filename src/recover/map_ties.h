#pragma once
// Definitions of one shape told apart by their usage maps. Where the rows of several tables
// fit each of several definitions exactly, nothing in a definition's own bytes says whose it
// is; its usage map does: it lists the page numbers its table owns. Once some pieces are
// numbered from certain anchors, a definition is its table's where the pages at the numbers
// its map lists carry that table's owner value, and no numbered page there carries another.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "recover/page_order.h"

namespace quillon::recover {

// One hypothesis: definition page `Definition` (a store index) is the table whose data
// pages carry `Owner`.
struct TMapHypothesis {
  std::size_t Definition = 0;
  std::uint32_t Owner = 0;
  // What its usage map lists, read as if the definition lay at number `Owner` (the map's
  // page by its number where that is certain, else at its distance from the definition);
  // nothing when no map could be read so.
  std::optional<std::set<std::uint32_t>> Listed;
  // Listed numbers whose page, at its distance from the definition, carries `Owner` and is
  // numbered nothing else.
  std::set<std::uint32_t> HeldNearby;
};

// The hypotheses (indices into `hypotheses`) that hold with certainty. One holds where its
// map lists pages, no listed number that is certain (in `numbered`: number → owner value of
// the data page there, kNotDataPage for any other page) holds anything but `Owner`, and at
// least one listed page is seen to carry `Owner` (numbered so, or nearby). It is tied only
// where it is the one hypothesis that holds for its definition and the one for its owner.
std::vector<std::size_t> TieByUsageMaps(const std::vector<TMapHypothesis>& hypotheses,
                                        const TOwnerAt& numbered);

}  // namespace quillon::recover
