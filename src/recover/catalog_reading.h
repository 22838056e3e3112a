#pragma once
// The catalog (MSysObjects, owner 2) read from a database's pages: its user tables by the
// numbers of their definition pages.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "recover/catalog_accounting.h"
#include "recover/database_reader.h"
#include "recover/table_definition.h"

namespace quillon::recover {

struct TCatalogEntry {
  std::string Name;
  int Type = 0;
  std::int64_t Flags = 0;
  std::string DateUpdate;
};

// The catalog's rows (MSysObjects, owner 2): the names of tables by their definition pages.
// The rows of stale pages (numbers `stale` says are, when given) are left out: they are
// older versions of entries, or entries of tables dropped since.
std::map<std::uint32_t, TCatalogEntry> ReadCatalog(
    const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
    const TDatabasePages& database, const TTableDefinition& definition,
    const std::function<bool(std::uint32_t)>& stale = {});

// A system table's name ("MSys..."): such tables are not the user's.
bool IsSystemName(const std::string& name);

// Is the catalog entry a system or hidden table, which recovery leaves out?
bool IsSystemOrHidden(const TCatalogEntry& entry);

// The user tables the catalog lists: those PlanTables gives, by the same rules.
std::vector<TCatalogTable> CatalogTables(const std::map<std::uint32_t, TCatalogEntry>& catalog);

}  // namespace quillon::recover
