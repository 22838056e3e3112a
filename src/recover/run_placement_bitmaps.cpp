// Pieces placed by usage maps and the bitmap pages those maps are read from.

#include "recover/run_placement_internal.h"

namespace quillon::recover::placement {

// A piece whose table's map is kept on a bitmap page the database lacks, where a bitmap
// page lies among its pages or just beside them: numbered so that page is at the number the map
// names, the map it completes lists every page of that table in the piece at its number
// and every one the database has (two at least). The piece, widened to the bitmap page, must then hold
// as in PlaceByOwnLongValues; nothing when no place or more than one holds.
std::optional<TPlacer::TPlan> TPlacer::PlaceByBitmapInRun(std::size_t r,
                                                          const std::vector<std::size_t>& run,
                                                          const TPiece& piece) {
  TDatabase& database = databases_[piece.Database];
  std::optional<std::uint32_t> owner;
  for (std::size_t i = piece.First; i <= piece.Last && !owner; ++i) {
    if (IsTablePage(entries_[run[i]]) && entries_[run[i]].Owner > kLastSystemPage)
      owner = entries_[run[i]].Owner;
  }
  if (!owner || !DefinitionOf(database, *owner)) return std::nullopt;
  database.Listed.erase(*owner);
  missingBitmap_.reset();
  if (ListedOf(database, *owner) || !missingBitmap_ ||
      database.Pages.contains(*missingBitmap_))
    return std::nullopt;
  const std::uint32_t bitmap = *missingBitmap_;
  // Within the piece or just beside it: widened further, it would take pages that say
  // nothing at numbers their own database may need.
  const std::size_t from = piece.First > 0 ? piece.First - 1 : 0;
  const std::size_t to = std::min(run.size(), piece.Last + 2);
  std::optional<TPlan> found;
  for (std::size_t j = from; j < to; ++j) {
    if (entries_[run[j]].Kind != TPageKind::UsageMap) continue;
    const std::int64_t origin =
        entries_[run[j]].SourceOffset - static_cast<std::int64_t>(bitmap) * kPage;
    if (origin > entries_[run[std::min(j, piece.First)]].SourceOffset) continue;
    const auto numberAt = [&](std::size_t k) {
      return static_cast<std::uint32_t>((entries_[run[k]].SourceOffset - origin) / kPage);
    };
    // The map with this page, tried in place (the database as it was after).
    database.Pages.emplace(bitmap, run[j]);
    database.Listed.erase(*owner);
    const std::optional<std::set<std::uint32_t>> listed = ListedOf(database, *owner);
    database.Pages.erase(bitmap);
    database.Listed.erase(*owner);
    if (!listed) continue;
    std::size_t in = 0, out = 0;
    for (std::size_t i = piece.First; i <= piece.Last; ++i) {
      if (IsTablePage(entries_[run[i]]) && entries_[run[i]].Owner == *owner)
        (listed->contains(numberAt(i)) ? in : out) += 1;
    }
    // The pages of the table placed already are listed too: a map of another table or
    // another database's would leave some of them out.
    for (const auto& [number, index] : database.Pages) {
      if (IsTablePage(entries_[index]) && entries_[index].Owner == *owner)
        (listed->contains(number) ? in : out) += 1;
    }
    if (in < 2 || out > 0) continue;
    const std::size_t first = std::min(piece.First, j), last = std::max(piece.Last, j);
    if (!StretchHolds(database, run, first, last, origin)) continue;
    if (found) return std::nullopt;  // two places hold
    found = TPlan{r, {piece.Database, first, last}, numberAt(first)};
  }
  return found;
}

// Pieces placed by a bitmap page among them (see PlaceByBitmapInRun), once nothing else
// places any: a map completed so can leave another piece's pages unlisted that other
// evidence would have placed. Two plans that would take one number place neither.
std::size_t TPlacer::PlaceBitmapPieces() {
  IndexHolders();
  const std::vector<std::vector<std::size_t>> loose = LooseRuns();
  std::vector<TPlan> plans;
  for (std::size_t r = 0; r < loose.size(); ++r) {
    for (const TPiece& piece : PiecesOf(loose[r])) {
      if (const std::optional<TPlan> plan = PlaceByBitmapInRun(r, loose[r], piece))
        plans.push_back(*plan);
    }
  }
  std::map<std::pair<std::size_t, std::uint32_t>, int> claims;
  std::map<std::size_t, int> pagesClaimed;
  for (const TPlan& plan : plans) {
    for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last; ++i) {
      ++claims[{plan.Piece.Database, NumberOf(plan, loose[plan.Run], i)}];
      ++pagesClaimed[loose[plan.Run][i]];
    }
  }
  std::size_t placedNow = 0;
  for (const TPlan& plan : plans) {
    bool alone = true;
    for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last && alone; ++i)
      alone = claims[{plan.Piece.Database, NumberOf(plan, loose[plan.Run], i)}] == 1 &&
              pagesClaimed[loose[plan.Run][i]] == 1;
    if (!alone) continue;
    AddPlan(plan, loose[plan.Run]);
    FollowPiece(plan.Piece.Database, loose[plan.Run][plan.Piece.First], plan.Start);
    ++placedNow;
  }
  return placedNow;
}

// Bitmap pages of the usage maps of each database's tables found in loose pieces: for a
// table whose map names a bitmap page the database has no page at, the one loose bitmap
// page whose listing holds more of the table's placed data pages at their numbers than
// not (at least one). Returns the pages placed.
std::size_t TPlacer::PlaceLooseBitmaps() {
  std::size_t added = 0;
  for (TDatabase& database : databases_) {
    for (const std::uint32_t table : std::set<std::uint32_t>(NamedTablesOf(database))) {
      if (const auto cached = database.Listed.find(table);
          cached != database.Listed.end() && cached->second)
        continue;
      database.Listed.erase(table);  // read again, to learn which bitmap page is missing
      missingBitmap_.reset();
      if (ListedOf(database, table) || !missingBitmap_ ||
          database.Pages.contains(*missingBitmap_))
        continue;
      const std::uint32_t number = *missingBitmap_;
      std::vector<std::uint32_t> own;  // the numbers of the table's placed data pages
      for (const auto& [at, index] : database.Pages) {
        if (IsTablePage(entries_[index]) && entries_[index].Owner == table) own.push_back(at);
      }
      if (own.empty()) continue;
      std::optional<std::size_t> found;
      bool twice = false;
      for (const std::size_t u : LooseBitmapPages()) {
        // Tried in place, the database as it was after (no copy of a large database).
        database.Pages.emplace(number, u);
        database.Listed.erase(table);
        const std::optional<std::set<std::uint32_t>> listed = ListedOf(database, table);
        database.Pages.erase(number);
        database.Listed.erase(table);
        if (!listed) continue;
        std::size_t in = 0;
        for (const std::uint32_t at : own) in += listed->contains(at) ? 1 : 0;
        if (in == 0 || in * 2 <= own.size()) continue;
        twice = found.has_value();
        found = u;
        if (twice) break;
      }
      if (!found || twice) continue;
      Add(database, number, *found);
      ++added;
    }
  }
  return added;
}

// The usage-map bitmap pages (type 0x05) that no database took.
std::vector<std::size_t> TPlacer::LooseBitmapPages() const {
  std::vector<std::size_t> loose;
  for (const auto& [offset, index] : byOffset_) {
    if (entries_[index].Kind == TPageKind::UsageMap && !placed_.contains(index))
      loose.push_back(index);
  }
  std::sort(loose.begin(), loose.end());
  return loose;
}

}  // namespace quillon::recover::placement
