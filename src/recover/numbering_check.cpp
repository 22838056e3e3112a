#include "recover/numbering_check.h"

#include <map>

#include "jet/catalog.h"
#include "recover/catalog_reading.h"
#include "recover/definition_chain.h"
#include "recover/page_order.h"
#include "recover/row_fit.h"
#include "recover/table_plan.h"
#include "recover/usage_maps.h"

namespace quillon::recover {
namespace {

// The long values of a data page's live rows whose LVAL rows are not where their page
// numbers say: a pointer that names a page of the database which is no LVAL page, or
// whose row is missing, too short for a single-row value, or a chain whose parts do not
// add up. A page that is not there at all says nothing (it may simply be lost).
std::size_t LongValuesMisplaced(const TDatabaseReader& reader, const TDatabasePages& database,
                                std::size_t index, const TTableDefinition& definition) {
  const TPage page = *reader.PageByIndex(index);
  std::size_t misplaced = 0;
  // The row of an LVAL page at `number`; nothing when no page has the number, and an
  // empty row when the page there cannot hold it.
  auto rowAt = [&](std::uint32_t number,
                   std::uint8_t row) -> std::optional<std::vector<std::uint8_t>> {
    if (!database.Pages.contains(number)) return std::nullopt;
    return reader.RowOf(number, row, true).value_or(std::vector<std::uint8_t>{});
  };
  for (const TSlot& slot : SlotsOf(page)) {
    if (slot.End == 0 || !IsLive(slot)) continue;
    const auto row =
        std::span<const std::uint8_t>(page).subspan(slot.Start, slot.End - slot.Start);
    ForEachLongValuePointer(row, definition, [&](const jet::TLongValueHead& head) {
      if (head.Kind == jet::TLongValueKind::SingleRow) {
        const std::optional<std::vector<std::uint8_t>> part =
            rowAt(head.Where.Page, head.Where.Row);
        misplaced += part && part->size() != head.Length ? 1 : 0;
        return;
      }
      // A chain cut short by a lost page proves nothing; one that runs over or ends
      // early does.
      const jet::TChainEnd end = jet::FollowChain(
          head.Where, head.Length,
          [&](jet::TRowPointer at) { return rowAt(at.Page, at.Row); },
          [](std::span<const std::uint8_t>) {});
      if (end == jet::TChainEnd::Broken) ++misplaced;
    });
  }
  return misplaced;
}

}  // namespace

bool NumberingHolds(const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
                    const TDatabasePages& database) {
  const std::optional<TTableDefinition> catalogDefinition =
      DefinitionAt(reader, entries, database, jet::kCatalogOwner);
  const std::map<std::uint32_t, TCatalogEntry> catalog =
      ReadCatalog(reader, entries, database,
                  catalogDefinition ? *catalogDefinition : BuiltInCatalogDefinition());
  TOwnerAt ownerAt;
  for (const auto& [number, index] : database.Pages) {
    const TPageEntry& entry = entries[index];
    ownerAt.emplace(number, entry.Kind == TPageKind::Data ? entry.Owner : kNotDataPage);
  }
  std::vector<TTableOrderEvidence> tables;
  for (const auto& [owner, plan] : PagesByOwner(entries, database)) {
    TTableOrderEvidence& table = tables.emplace_back();
    table.Owner = owner;
    table.Cataloged = catalog.contains(owner);
    table.PiecesMovedIn = database.Certain.size() > database.Overruled.size();
    for (const auto& [number, index] : plan.Pages) table.Numbers.push_back(number);
    TTablePlan numbered = plan;
    std::erase_if(numbered.Pages, [](const auto& page) { return page.first >= kUnnumberedPage; });
    const std::optional<TTableDefinition> definition =
        DefinitionAt(reader, entries, database, owner);
    // A definition that lies at its number because its table's pages overruled position's
    // number for it (see MovePlacedPages) vouches for nothing: position put it elsewhere.
    if (!definition || database.Overruled.contains(owner)) continue;
    table.DefinitionThere = true;
    table.DefinitionFits = FitsRows(reader, numbered.Pages.empty() ? plan : numbered, *definition);
    table.Listed = UsageMapOf(reader, entries, database, definition->UsageMapPointer);
    if (!table.DefinitionFits) continue;  // its long-value pointers cannot be found
    for (const auto& [number, index] : numbered.Pages) {
      if (!table.Listed || table.Listed->contains(number))
        table.LongValuesMisplaced += LongValuesMisplaced(reader, database, index, *definition);
      const auto placed = database.EvidenceNumbers.find(index);
      if (table.Listed && placed != database.EvidenceNumbers.end() &&
          !table.Listed->contains(number) && table.Listed->contains(placed->second) &&
          !database.Pages.contains(placed->second))
        ++table.PlacedWhereListed;
    }
  }
  return PagesLieInOrder(tables, ownerAt);
}

}  // namespace quillon::recover
