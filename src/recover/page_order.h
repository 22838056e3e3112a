#pragma once
// Whether a database's pages lie where their numbers say, judged from what its tables say
// of themselves: their definitions at their owner values' places and the pages their usage
// maps list. Judged for the whole database, and, where it is not in order, page by page
// (the pages that lie in place, whose stale rows can still be told apart).

#include <cstdint>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include "recover/database_layout.h"

namespace quillon::recover {

// What one table (one owner value among the data pages) says of the order of the pages.
struct TTableOrderEvidence {
  std::uint32_t Owner = 0;
  // Its data pages' numbers; kUnnumberedPage and above for those lying before page 0.
  std::vector<std::uint32_t> Numbers;
  bool DefinitionThere = false;  // a whole definition lies at the owner value's number
  bool DefinitionFits = false;   // and the table's rows fit it
  bool Cataloged = false;        // the catalog lists a table whose definition is the owner
  std::optional<std::set<std::uint32_t>> Listed;  // what its usage map lists, if readable
  std::size_t LongValuesMisplaced = 0;  // long values of listed rows not at their numbers
  // Evidence moved pages of its database in from elsewhere on the source (run_placement.h):
  // the file lies in pieces there, so position's numbers are no more than a guess.
  bool PiecesMovedIn = false;
  // Of its pages that position numbered where its map lists nothing, those that evidence
  // placed at a number its map lists where the database has no page (see
  // TDatabasePages::EvidenceNumbers).
  std::size_t PlacedWhereListed = 0;
};

// What lies at a page number: the owner value of a data page, kNotDataPage for any other
// page; numbers absent from the map have no page.
inline constexpr std::uint32_t kNotDataPage = UINT32_MAX;
using TOwnerAt = std::unordered_map<std::uint32_t, std::uint32_t>;

// Do the pages lie in order? Each table whose definition lies at its owner's number and
// either fits its rows or has a usage map whose listed places all hold its own pages
// vouches for its pages, stale ones included (the map's places hold what it says, so its
// unlisted pages are older copies, not pages moved about). Pages whose owner has neither a
// definition at its place nor an entry in the catalog (a dropped table's remains) say
// nothing either way. Out of order: a long value not at its number, a page the map lists
// while another page lies at its place or the table has pages before page 0 (or, where
// pieces were moved in, past the last page any map lists), fewer than
// 80% of the judged pages vouched for, no page vouched for at all, or a page that position
// numbered where its table's map lists nothing while evidence placed it at a listed number
// that holds no page (a piece of the file after a gap, numbered by distance alone).
bool PagesLieInOrder(const std::vector<TTableOrderEvidence>& tables, const TOwnerAt& ownerAt);

// The page numbers whose page lies at its place on the source: numbered so in `numbered`
// (from anchors) and in `grid` (from the database's base alone). Only there can a usage map
// call a page stale when the database as a whole is out of order.
std::set<std::uint32_t> NumbersInPlace(const TDatabasePages& grid,
                                       const TDatabasePages& numbered);

// For a database judged in order that lies in pieces: `anchored` numbered from anchors, and
// each page that the anchors left unnumbered given its number in `grid` (by its place) where
// no page of `anchored` has that number. What neither numbers stays unnumbered.
void NumberLeftByPlace(TDatabasePages& anchored, const TDatabasePages& grid);

}  // namespace quillon::recover
