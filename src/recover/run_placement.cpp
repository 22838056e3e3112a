#include "recover/run_placement.h"

#include "recover/run_placement_internal.h"

// The rounds of placing: homes first, then pieces by every rule in turn until a round
// places nothing more.

namespace quillon::recover::placement {

std::vector<TDatabasePages> TPlacer::Place(const std::vector<std::int64_t>& bases,
                                           TPlacementCounts* counts) {
  CutRuns(bases);
  if (counts) counts->Runs = runs_.size();
  std::vector<std::int64_t> sorted = bases;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  for (const std::int64_t base : sorted) {
    if (base < 0) continue;
    databases_.push_back({});
    databases_.back().Base = base;
  }
  PlaceHomes();
  PlacePieces(counts);
  return Result();
}

void TPlacer::IndexHolders() {
  holdersOf_.clear();
  for (std::size_t d = 0; d < databases_.size(); ++d) {
    for (const auto& [number, index] : databases_[d].Pages) {
      if (entries_[index].Kind == TPageKind::Definition) holdersOf_[number].push_back(d);
    }
  }
}

// Plans for `piece`: one where a single place holds for it; else, where it spans a gap in
// the store (two pieces of the file that happen to lie near each other), the plans for
// its two parts either side of its widest gap (with no gap, either side of its last change
// of table), each from its first page that says it is the database's to its last.
void TPlacer::PlanPiece(std::size_t r, const std::vector<std::size_t>& run, const TPiece& piece,
                        int depth, std::vector<TPlan>& plans) {
  TDatabase& database = databases_[piece.Database];
  if (const std::optional<std::uint32_t> start = StartOf(database, run, piece)) {
    plans.push_back({r, piece, *start});
    return;
  }
  if (const std::optional<TPlan> plan = PlaceByOwnLongValues(r, run, piece)) {
    plans.push_back(*plan);
    return;
  }
  if (depth >= kMaxSplits || piece.First == piece.Last) return;
  std::size_t cut = piece.First;  // the last page before the widest gap
  std::uint32_t widest = 0;
  for (std::size_t i = piece.First; i < piece.Last; ++i) {
    const std::uint32_t gap = Distance(run[i], run[i + 1]);
    if (gap > widest) {
      widest = gap;
      cut = i;
    }
  }
  // Pages side by side with no gap: where the piece holds pages of more than one table,
  // it is cut before the last table's pages. A stale page of another table at its edge
  // (Access leaves them among a table's own) can keep every place from holding the whole,
  // while the pages of one table hold at one place alone.
  if (widest <= 1) {
    std::optional<std::uint32_t> owner;  // of the last table page seen, from the end
    bool found = false;
    for (std::size_t i = piece.Last + 1; i-- > piece.First && !found;) {
      const TPageEntry& entry = entries_[run[i]];
      if (!IsTablePage(entry)) continue;
      if (owner && *owner != entry.Owner) {
        cut = i;
        found = true;
      }
      owner = entry.Owner;
    }
    if (!found) return;
  }
  const auto says = [&](std::size_t i) {
    return SaysOf(database, run[i]) == TSays::For;
  };
  for (const auto& [from, to] : {std::pair{piece.First, cut}, std::pair{cut + 1, piece.Last}}) {
    std::size_t first = from, last = to;
    while (first <= last && !says(first)) ++first;
    while (last > first && !says(last)) --last;
    if (first <= last && says(first))
      PlanPiece(r, run, {piece.Database, first, last}, depth + 1, plans);
  }
}

// Pieces outside the homes, placed where their tables' definitions and usage maps say.
// Two pieces that would take one number in one database are two copies: neither is
// placed by that round.
void TPlacer::PlacePieces(TPlacementCounts* counts) {
  for (int round = 0; round < kMaxPlacingRounds; ++round) {
    // A source whose databases each lie whole in their homes has nothing more to place.
    if (LooseRuns().empty()) break;
    const std::size_t homesExtended = round > 0 ? ExtendHomes() + PlaceLooseBitmaps() : 0;
    IndexHolders();
    ForgetCopies();
    const std::vector<std::vector<std::size_t>> loose = LooseRuns();
    std::vector<TPlan> plans;
    for (std::size_t r = 0; r < loose.size(); ++r) {
      for (const TPiece& piece : PiecesOf(loose[r])) {
        // Another copy's pieces fit the database as well as its own: never placed in it.
        if (InCopyOf(piece.Database, loose[r], piece.First, piece.Last)) continue;
        PlanPiece(r, loose[r], piece, 0, plans);
      }
    }
    // Numbers claimed by more than one plan.
    std::map<std::pair<std::size_t, std::uint32_t>, int> claims;
    for (const TPlan& plan : plans) {
      for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last; ++i)
        ++claims[{plan.Piece.Database, NumberOf(plan, loose[plan.Run], i)}];
    }
    std::size_t placedNow = 0;
    for (const TPlan& plan : plans) {
      bool alone = true;
      for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last && alone; ++i)
        alone = claims[{plan.Piece.Database, NumberOf(plan, loose[plan.Run], i)}] == 1;
      if (!alone) continue;
      AddPlan(plan, loose[plan.Run]);
      FollowPiece(plan.Piece.Database, loose[plan.Run][plan.Piece.First], plan.Start);
      ++placedNow;
    }
    if (placedNow == 0) placedNow = PlaceDefinitionPieces();
    if (placedNow == 0) placedNow = PlaceLooseDefinitions();
    if (placedNow == 0) placedNow = PlaceBitmapPieces();
    if (placedNow == 0) placedNow = PlaceLongValuePieces();
    if (counts) counts->PiecesPlaced += placedNow;
    if (placedNow == 0 && homesExtended == 0 && round > 0) break;
  }
  if (counts) {
    for (const std::vector<std::size_t>& run : LooseRuns())
      counts->PiecesLeftApart += PiecesOf(run).size();
  }
}

// The number that position i of `run` (the plan's run) takes when the plan is placed.
std::uint32_t TPlacer::NumberOf(const TPlan& plan, const std::vector<std::size_t>& run,
                                std::size_t i) const {
  return plan.Start + Distance(run[plan.Piece.First], run[i]);
}

// Claims every page of the plan in `run` (the plan's run) for its database at its number.
void TPlacer::ClaimPages(const TPlan& plan, const std::vector<std::size_t>& run,
                         TPageClaims& claims) const {
  for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last; ++i)
    claims[run[i]].insert({plan.Piece.Database, NumberOf(plan, run, i)});
}

// Whether every page of the plan in `run` (the plan's run) is claimed for one number of one
// database only, and is not given yet (not in `done`).
bool TPlacer::ClaimedAlone(const TPlan& plan, const std::vector<std::size_t>& run,
                           const TPageClaims& claims, const std::set<std::size_t>& done) const {
  for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last; ++i) {
    const auto claim = claims.find(run[i]);
    if (claim == claims.end() || claim->second.size() != 1 || done.contains(run[i]))
      return false;
  }
  return true;
}

// Gives every page of the plan in `run` (the plan's run) to its database at its number,
// and notes each in `done` where it is given.
void TPlacer::AddPlan(const TPlan& plan, const std::vector<std::size_t>& run,
                      std::set<std::size_t>* done) {
  TDatabase& database = databases_[plan.Piece.Database];
  for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last; ++i) {
    Add(database, NumberOf(plan, run, i), run[i]);
    if (done) done->insert(run[i]);
  }
}

std::vector<TDatabasePages> TPlacer::Result() const {
  std::vector<TDatabasePages> result;
  for (const TDatabase& database : databases_) {
    if (database.Pages.empty()) continue;
    TDatabasePages& pages = result.emplace_back();
    pages.Base = database.Base;
    for (const auto& [number, index] : database.Pages) {
      pages.Pages.emplace(number, index);
      const std::int64_t offset = entries_[index].SourceOffset;
      if (pages.FirstOffset < 0 || offset < pages.FirstOffset) pages.FirstOffset = offset;
      pages.LastOffset = std::max(pages.LastOffset, offset);
    }
  }
  std::sort(result.begin(), result.end(), [](const TDatabasePages& a, const TDatabasePages& b) {
    return a.FirstOffset < b.FirstOffset;
  });
  return result;
}

}  // namespace quillon::recover::placement

namespace quillon::recover {

std::vector<TDatabasePages> PlaceRuns(const IPageStore& store,
                                      const std::vector<TPageEntry>& entries,
                                      const std::vector<std::int64_t>& bases,
                                      const TPlacementReading& reading,
                                      TPlacementCounts* counts) {
  placement::TPlacer placer(store, entries, reading);
  try {
    return placer.Place(bases, counts);
  } catch (const placement::TPlacementStopped&) {
    return {};
  }
}

}  // namespace quillon::recover
