#pragma once
// Two versions of one page of one database. An older copy of a database (the file a
// compact or a save left behind) can lie elsewhere on the source with pages whose numbers
// are the live file's. Out of order, an anchor in the older copy can number its page n
// while the database's own base puts the live file's page n at its place, unnumbered: both
// would then be read as the table's live rows, each row twice, one of them out of date.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "recover/database_layout.h"

namespace quillon::recover {

// The live rows of a page of the store, byte for byte.
using TRowsOfPage = std::function<std::vector<std::string>(std::size_t index)>;

struct TPageVersions {
  // Pages whose number another page claims and whose rows disagree with it: which of the
  // two is current is not known, so neither is read.
  std::set<std::size_t> Disputed;
  // Pages that repeat, row for row, the page numbered in their place: read once, there.
  std::set<std::size_t> Repeated;
  std::size_t NumbersDisputed = 0;  // page numbers with two versions that disagree
};

// Two versions: the page numbered n from anchors and the page that lies at n by the
// database's base, where that one was given no number of its own, both data pages of one
// table, sharing at least one row byte for byte (pages of one table that merely lie where
// pieces were exchanged share none). So too a page left unnumbered and another data page of
// its table among `numbered` sharing a row byte for byte: the unnumbered one is Repeated
// where their rows are the same, both Disputed where they differ.
TPageVersions FindPageVersions(const std::vector<TPageEntry>& entries, const TDatabasePages& grid,
                               const TDatabasePages& numbered, const TRowsOfPage& rowsOf);

}  // namespace quillon::recover
