#include "recover/page_placement.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <unordered_map>

#include "jet/catalog.h"
#include "recover/base_from_evidence.h"
#include "recover/definition_numbers.h"
#include "recover/page_slots.h"
#include "recover/row_fit.h"
#include "recover/run_placement.h"

namespace quillon::recover {
namespace {

// Databases with a header or system definitions that a source must hold before a base is
// sought from evidence (see AddBasesFromEvidence).
constexpr std::size_t kMinBasesForEvidence = 2;
// Bases sought from evidence at most, each one a placing of every run again.
constexpr std::size_t kMostBasesFromEvidence = 16;
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
    if (tried++ < kRowsJudgedForPlacement) {
      if (!HasExactShape(row, definition)) {
        judgement.Fits = false;
        judgement.Targets.clear();
        return judgement;
      }
      if (const std::optional<jet::TRowLayout> layout = LayoutOfRow(row, definition))
        judgement.Whole |= layout->ColumnCount() == definition.HighestColumnCount;
    }
    ForEachLongValuePointer(row, definition, [&](const jet::TLongValueHead& head) {
      judgement.Targets.push_back({head.Where.Page, head.Where.Row, head.Length,
                                   head.Kind == jet::TLongValueKind::Chain});
    });
  }
  if (tried > 0) judgement.Fits = true;
  return judgement;
}

// Whether the database at `base`, new in `after`, took every catalog (MSysObjects) page
// that a database placed before (`before`) had: none of them left in it at its number. A
// database's catalog pages are placed by its own system numbering and usage maps, so a base
// that takes them all is a piece of that database that placing did not reach (pieces of one
// file moved about), not a database of its own. One that takes some and leaves others took
// pages that had been placed with a piece of its own file.
bool TakesEveryCatalogPage(const std::vector<TPageEntry>& entries,
                           const std::vector<TDatabasePages>& before,
                           const std::vector<TDatabasePages>& after, std::int64_t base) {
  std::map<std::int64_t, const TDatabasePages*> now;
  for (const TDatabasePages& database : after) {
    if (database.Base != base) now.emplace(database.Base, &database);
  }
  for (const TDatabasePages& database : before) {
    const auto there = now.find(database.Base);
    std::size_t had = 0, kept = 0;
    for (const auto& [number, index] : database.Pages) {
      const TPageEntry& entry = entries[index];
      if (entry.Kind != TPageKind::Data || entry.Owner != jet::kCatalogOwner) continue;
      ++had;
      if (there == now.end()) continue;
      const auto page = there->second->Pages.find(number);
      kept += page != there->second->Pages.end() && page->second == index;
    }
    if (had > 0 && kept == 0) return true;
  }
  return false;
}

// Databases whose header and system definitions are all lost get a base from what their
// pages say (base_from_evidence.h), one at a time, each placed before the next is sought:
// the pages the new base's placing takes are no longer loose, so another piece of the same
// database is placed in it instead of becoming a database of its own. A base is kept only
// where its placing takes at least the definitions that gave it; `bases`, the reading's home
// starts and `placed` then grow to include it.
void AddBasesFromEvidence(const IPageStore& store, const std::vector<TPageEntry>& entries,
                          const std::vector<TFoundDefinition>& definitions,
                          std::vector<std::int64_t>& bases, TPlacementReading& reading,
                          std::vector<TDatabasePages>& placed) {
  // On a source holding one database's header or system definitions, loose pieces that
  // carry definitions are that database's own, moved about (a file in pieces): a base of
  // their own would split it in two. Only among several databases (a disk with a history)
  // may they be a database whose header is gone.
  if (bases.size() < kMinBasesForEvidence) return;
  std::set<std::int64_t> tried(bases.begin(), bases.end());
  for (std::size_t round = 0; round < kMostBasesFromEvidence; ++round) {
    if (reading.StopRequested && reading.StopRequested()) return;
    std::set<std::size_t> taken;
    for (const TDatabasePages& database : placed) {
      for (const auto& [number, index] : database.Pages) taken.insert(index);
    }
    const std::optional<TEvidenceBase> found =
        BaseFromEvidence(store, entries, definitions, taken, tried);
    if (!found) return;
    tried.insert(found->Base);
    if (CopiesAPlacedDatabase(store, entries, *found, placed)) continue;
    bases.push_back(found->Base);
    reading.HomeStarts[found->Base] = found->HomeStart;
    std::vector<TDatabasePages> again = PlaceRuns(store, entries, bases, reading);
    const auto own = std::find_if(again.begin(), again.end(), [&](const TDatabasePages& d) {
      return d.Base == found->Base;
    });
    std::size_t held = 0;
    if (own != again.end()) {
      for (const auto& [number, index] : own->Pages) {
        held += std::count(found->Definitions.begin(), found->Definitions.end(), index) > 0;
      }
    }
    // Its pages must bear it out: its definitions placed in it, and named by its catalog;
    // and it leaves every other database a catalog page.
    if (held < kMinAgreeingDefinitions ||
        NamedByItsCatalog(store, entries, *found, *own) < kMinAgreeingDefinitions ||
        TakesEveryCatalogPage(entries, placed, again, found->Base) ||
        std::any_of(placed.begin(), placed.end(), [&](const TDatabasePages& other) {
          return HoldsCatalogPageListedBy(store, entries, *own, other);
        })) {
      bases.pop_back();
      reading.HomeStarts.erase(found->Base);
      continue;
    }
    placed = std::move(again);
  }
}

}  // namespace

std::vector<TDatabasePages> PlaceDatabasePages(const IPageStore& store,
                                               const std::vector<TPageEntry>& entries,
                                               const std::vector<TFoundDefinition>& definitions,
                                               const std::function<bool()>& stopRequested) {
  std::vector<std::int64_t> bases = FindDatabaseBases(entries, definitions);
  TPlacementReading reading;
  reading.Judge = [&store](std::size_t index, const TTableDefinition& definition) {
    return JudgePage(store, index, definition);
  };
  reading.StopRequested = stopRequested;
  reading.TakeBack = false;
  std::vector<TDatabasePages> placed = PlaceRuns(store, entries, bases, reading);
  // Position offers pages only to the bases that a header or system definition gave: a
  // base from evidence has no page 0 to say where its file begins, so it takes only what
  // evidence places in it.
  std::vector<TDatabasePages> databases = TellDatabasesApart(entries, bases);
  AddBasesFromEvidence(store, entries, definitions, bases, reading, placed);
  // Every base known, each home is placed before any piece is taken back along its run.
  reading.TakeBack = true;
  placed = PlaceRuns(store, entries, bases, reading);
  for (const auto& [base, start] : reading.HomeStarts) {
    TDatabasePages database;
    database.Base = base;
    databases.push_back(std::move(database));
  }
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
  for (const TDatabasePages& database : placed) {
    for (const auto& [number, index] : database.Pages) placedIn.emplace(index, database.Base);
  }
  MovePlacedPages(databases, placed, entries,
                  [&](const TDatabasePages& database, std::size_t index,
                      std::uint32_t positionNumber, std::uint32_t evidenceNumber) {
                    return DefinitionNumberOverruled(entries, database, index, positionNumber,
                                                     evidenceNumber, fits, placedIn);
                  });
  // Each database from evidence in order of its first page among the others.
  const auto fromEvidence = std::stable_partition(
      databases.begin(), databases.end(),
      [&](const TDatabasePages& d) { return !reading.HomeStarts.contains(d.Base); });
  std::vector<TDatabasePages> added(std::make_move_iterator(fromEvidence),
                                    std::make_move_iterator(databases.end()));
  databases.erase(fromEvidence, databases.end());
  for (TDatabasePages& database : added) {
    if (database.Pages.empty()) continue;
    const auto at = std::upper_bound(databases.begin(), databases.end(), database.FirstOffset,
                                     [](std::int64_t offset, const TDatabasePages& d) {
                                       return offset < d.FirstOffset;
                                     });
    databases.insert(at, std::move(database));
  }
  return databases;
}

}  // namespace quillon::recover
