#include "recover/table_plan.h"

#include <algorithm>

#include "recover/database_layout.h"
#include "recover/definition_chain.h"
#include "recover/row_fit.h"

namespace quillon::recover {
namespace {

// The pages of `plan` that lie in the database by position alone (evidence placed them
// nowhere) and whose rows do not fit `definition`, where without them the table's rows fit
// it and at least one page that evidence placed is left: those pages are another file's
// that lay after a piece of this one, at numbers its own pages would have. Nothing when
// the table's rows do not fit without them, or no page evidence placed vouches for it.
std::vector<std::size_t> PositionalMisfits(const TDatabaseReader& reader,
                                           const TDatabasePages& database,
                                           const TTablePlan& plan,
                                           const TTableDefinition& definition) {
  std::vector<std::size_t> misfits;
  TTablePlan kept = plan;
  kept.Pages.clear();
  bool vouched = false;
  for (const auto& page : plan.Pages) {
    const bool evidenced = database.Evidenced.contains(page.second);
    if (!evidenced) {
      TTablePlan alone = plan;
      alone.Pages = {page};
      if (!FitsRows(reader, alone, definition)) {
        misfits.push_back(page.second);
        continue;
      }
    }
    vouched |= evidenced;
    kept.Pages.push_back(page);
  }
  if (misfits.empty() || !vouched || !FitsRows(reader, kept, definition)) return {};
  return misfits;
}

}  // namespace

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
      } else if (std::vector<std::size_t> misfits = PositionalMisfits(reader, database, plan,
                                                                      *definition);
                 !misfits.empty()) {
        setApart->insert(setApart->end(), misfits.begin(), misfits.end());
        std::erase_if(plan.Pages, [&](const auto& page) {
          return std::find(misfits.begin(), misfits.end(), page.second) != misfits.end();
        });
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
