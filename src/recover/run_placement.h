#pragma once
// Pages placed in databases by what they say, never by where they lie. A file system hands
// out clusters in runs, so a database in pieces is a set of runs of consecutive pages, and
// runs of several files can lie side by side with no gap between them. Each database's
// home (the pages from its page 0 on, or from its system definitions) is numbered from its
// base as far as its own pages bear it out; every other run is cut where what its pages say
// changes, and a piece goes to a database only where its data pages' owner values land on
// that database's definitions and their rows fit them exactly, and only at the page
// numbers its tables' usage maps list. Pieces of LVAL pages go where the long-value
// pointers of a database's placed rows find their rows, at one place only. What nothing
// places with certainty stays apart.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "recover/database_layout.h"
#include "recover/page_store.h"
#include "recover/table_definition.h"

namespace quillon::recover {

// Where a long value of a row says its (first) LVAL row is: page number and row, and the
// value's length (a single-row value fills its row exactly; a chain's first part holds at
// least the pointer to the next).
struct TLongValueTarget {
  std::uint32_t Page = 0;
  std::uint8_t Row = 0;
  std::uint32_t Length = 0;
  bool Chain = false;
};

// What the live rows of a data page say against a definition, read from one reading of it.
struct TPageJudgement {
  // Whether they fit it exactly (column counts as older definitions allow, fixed lengths,
  // variable columns); nothing when the page has no live row to judge by.
  std::optional<bool> Fits;
  std::vector<TLongValueTarget> Targets;  // their long values' pointers, where they fit
  // Whether one of them counts every column of the definition (is written under it, not
  // under an older one with fewer columns).
  bool Whole = false;
};

// How placement reads what pages say.
struct TPlacementReading {
  std::function<TPageJudgement(std::size_t index, const TTableDefinition& definition)> Judge;
  // Asked before each page is read: true when a stop was asked for. Placement then ends
  // at once and places nothing.
  std::function<bool()> StopRequested;
  // Bases that evidence gave where no header or system definition is left
  // (base_from_evidence.h), each with the offset of the page its home begins at: that home
  // is kept only as far as evidence bears it out, as a voted base's is.
  std::map<std::int64_t, std::int64_t> HomeStarts;
  // Whether placed pieces are taken back along their runs (see ExtendPieceBack). Bases
  // from evidence are sought without it: a piece of one database placed in another by
  // pages of one design (two files of one Access version share their system tables'
  // shapes) would take the pages before it, and with them the evidence of the other.
  bool TakeBack = true;
};

// What placement did, for the report and the tests.
struct TPlacementCounts {
  std::size_t Runs = 0;            // runs of consecutive pages on the source
  std::size_t PiecesPlaced = 0;    // pieces outside a home placed by their tables' evidence
  std::size_t PiecesLeftApart = 0; // pieces with data pages that nothing placed
};

// The databases of the store, in the order of their first page on the source. `bases` are
// the offsets of their page 0 (FindDatabaseBases). Pages that nothing places are in none.
// Nothing at all when a stop was asked for.
std::vector<TDatabasePages> PlaceRuns(const IPageStore& store,
                                      const std::vector<TPageEntry>& entries,
                                      const std::vector<std::int64_t>& bases,
                                      const TPlacementReading& reading,
                                      TPlacementCounts* counts = nullptr);

}  // namespace quillon::recover
