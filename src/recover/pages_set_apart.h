#pragma once
// Where every page of the store went: to the database written from it, set apart by a
// database as none of its own, or tied to no database. Each page is counted in exactly one
// of the three, so that the report accounts for every page read; and each database says
// which pages found among its own it set apart, and whose they are.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "recover/page_store.h"

namespace quillon::recover {

struct TPagesSetApart {
  // The database they were written as ("database-2", "database-1 (older copy)"); "" when
  // none took them (their data pages come out untyped with the unplaced pages).
  std::string Database;
  std::int64_t Pages = 0;
  std::int64_t FirstOffset = -1;  // the first and last of them on the source
  std::int64_t LastOffset = -1;
};

// The store's pages, each counted once.
struct TPageAccount {
  std::int64_t InDatabases = 0;  // pages a database was written from
  std::int64_t SetApart = 0;     // set apart by a database as none of its own, taken by none
  std::int64_t Unplaced = 0;     // tied to no database written
};

struct TDatabaseReport;

// Accounts for every page of the store (entries). `used[d]` and `setApart[d]` are the store
// indices that database report d was written from and that it set apart (pages found among
// its own that are none of its own, an older copy split off from it among them); both are as
// long as the database reports written, which come first in `databases`.
//  - A page used by several reports is the first one's: its Pages count it.
//  - A page set apart and used by another report is described, in the report that set it
//    apart, as that database's; one that no report used is described as none of its own and
//    counted as set apart. A page several reports set apart is described by the last of
//    them (the copy that set it apart from what it took from the database it was split from).
//  - Any other page is tied to no database.
// Sets each report's Pages and adds its TPagesSetApart, one per database the pages went to
// (in report order), then the one with an empty name.
TPageAccount AccountForPages(const std::vector<TPageEntry>& entries,
                             const std::vector<std::vector<std::size_t>>& used,
                             const std::vector<std::vector<std::size_t>>& setApart,
                             std::vector<TDatabaseReport>& databases);

}  // namespace quillon::recover
