#pragma once
// The tables of a database that no definition fits, read as `quillon-cli rows` reads them.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "recover/database_reader.h"
#include "recover/page_versions.h"
#include "recover/table_plan.h"
#include "recover/untyped_tables.h"

namespace quillon::recover {

struct TUntypedTables {
  std::unique_ptr<TUntypedRows> Rows;  // the tables no definition fits; none without pages
  std::map<std::uint32_t, std::int64_t> RowsOfTwoVersions;  // owner → rows left out
};

// The tables no definition fits, read as `rows` reads them: their data pages and the
// database's LVAL pages, in the order the store holds them. Pages found in two versions
// are left out as they are from typed tables. Pages past what memory holds go to a
// temporary file at spillPath (a display path). Tells progress before it reads them.
TUntypedTables ReadUntypedTables(const IPageStore& store, const TDatabaseReader& reader,
                                 const std::vector<TPageEntry>& entries,
                                 const TDatabasePages& database,
                                 const std::vector<TTablePlan>& plans,
                                 const TPageVersions& versions, IFileSystem& fileSystem,
                                 const std::string& spillPath, IRecoveryProgress& progress,
                                 const std::string& databaseName);

}  // namespace quillon::recover
