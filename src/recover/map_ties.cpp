#include "recover/map_ties.h"

#include <map>

namespace quillon::recover {
namespace {

bool Holds(const TMapHypothesis& hypothesis, const TOwnerAt& numbered) {
  if (!hypothesis.Listed || hypothesis.Listed->empty()) return false;
  std::size_t seen = 0;
  for (const std::uint32_t number : *hypothesis.Listed) {
    const auto found = numbered.find(number);
    if (found == numbered.end()) {
      // Not numbered: a page seen at its distance carries the owner, or nothing is known.
      seen += hypothesis.HeldNearby.contains(number) ? 1 : 0;
      continue;
    }
    // A page the map lists is the table's own, whatever lay there before: anything else
    // at a certain number says the map is another table's.
    if (found->second != hypothesis.Owner) return false;
    ++seen;
  }
  return seen > 0;
}

}  // namespace

std::vector<std::size_t> TieByUsageMaps(const std::vector<TMapHypothesis>& hypotheses,
                                        const TOwnerAt& numbered) {
  std::map<std::size_t, std::size_t> holdingFor;   // definition → hypotheses that hold
  std::map<std::uint32_t, std::size_t> holdingOf;  // owner → hypotheses that hold
  std::vector<std::size_t> holding;
  for (std::size_t i = 0; i < hypotheses.size(); ++i) {
    if (!Holds(hypotheses[i], numbered)) continue;
    holding.push_back(i);
    ++holdingFor[hypotheses[i].Definition];
    ++holdingOf[hypotheses[i].Owner];
  }
  std::vector<std::size_t> tied;
  for (const std::size_t i : holding) {
    if (holdingFor[hypotheses[i].Definition] == 1 && holdingOf[hypotheses[i].Owner] == 1)
      tied.push_back(i);
  }
  return tied;
}

}  // namespace quillon::recover
