#pragma once
// Which copy of a database a page is. Copies of one database (the live file and the files
// compacts left behind) hold the same tables at the same page numbers, with the same
// definitions and usage maps: what places a page by what it says (its owner value, the map
// that lists it, a definition beside it) places it in every copy alike. Only where it lies
// tells them apart: at its number's place from a copy's page 0, it is a stretch of that
// copy's file. Read in a copy it may not be, a page of another copy gives rows that copy
// deleted as live, or rows twice.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "recover/database_layout.h"
#include "recover/page_store.h"
#include "recover/page_versions.h"

namespace quillon::recover {

// The rows of a page of the store, byte for byte: its live rows and its deleted ones.
struct TRowsOfCopies {
  TRowsOfPage Live;
  TRowsOfPage Deleted;
};

// A table's data page: LVAL pages hold values whose bytes every copy shares, and the system
// tables' pages (owners 2 to 5) say how a copy is laid out, not what it holds.
bool IsUserData(const TPageEntry& entry);

// Whether store page `index` lies at page `number`'s place from `database`'s page 0.
bool LiesInPlace(const std::vector<TPageEntry>& entries, const TDatabasePages& database,
                 std::uint32_t number, std::size_t index);

// The user data pages of `copy` (numbered as it will be read) that are not certainly its
// own, for a database found in several copies (`others`: the other copies, each numbered
// from its own base). A page is its own where it lies at its number's place from `copy`'s
// base. Elsewhere it is its own only where it is none of the others': each other copy holds
// its own version of it at its place from its own base, a data page of the same table that
// is another page of the store, at the same number (a page with a number) or sharing a live
// row with it byte for byte (a page without one). Where `copy` is the newest (`newest`:
// found newer than one copy at least and older than none), a page is none of its own,
// wherever it lies, where another version of it among the copies (a page of the same table
// sharing a live row with it byte for byte: a row is written once in a file; or one at the
// same number in a copy: a version whose every row was deleted shares none) holds deleted,
// and not live, a row that it holds live: it is the older of the two (a deleted row is never
// made live again).
// Pages without live rows are not asked: they show nothing as the copy's. Returns store
// indices, in no particular order.
std::vector<std::size_t> PagesOfUncertainCopy(const std::vector<TPageEntry>& entries,
                                              const TDatabasePages& copy,
                                              const std::vector<const TDatabasePages*>& others,
                                              const TRowsOfCopies& rows, bool newest);

}  // namespace quillon::recover
