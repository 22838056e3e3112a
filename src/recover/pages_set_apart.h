#pragma once
// Pages found among a database's own that are not its own: another database's, or an older
// copy's. The placement that sets them apart says so here, and the report shows it per
// database.

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

struct TDatabaseReport;

// Where the pages each database set apart went: `setApart[d]` are the store indices database
// report d set apart, `usedBy` gives per store index the report that was written from it
// (SIZE_MAX: none). Adds to each report one TPagesSetApart per database they went to, and
// one with an empty name for those no database took (its data pages come out untyped with
// the unplaced pages).
void SayWherePagesSetApartWent(const std::vector<TPageEntry>& entries,
                               const std::vector<std::vector<std::size_t>>& setApart,
                               const std::vector<std::size_t>& usedBy,
                               std::vector<TDatabaseReport>& databases);

}  // namespace quillon::recover
