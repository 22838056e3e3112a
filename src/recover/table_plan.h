#pragma once
// The tables of a database to be written: each owner value among its data pages with its
// pages, its name from the catalog and the definition that fits its rows, where found.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "recover/catalog_reading.h"
#include "recover/database_reader.h"
#include "recover/table_definition.h"

namespace quillon::recover {

struct TTablePlan {
  std::uint32_t Owner = 0;
  std::string Name;
  bool NamedFromCatalog = false;
  std::string DateUpdate;
  std::optional<TTableDefinition> Definition;
  std::vector<std::pair<std::uint32_t, std::size_t>> Pages;  // page number, store index
};

// The data pages of the database's tables by owner value (LVAL pages and the system
// tables' apart), in the order the database's pages are held.
std::map<std::uint32_t, TTablePlan> PagesByOwner(const std::vector<TPageEntry>& entries,
                                                 const TDatabasePages& database);

// The user tables to write: each with its pages sorted, its catalog name (or
// "table-OWNER"), and its definition where one fits its rows: the one tied by shape
// (`shapeTies`, out of order) or the one at its owner's number. Tables the catalog names
// with a definition but no data page left come as empty tables; system and hidden tables,
// and the pages of dropped tables (no definition, where a catalog was found), are left out.
// A table whose definition does not fit its rows, but fits them on its numbered pages alone,
// keeps those: its unnumbered pages (kUnnumberedPage on, which position and evidence left
// without a number) are another file's of the same table id, and go to `setApart`.
std::vector<TTablePlan> PlanTables(const TDatabaseReader& reader,
                                   const std::vector<TPageEntry>& entries,
                                   const TDatabasePages& database,
                                   const std::map<std::uint32_t, TCatalogEntry>& catalog,
                                   const std::map<std::uint32_t, TTableDefinition>& shapeTies,
                                   bool catalogFound, std::vector<std::size_t>* setApart = nullptr);

}  // namespace quillon::recover
