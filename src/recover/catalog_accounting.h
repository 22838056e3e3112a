#pragma once
// Every table the catalog lists, accounted for: recovered, partly recovered (what is
// missing, as far as can be told) or lost (no page of it found), so that a recovery that
// found eight of ten tables never reads as complete.

#include <cstdint>
#include <string>
#include <vector>

#include "recover/recovery_report.h"

namespace quillon::recover {

// A user table as the catalog lists it.
struct TCatalogTable {
  std::uint32_t DefinitionPage = 0;  // its Id: the owner value of its data pages
  std::string Name;
  std::string DateUpdate;
};

// The state of a table read from its pages, from the counts in its report; fills in
// ValuesMissing.
void SetTableState(TTableReport& table);

// Sets the state of every table of `database` and adds, in the catalog's order, a lost
// entry for each table of `listed` that none of them stands for.
void AccountForCatalog(const std::vector<TCatalogTable>& listed, TDatabaseReport& database);

// "recovered", "partly recovered", "lost".
const char* TableStateName(TTableState state);

}  // namespace quillon::recover
