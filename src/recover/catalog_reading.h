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

// The names of tables dropped since, by their definition pages: the catalog's rows flagged
// deleted that read whole with its definition and name a user table at a definition page
// that no live row (`catalog`, from ReadCatalog) names, where every such row at that page
// gives one name (a page whose id was taken again and dropped again names nothing). Only an
// older copy of the database, which still holds those tables, is named by them.
std::map<std::uint32_t, std::string> DroppedTableNames(
    const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
    const TDatabasePages& database, const TTableDefinition& definition,
    const std::map<std::uint32_t, TCatalogEntry>& catalog,
    const std::function<bool(std::uint32_t)>& stale = {});

// A system table's name ("MSys..."): such tables are not the user's.
bool IsSystemName(const std::string& name);

// Is the catalog entry a system or hidden table, which recovery leaves out?
bool IsSystemOrHidden(const TCatalogEntry& entry);

// The user tables the catalog lists: those PlanTables gives, by the same rules.
std::vector<TCatalogTable> CatalogTables(const std::map<std::uint32_t, TCatalogEntry>& catalog);

}  // namespace quillon::recover
