#include "recover/page_placement.h"

#include <span>

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
  MovePlacedPages(databases, PlaceRuns(store, entries, bases, reading), entries);
  return databases;
}

}  // namespace quillon::recover
