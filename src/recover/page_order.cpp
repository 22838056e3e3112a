#include "recover/page_order.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace quillon::recover {

bool PagesLieInOrder(const std::vector<TTableOrderEvidence>& tables, const TOwnerAt& ownerAt) {
  std::size_t judged = 0, vouched = 0, silent = 0;
  // The highest number any usage map lists: as far as the file reaches, as its maps see it.
  std::uint32_t lastListed = 0;
  for (const TTableOrderEvidence& table : tables) {
    if (table.Listed && !table.Listed->empty())
      lastListed = std::max(lastListed, *table.Listed->rbegin());
  }
  for (const TTableOrderEvidence& table : tables) {
    if (!table.DefinitionThere && !table.Cataloged) {
      silent += table.Numbers.size();
      continue;
    }
    judged += table.Numbers.size();
    if (!table.DefinitionThere) continue;  // the catalog names it, its definition is elsewhere
    std::vector<std::uint32_t> numbered;
    for (const std::uint32_t number : table.Numbers) {
      if (number < kUnnumberedPage) numbered.push_back(number);
    }
    const bool before = numbered.size() < table.Numbers.size();
    // Every place the map lists holds one of the table's pages, or none at all.
    bool placesHold = table.Listed.has_value();
    bool placeMissing = false;
    if (table.Listed) {
      for (const std::uint32_t number : *table.Listed) {
        const auto found = ownerAt.find(number);
        if (found == ownerAt.end()) {
          placeMissing = true;
        } else if (found->second != table.Owner) {
          placesHold = false;
        }
      }
    }
    if (!table.DefinitionFits && !placesHold) continue;
    if (table.LongValuesMisplaced > 0) return false;
    // The map names the place evidence found for the page, and nothing lies there: the
    // page is at that place's number, and position's numbering does not hold.
    if (table.PlacedWhereListed > 0) return false;
    const bool unlisted =
        table.Listed && std::any_of(numbered.begin(), numbered.end(), [&](std::uint32_t number) {
          return !table.Listed->contains(number);
        });
    // Pages of the table the map does not list, or before page 0, while a page the map lists
    // has another page at its place: pieces were exchanged. A listed page missing at its
    // place while pages of the table lie before page 0: a piece moved ahead, not the
    // remains of an older copy. Where evidence moved pieces of the file in from elsewhere,
    // the same while pages of the table lie past the last page any map lists: a piece that
    // position numbered from the base while it lies beyond other files, not stale pages
    // (those lie within the file) beside a page lost.
    const bool pastTheEnd =
        table.PiecesMovedIn &&
        std::any_of(numbered.begin(), numbered.end(), [&](std::uint32_t number) {
          return number > lastListed;
        });
    const bool movedAhead = before || pastTheEnd;
    if (table.Listed && (before || unlisted) && (!placesHold || (movedAhead && placeMissing)))
      return false;
    if (!table.Listed || placesHold) {
      vouched += numbered.size();
    } else {
      vouched += static_cast<std::size_t>(std::count_if(
          numbered.begin(), numbered.end(),
          [&](std::uint32_t number) { return table.Listed->contains(number); }));
    }
  }
  if (judged == 0) return silent == 0;  // nothing vouches for pages that are there
  return vouched * 10 >= judged * 8;
}

std::set<std::uint32_t> NumbersInPlace(const TDatabasePages& grid,
                                       const TDatabasePages& numbered) {
  std::set<std::uint32_t> inPlace;
  for (const auto& [number, index] : numbered.Pages) {
    if (number >= kUnnumberedPage) continue;
    const auto found = grid.Pages.find(number);
    if (found != grid.Pages.end() && found->second == index) inPlace.insert(number);
  }
  return inPlace;
}

void NumberLeftByPlace(TDatabasePages& anchored, const TDatabasePages& grid) {
  std::unordered_map<std::size_t, std::uint32_t> placeOf;  // store index → number by place
  for (const auto& [number, index] : grid.Pages) placeOf.emplace(index, number);
  std::vector<std::size_t> left;  // the pages the anchors did not number
  for (auto page = anchored.Pages.begin(); page != anchored.Pages.end();) {
    if (page->first < kUnnumberedPage) {
      ++page;
      continue;
    }
    left.push_back(page->second);
    page = anchored.Pages.erase(page);
  }
  // In store order, so that the unnumbered places are given the same way every time.
  std::sort(left.begin(), left.end());
  std::uint32_t unnumbered = kUnnumberedPage;
  for (const std::size_t index : left) {
    const auto place = placeOf.find(index);
    if (place != placeOf.end() && place->second < kUnnumberedPage &&
        anchored.Pages.emplace(place->second, index).second)
      continue;
    anchored.Pages.emplace(unnumbered++, index);
  }
}

}  // namespace quillon::recover
