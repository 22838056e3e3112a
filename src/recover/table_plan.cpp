#include "recover/table_plan.h"

#include <algorithm>

#include "recover/database_layout.h"
#include "recover/definition_chain.h"
#include "recover/row_fit.h"

namespace quillon::recover {

std::map<std::uint32_t, TTablePlan> PagesByOwner(const std::vector<TPageEntry>& entries,
                                                 const TDatabasePages& database) {
  std::map<std::uint32_t, TTablePlan> byOwner;
  for (const auto& [number, index] : database.Pages) {
    const TPageEntry& entry = entries[index];
    if (entry.Kind != TPageKind::Data || entry.Owner == jet::kLvalOwner || entry.Owner <= 5)
      continue;
    byOwner[entry.Owner].Owner = entry.Owner;
    byOwner[entry.Owner].Pages.emplace_back(number, index);
  }
  return byOwner;
}

std::vector<TTablePlan> PlanTables(const TDatabaseReader& reader,
                                   const std::vector<TPageEntry>& entries,
                                   const TDatabasePages& database,
                                   const std::map<std::uint32_t, TCatalogEntry>& catalog,
                                   const std::map<std::uint32_t, TTableDefinition>& shapeTies,
                                   bool catalogFound, std::vector<std::size_t>* setApart) {
  std::map<std::uint32_t, TTablePlan> byOwner = PagesByOwner(entries, database);
  // Tables the catalog names with a definition but no data page left: empty tables.
  for (const auto& [page, entry] : catalog) {
    if (!byOwner.contains(page) && database.Pages.contains(page)) byOwner[page];
  }
  std::vector<TTablePlan> plans;
  for (auto& [owner, plan] : byOwner) {
    plan.Owner = owner;
    std::sort(plan.Pages.begin(), plan.Pages.end());
    const auto named = catalog.find(owner);
    if (named != catalog.end()) {
      if (IsSystemOrHidden(named->second)) continue;
      plan.Name = named->second.Name;
      plan.NamedFromCatalog = true;
      plan.DateUpdate = named->second.DateUpdate;
    }
    std::optional<TTableDefinition> definition;
    if (const auto tied = shapeTies.find(owner); tied != shapeTies.end()) {
      definition = tied->second;
    } else {
      definition = DefinitionAt(reader, entries, database, owner);
    }
    if (definition && definition->System) continue;
    if (definition && FitsRows(reader, plan, *definition)) {
      plan.Definition = std::move(definition);
    } else if (definition && setApart) {
      // Pages without a number lie in this database by no evidence: where they alone keep
      // the definition from fitting, they are none of this table's.
      TTablePlan numbered = plan;
      std::erase_if(numbered.Pages,
                    [](const auto& page) { return page.first >= kUnnumberedPage; });
      if (!numbered.Pages.empty() && numbered.Pages.size() < plan.Pages.size() &&
          FitsRows(reader, numbered, *definition)) {
        for (const auto& [number, index] : plan.Pages) {
          if (number >= kUnnumberedPage) setApart->push_back(index);
        }
        plan.Pages = std::move(numbered.Pages);
        plan.Definition = std::move(definition);
      }
    }
    if (!plan.NamedFromCatalog) {
      if (!plan.Definition && catalogFound) continue;  // pages of a dropped table
      plan.Name = "table-" + std::to_string(owner);
    }
    plans.push_back(std::move(plan));
  }
  return plans;
}

}  // namespace quillon::recover
