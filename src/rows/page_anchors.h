#pragma once
// What is known of the lost database's page numbers. The fragment file keeps no page
// numbers, only the order of the pages on the source; a pointer matched to a page tells
// the number of that page. Within a run of a database's pages the order holds, so known
// pages next to a page tell which number it likely has.

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "rows/page_catalog.h"

namespace quillon {

class TPageAnchors {
 public:
  explicit TPageAnchors(std::size_t pageCount) : numbers_(pageCount, kUnknown) {}

  // Records that catalog page `page` is page `number` of the lost database. A page given
  // two different numbers is contested: neither is believed from then on.
  void Add(TPageIndex page, std::uint32_t number);

  // The number known for a page; nothing when unknown or contested.
  std::optional<std::uint32_t> NumberOf(TPageIndex page) const {
    const std::uint32_t number = numbers_[page];
    if (number == kUnknown || number == kContested) return std::nullopt;
    return number;
  }

  // The pages known to be page `number` (more than one where the file holds copies).
  const std::vector<TPageIndex>& PagesNumbered(std::uint32_t number) const;

  // How well `page` being page `number` agrees with the nearest known pages next to it in
  // the file (at most a few pages away on either side): +1 for each side whose number leaves
  // room for the pages between and not many more, -1 for each side that contradicts it
  // (which a run boundary can also explain), 0 for a side with no known page near.
  int NeighbourSupport(TPageIndex page, std::uint32_t number) const;

  std::size_t Count() const { return count_; }
  // Grows with every number recorded or contested: whether anything was learnt meanwhile.
  std::uint64_t Changes() const { return changes_; }

 private:
  // Page numbers have 24 bits: these two can never be one.
  static constexpr std::uint32_t kUnknown = 0xFFFFFFFF;
  static constexpr std::uint32_t kContested = 0xFFFFFFFE;

  std::vector<std::uint32_t> numbers_;  // per catalog page
  std::size_t count_ = 0;               // pages with a number, contested ones left out
  std::uint64_t changes_ = 0;
  std::unordered_map<std::uint32_t, std::vector<TPageIndex>> pagesByNumber_;
  std::vector<TPageIndex> none_;
};

}  // namespace quillon
