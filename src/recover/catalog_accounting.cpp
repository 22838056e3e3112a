#include "recover/catalog_accounting.h"

#include <set>

namespace quillon::recover {

void SetTableState(TTableReport& table) {
  if (table.State == TTableState::Lost) return;
  const auto columns = static_cast<std::int64_t>(table.Columns);
  table.ValuesMissing =
      table.ValuesNotFound + (table.RowsMissing + table.UnreadableRows) * columns;
  const bool partial = !table.Typed || table.ValuesMissing > 0 || table.PagesMissing > 0 ||
                       table.MovedRowsNotTied > 0 || table.RowsOfTwoVersions > 0;
  table.State = partial ? TTableState::Partial : TTableState::Recovered;
}

void AccountForCatalog(const std::vector<TCatalogTable>& listed, TDatabaseReport& database) {
  std::set<std::uint32_t> found;
  for (TTableReport& table : database.Tables) {
    SetTableState(table);
    found.insert(table.DefinitionPage);
  }
  for (const TCatalogTable& entry : listed) {
    if (!found.insert(entry.DefinitionPage).second) continue;
    TTableReport lost;
    lost.Name = entry.Name;
    lost.DefinitionPage = entry.DefinitionPage;
    lost.NamedFromCatalog = true;
    lost.LastUpdate = entry.DateUpdate;
    lost.State = TTableState::Lost;
    database.Tables.push_back(std::move(lost));
  }
}

const char* TableStateName(TTableState state) {
  switch (state) {
    case TTableState::Recovered:
      return "recovered";
    case TTableState::Partial:
      return "partly recovered";
    case TTableState::Lost:
      return "lost";
  }
  return "";
}

}  // namespace quillon::recover
