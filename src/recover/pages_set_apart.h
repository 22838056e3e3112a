#pragma once
// Pages found among a database's own that are not its own: another database's, or an older
// copy's. The placement that sets them apart says so here, and the report shows it per
// database.

#include <cstdint>
#include <string>

namespace quillon::recover {

struct TPagesSetApart {
  // The database they were written as ("database-2", "database-1 (older copy)"); "" when
  // none took them (they come out untyped with the unplaced pages).
  std::string Database;
  std::int64_t Pages = 0;
  std::int64_t FirstOffset = -1;  // the first and last of them on the source
  std::int64_t LastOffset = -1;
};

}  // namespace quillon::recover
