#include "recover/catalog_reading.h"

#include <algorithm>
#include <set>
#include <span>

#include "jet/catalog.h"
#include "recover/database_layout.h"

namespace quillon::recover {

namespace {

// A row of the catalog: the number of the page it lies on, the definition page of the
// object it names, and what it says.
struct TCatalogRow {
  std::uint32_t Number = 0;
  std::uint32_t TablePage = 0;
  TCatalogEntry Entry;
};

// The catalog's rows of one kind (live, or flagged deleted), in the order of their pages'
// numbers (the rows of any type; `stale` pages left out).
std::vector<TCatalogRow> CatalogRows(
    const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
    const TDatabasePages& database, const TTableDefinition& definition,
    const std::function<bool(std::uint32_t)>& stale, bool deleted) {
  std::vector<TCatalogRow> rows;
  auto columnOf = [&](const char* name) {
    for (std::size_t i = 0; i < definition.Columns.size(); ++i) {
      if (definition.Columns[i].Name == name) return i;
    }
    return SIZE_MAX;
  };
  const std::size_t id = columnOf("Id"), name = columnOf("Name"), type = columnOf("Type"),
                    flags = columnOf("Flags"), updated = columnOf("DateUpdate");
  if (id == SIZE_MAX || name == SIZE_MAX || type == SIZE_MAX) return rows;
  std::vector<std::pair<std::uint32_t, std::size_t>> pages(database.Pages.begin(),
                                                           database.Pages.end());
  std::sort(pages.begin(), pages.end());
  for (const auto& [number, index] : pages) {
    const TPageEntry& entry = entries[index];
    if (entry.Kind != TPageKind::Data || entry.Owner != jet::kCatalogOwner) continue;
    if (stale && stale(number)) continue;
    const TPage page = *reader.PageByIndex(index);
    for (const TSlot& slot : SlotsOf(page)) {
      if (slot.End == 0 || (deleted ? slot.Flags != kSlotDeleted : !IsLive(slot))) continue;
      const std::optional<std::vector<TValue>> values =
          DecodeRow(std::span(page).subspan(slot.Start, slot.End - slot.Start), definition, reader);
      if (!values || (*values)[id].Kind != TValue::TKind::Integer ||
          (*values)[name].Kind != TValue::TKind::Text)
        continue;
      TCatalogEntry catalogEntry;
      catalogEntry.Name = (*values)[name].Bytes;
      catalogEntry.Type = static_cast<int>((*values)[type].Integer);
      if (flags != SIZE_MAX) catalogEntry.Flags = (*values)[flags].Integer;
      if (updated != SIZE_MAX && (*values)[updated].Kind == TValue::TKind::Text)
        catalogEntry.DateUpdate = (*values)[updated].Bytes;
      rows.push_back(
          {number, jet::DefinitionPageOfId(static_cast<std::uint32_t>((*values)[id].Integer)),
           std::move(catalogEntry)});
    }
  }
  return rows;
}

}  // namespace

std::map<std::uint32_t, TCatalogEntry> ReadCatalog(
    const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
    const TDatabasePages& database, const TTableDefinition& definition,
    const std::function<bool(std::uint32_t)>& stale) {
  std::map<std::uint32_t, TCatalogEntry> catalog;
  for (TCatalogRow& row : CatalogRows(reader, entries, database, definition, stale, false)) {
    if (row.Entry.Type != jet::kLocalTableType) continue;
    // A page that nothing numbered (kUnnumberedPage on) can be another file's catalog
    // page: its row names a table only where no numbered page of the catalog does.
    if (row.Number >= kUnnumberedPage)
      catalog.emplace(row.TablePage, std::move(row.Entry));
    else
      catalog[row.TablePage] = std::move(row.Entry);
  }
  return catalog;
}

std::map<std::uint32_t, std::string> DroppedTableNames(
    const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
    const TDatabasePages& database, const TTableDefinition& definition,
    const std::map<std::uint32_t, TCatalogEntry>& catalog,
    const std::function<bool(std::uint32_t)>& stale) {
  std::map<std::uint32_t, std::string> names;
  std::set<std::uint32_t> disputed;  // pages that deleted rows give two names
  for (const TCatalogRow& row : CatalogRows(reader, entries, database, definition, stale, true)) {
    // Only the database's own numbered catalog pages: another file's catalog page lying
    // among them names its own tables.
    if (row.Number >= kUnnumberedPage || catalog.contains(row.TablePage)) continue;
    if (row.Entry.Type != jet::kLocalTableType) continue;
    if (IsSystemOrHidden(row.Entry) || row.Entry.Name.empty()) {
      disputed.insert(row.TablePage);
      continue;
    }
    const auto [at, added] = names.emplace(row.TablePage, row.Entry.Name);
    if (!added && at->second != row.Entry.Name) disputed.insert(row.TablePage);
  }
  for (const std::uint32_t page : disputed) names.erase(page);
  return names;
}

bool IsSystemName(const std::string& name) { return name.rfind("MSys", 0) == 0; }

bool IsSystemOrHidden(const TCatalogEntry& entry) {
  return IsSystemName(entry.Name) || (entry.Flags & jet::kSystemOrHiddenFlags) != 0;
}

std::vector<TCatalogTable> CatalogTables(const std::map<std::uint32_t, TCatalogEntry>& catalog) {
  std::vector<TCatalogTable> tables;
  for (const auto& [page, entry] : catalog) {
    if (IsSystemOrHidden(entry)) continue;
    tables.push_back({page, entry.Name, entry.DateUpdate});
  }
  return tables;
}

}  // namespace quillon::recover
