#include "recover/page_placement.h"

#include <map>
#include <span>
#include <unordered_map>

#include "recover/definition_numbers.h"
#include "recover/page_slots.h"
#include "recover/row_fit.h"
#include "recover/run_placement.h"

namespace quillon::recover {
namespace {

// Rows of a page judged when placing it: a few that fit exactly say whose it is.
constexpr std::size_t kRowsJudgedForPlacement = 8;

// What a data page's live rows say against a definition, from one reading of the page:
// whether they have exactly its shape, and where their long values lie.
TPageJudgement JudgePage(const IPageStore& store, std::size_t index,
                         const TTableDefinition& definition) {
  TPageJudgement judgement;
  TPage page{};
  store.Read(index, page);
  std::size_t tried = 0;
  for (const TSlot& slot : SlotsOf(page)) {
    // Live rows only: a deleted row's long value was freed with it.
    if (slot.End == 0 || !IsLive(slot)) continue;
    const auto row = std::span<const std::uint8_t>(page).subspan(slot.Start, slot.End - slot.Start);
    if (tried++ < kRowsJudgedForPlacement && !HasExactShape(row, definition)) {
      judgement.Fits = false;
      judgement.Targets.clear();
      return judgement;
    }
    ForEachLongValuePointer(row, definition, [&](const jet::TLongValueHead& head) {
      judgement.Targets.push_back({head.Where.Page, head.Where.Row, head.Length,
                                   head.Kind == jet::TLongValueKind::Chain});
    });
  }
  if (tried > 0) judgement.Fits = true;
  return judgement;
}

}  // namespace

std::vector<TDatabasePages> PlaceDatabasePages(const IPageStore& store,
                                               const std::vector<TPageEntry>& entries,
                                               const std::vector<TFoundDefinition>& definitions,
                                               const std::function<bool()>& stopRequested) {
  const std::vector<std::int64_t> bases = FindDatabaseBases(entries, definitions);
  std::vector<TDatabasePages> databases = TellDatabasesApart(entries, bases);
  TPlacementReading reading;
  reading.Judge = [&store](std::size_t index, const TTableDefinition& definition) {
    return JudgePage(store, index, definition);
  };
  reading.StopRequested = stopRequested;
  const auto placedRuns = PlaceRuns(store, entries, bases, reading);
  // Definitions parsed alone by their first page, once each: asked of the few pages
  // evidence numbers otherwise than position inside one database.
  std::map<std::size_t, std::optional<TTableDefinition>> parsed;
  const TExactFit fits = [&](std::size_t data, std::size_t definition) -> std::optional<bool> {
    auto [at, added] = parsed.try_emplace(definition);
    if (added) {
      TPage page{};
      store.Read(definition, page);
      TDefinitionResult result = ParseTableDefinition(page);
      if (result.Status == TDefinitionParse::Ok && !result.Definition->System)
        at->second = std::move(result.Definition);
    }
    if (!at->second) return std::nullopt;
    return JudgePage(store, data, *at->second).Fits;
  };
  std::unordered_map<std::size_t, std::int64_t> placedIn;  // store index → evidence's base
  for (const TDatabasePages& database : placedRuns) {
    for (const auto& [number, index] : database.Pages) placedIn.emplace(index, database.Base);
  }
  MovePlacedPages(databases, placedRuns, entries,
                  [&](const TDatabasePages& database, std::size_t index,
                      std::uint32_t positionNumber, std::uint32_t evidenceNumber) {
                    return DefinitionNumberOverruled(entries, database, index, positionNumber,
                                                     evidenceNumber, fits, placedIn);
                  });
  return databases;
}

}  // namespace quillon::recover
