#pragma once
// What is known of the lost database's page numbers. The fragment file keeps no page
// numbers, only the order of the pages on the source; a pointer matched with certainty
// tells the number of the page it was matched to. Within a run of a database's pages the
// order holds, so known pages next to a page tell which number it likely has.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include "rows/page_catalog.h"

namespace quillon {

class TPageAnchors {
 public:
  // Records that catalog page `page` is page `number` of the lost database. A page given
  // two different numbers is contested: neither is believed from then on.
  void Add(TPageIndex page, std::uint32_t number);

  // The number known for a page; nothing when unknown or contested.
  std::optional<std::uint32_t> NumberOf(TPageIndex page) const;

  // The pages known to be page `number` (more than one where the file holds copies).
  const std::vector<TPageIndex>& PagesNumbered(std::uint32_t number) const;

  // How well `page` being page `number` agrees with the nearest known pages next to it in
  // the file (at most a few pages away on either side): +1 for each side whose number leaves
  // room for the pages between and not many more, -1 for each side that contradicts it
  // (which a run boundary can also explain), 0 for a side with no known page near.
  int NeighbourSupport(TPageIndex page, std::uint32_t number) const;

  std::size_t Count() const { return numbers_.size(); }

 private:
  std::map<TPageIndex, std::uint32_t> numbers_;  // in file order, contested pages left out
  std::set<TPageIndex> contested_;
  std::unordered_map<std::uint32_t, std::vector<TPageIndex>> pagesByNumber_;
  std::vector<TPageIndex> none_;
};

}  // namespace quillon
