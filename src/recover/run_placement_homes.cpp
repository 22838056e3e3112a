// Each database's home, from its page 0 or its system definitions on, and the homes and
// placed pieces taken further along their runs.

#include "recover/run_placement_internal.h"

namespace quillon::recover::placement {

// What a page of a home says at its number: a table's data page as SaysOf; the header
// and the system definitions, and the pages the catalog and definitions name, are the
// database's; an LVAL page is where the long values pointed to there are found in it
// (every one, at least one of a single row); anything else says nothing.
TSays TPlacer::SaysOfHomePage(TDatabase& database, std::size_t index, std::uint32_t number) {
  const TPageEntry& entry = entries_[index];
  if (entry.Kind == TPageKind::Header) return number == 0 ? TSays::For : TSays::Nothing;
  if (NamedForDefinition(database, index, number)) return TSays::Against;
  if (IsTablePage(entry) && entry.Owner > kLastSystemPage) return SaysOf(database, index, number);
  if (entry.Kind == TPageKind::Definition && number >= 2 && number <= kLastSystemPage)
    return TSays::For;
  if (IsLongValuePage(entry)) {
    const std::multimap<std::uint32_t, TLongValueTarget>& pointed = PointedOf(database);
    const auto [from, to] = pointed.equal_range(number);
    if (from == to) return TSays::Nothing;
    const std::map<std::uint8_t, std::uint32_t>& rows = LongValueRowsOf(index);
    bool single = false;
    for (auto at = from; at != to; ++at) {
      if (!Holds(rows, at->second)) return TSays::Nothing;
      single |= !at->second.Chain;
    }
    return single ? TSays::For : TSays::Nothing;
  }
  if (entry.Kind == TPageKind::Data && entry.Owner == jet::kCatalogOwner &&
      SaysOfFurtherCatalogPage(database, index, number) == TSays::For)
    return TSays::For;
  if (!NamedPagesOf(database).contains(number)) return TSays::Nothing;
  // A named number vouches only for a page of the kind named there: a definition at a
  // table's id or in its chain, a data page holding a usage map, a usage-map page. Another
  // file's page lying at that number by distance is no evidence (a home run that goes on
  // over a gap into another database's piece met a data page at a table's id).
  if (entry.Kind == TPageKind::Definition || entry.Kind == TPageKind::UsageMap) return TSays::For;
  return HoldsUsageMapAt(database, index, number) ? TSays::For : TSays::Nothing;
}

// Whether page `index`, lying at `number`, is where a usage map of one of `database`'s
// tables (system tables included) is kept: a data page of no table (owner 0 or 1) at the
// number a definition's usage-map pointer names.
bool TPlacer::HoldsUsageMapAt(TDatabase& database, std::size_t index, std::uint32_t number) {
  const TPageEntry& entry = entries_[index];
  if (entry.Kind != TPageKind::Data || entry.Owner >= 2) return false;
  std::set<std::uint32_t> tables = NamedTablesOf(database);
  for (std::uint32_t system = 2; system <= kLastSystemPage; ++system) tables.insert(system);
  for (const std::uint32_t table : tables) {
    const std::optional<TTableDefinition>& definition = DefinitionOf(database, table);
    if (definition && (definition->UsageMapPointer >> 8) == number) return true;
  }
  return false;
}

// Whether `number` of `database` is a table's definition page by its catalog (see
// NamedPagesOf) while page `index` is no definition: a run goes on over a gap into another
// piece of the file, numbered by distance alone, and lands its pages anywhere.
bool TPlacer::NamedForDefinition(TDatabase& database, std::size_t index, std::uint32_t number) {
  if (entries_[index].Kind == TPageKind::Definition) return false;
  NamedPagesOf(database);
  return database.DefinitionNumbers.contains(number);
}

// Each database's home: the run from its page 0 (or its first system definition left),
// numbered from its base, as far as its pages bear it out. A run can go on into another
// file's piece with no gap: the home ends before the first page whose table's definition
// there it does not fit, and at the last page whose definition there it does fit.
void TPlacer::PlaceHomes() {
  std::set<std::size_t> homeStarts;  // store indices where a home begins
  std::vector<std::optional<std::pair<std::size_t, std::size_t>>> starts;  // run, position
  for (const TDatabase& database : databases_) {
    std::optional<std::pair<std::size_t, std::size_t>> start;
    // A base from evidence has its home where that evidence lies: what lies at its page 0
    // to 5 is another file's.
    const auto given = homeStarts_.find(database.Base);
    if (given != homeStarts_.end()) {
      if (const auto at = byOffset_.find(given->second); at != byOffset_.end()) {
        start = runPosition_.at(at->second);
        homeStarts.insert(at->second);
        voted_.insert(static_cast<std::size_t>(&database - databases_.data()));
      }
      starts.push_back(start);
      continue;
    }
    for (std::int64_t k = 0; k <= kLastSystemPage && !start; ++k) {
      const auto run = runOf_.find(database.Base + k * kPage);
      if (run == runOf_.end()) continue;
      const std::vector<std::size_t>& pages = runs_[run->second];
      std::size_t at = 0;
      while (entries_[pages[at]].SourceOffset < database.Base) ++at;
      start = {run->second, at};
      homeStarts.insert(pages[at]);
    }
    // A base from votes alone (no header or system definition left): its home begins at
    // its first page on the grid, kept only as far as evidence bears it out.
    if (!start) {
      const auto next = sortedOffsets_.lower_bound(database.Base);
      if (next != sortedOffsets_.end() && (*next - database.Base) % kPage == 0 &&
          *next - database.Base < kPage * kMaxVotedHomeGap) {
        const std::size_t run = runOf_.at(*next);
        const std::vector<std::size_t>& pages = runs_[run];
        std::size_t at = 0;
        while (entries_[pages[at]].SourceOffset < *next) ++at;
        start = {run, at};
        homeStarts.insert(pages[at]);
        voted_.insert(static_cast<std::size_t>(&database - databases_.data()));
      }
    }
    starts.push_back(start);
  }
  // Every home at its widest first: a page that fits another database's definition as
  // well as this one's says nothing (see SaysOf).
  std::vector<std::size_t> ends(databases_.size(), 0);  // one past each home's last page
  for (std::size_t d = 0; d < databases_.size(); ++d) {
    if (!starts[d]) continue;
    TDatabase& database = databases_[d];
    const std::vector<std::size_t>& run = runs_[starts[d]->first];
    std::size_t& end = ends[d];
    end = starts[d]->second + 1;
    while (end < run.size() && !homeStarts.contains(run[end])) ++end;
    for (std::size_t i = starts[d]->second; i < end; ++i)
      database.Pages.emplace(
          static_cast<std::uint32_t>((entries_[run[i]].SourceOffset - database.Base) / kPage),
          run[i]);
  }
  for (std::size_t d = 0; d < databases_.size(); ++d) {
    if (!starts[d]) continue;
    TDatabase& database = databases_[d];
    const std::vector<std::size_t>& run = runs_[starts[d]->first];
    std::size_t end = ends[d];
    auto numberOf = [&](std::size_t index) {
      return static_cast<std::uint32_t>((entries_[index].SourceOffset - database.Base) / kPage);
    };
    // Shrinks until what is numbered bears out its own extent.
    const bool voted = voted_.contains(d);
    for (int pass = 0; pass < 4; ++pass) {
      database.Pages.clear();
      Forget(database);
      for (std::size_t i = starts[d]->second; i < end; ++i)
        database.Pages.emplace(numberOf(run[i]), run[i]);
      // Its page 0 or first system definition is its own; a voted base's first page is
      // kept only by evidence, like the rest.
      std::optional<std::size_t> lastOwn;
      if (!voted) lastOwn = starts[d]->second;
      for (std::size_t i = starts[d]->second; i < end; ++i) {
        const std::size_t index = run[i];
        // A run goes on over a gap into another piece of the file, numbered by distance
        // alone: a gap that holds a number a usage map lists ends the home (see
        // GapHoldsListed).
        if (i > starts[d]->second &&
            GapHoldsListed(ListedOwnerOf(database), numberOf(run[i - 1]), numberOf(index)))
          break;
        const TSays says = SaysOfHomePage(database, index, numberOf(index));
        if (says == TSays::Against || says == TSays::Unsure) break;
        if (says == TSays::For) lastOwn = i;
      }
      // What lies after the last page that says it is the database's is left out: another
      // file's piece can follow with no gap, or after a gap no wider than the database's
      // own gaps (its index pages, which the store does not keep).
      const std::size_t kept = lastOwn ? *lastOwn + 1 : starts[d]->second;
      if (kept == end) break;
      end = kept;
    }
    database.Pages.clear();
    for (std::size_t i = starts[d]->second; i < end; ++i) Add(database, numberOf(run[i]), run[i]);
    homes_.push_back({d, starts[d]->first, starts[d]->second, ends[d], database.Base});
  }
}

// The pages of `d`'s home run that no database took, put into `trial` at their numbers
// from its base where those are free.
void TPlacer::AddHomeTails(std::size_t d, TDatabase& trial) const {
  for (const THome& home : homes_) {
    if (home.Database != d) continue;
    const std::vector<std::size_t>& run = runs_[home.Run];
    for (std::size_t i = home.First; i < home.End; ++i) {
      if (placed_.contains(run[i])) continue;
      trial.Pages.emplace(
          static_cast<std::uint32_t>((entries_[run[i]].SourceOffset - trial.Base) / kPage),
          run[i]);
    }
  }
}

// What a page after a placed piece says at its number: as a home's page says, but a
// piece's run goes on into other pieces more often than a home's, so only what names the
// page in particular counts: a table's data page its map lists, a definition at a table's
// id in the catalog, the page holding a table's usage map, an LVAL page holding the long
// values pointed to there.
TSays TPlacer::SaysOfPiecePage(TDatabase& database, std::size_t index, std::uint32_t number) {
  const TPageEntry& entry = entries_[index];
  if (entry.Kind == TPageKind::Header || NamedForDefinition(database, index, number))
    return TSays::Against;
  if (IsTablePage(entry) && entry.Owner > kLastSystemPage) return SaysOf(database, index, number);
  if (IsLongValuePage(entry)) return SaysOfHomePage(database, index, number);
  if (entry.Kind == TPageKind::Definition)
    return NamedTablesOf(database).contains(number) ? TSays::For : TSays::Nothing;
  if (entry.Kind == TPageKind::Data && entry.Owner == jet::kCatalogOwner)
    return SaysOfFurtherCatalogPage(database, index, number);
  if (entry.Kind == TPageKind::Data && entry.Owner < 2) {
    for (const std::uint32_t table : NamedTablesOf(database)) {
      const std::optional<TTableDefinition>& definition = DefinitionOf(database, table);
      if (definition && (definition->UsageMapPointer >> 8) == number) return TSays::For;
    }
  }
  return TSays::Nothing;
}

// Whether a usage map (`owners`, see ListedOwnerOf) lists `number` for a table that page
// `index` is not a data page of: a map lists its own table's data pages only (no LVAL
// page, definition or another table's page), so the page cannot lie at that number.
bool TPlacer::ListedForAnother(const std::map<std::uint32_t, std::uint32_t>& owners,
                               std::size_t index, std::uint32_t number) const {
  const auto listed = owners.find(number);
  if (listed == owners.end()) return false;
  const TPageEntry& entry = entries_[index];
  return !IsTablePage(entry) || entry.Owner != listed->second;
}

// Do the numbers between `before` and `after` (a gap in a run, where the store has no
// page) hold a page that a usage map of `database` lists? The store keeps every data
// page, so the file's own gaps are its index pages: a listed number in a gap says that
// what lies there on the source is something else, and the numbering does not go on
// across it.
bool TPlacer::GapHoldsListed(const std::map<std::uint32_t, std::uint32_t>& owners,
                             std::uint32_t before, std::uint32_t after) const {
  if (after <= before + 1) return false;
  const auto listed = owners.upper_bound(before);
  return listed != owners.end() && listed->first < after;
}

// The number page `index` takes where the database of `home` has its page 0 at the
// home's origin.
std::uint32_t TPlacer::NumberFrom(const THome& home, std::size_t index) const {
  return static_cast<std::uint32_t>((entries_[index].SourceOffset - home.Origin) / kPage);
}

// A walk of `home` along its run, with nothing put in yet.
TPlacer::TWalk TPlacer::StartWalk(const THome& home) {
  TDatabase& database = databases_[home.Database];
  return TWalk{home, database, runs_[home.Run], ListedOwnerOf(database), {}};
}

// Puts the page at position i of the walk's run in at its number, where no page lies.
void TPlacer::PutInForWalk(TWalk& walk, std::size_t i) {
  const std::size_t index = walk.Run[i];
  if (walk.Database.Pages.emplace(NumberFrom(walk.Home, index), index).second)
    walk.Tried.push_back(i);
}

// Whether the walk stops at position i of its run, coming from position `from` beside it
// (none at the page it sets out from). Past the end of the piece a run can go on over a
// gap into another piece of the file, numbered by distance alone: the walk stops where a
// usage map lists i's number for another page, or where the numbers between the two (a
// gap in the run) hold a page that a map lists.
bool TPlacer::WalkStopsAt(const TWalk& walk, std::size_t i,
                          std::optional<std::size_t> from) const {
  const std::uint32_t number = NumberFrom(walk.Home, walk.Run[i]);
  if (ListedForAnother(walk.ListedBefore, walk.Run[i], number)) return true;
  if (!from) return false;
  const std::uint32_t beside = NumberFrom(walk.Home, walk.Run[*from]);
  return GapHoldsListed(walk.ListedBefore, std::min(number, beside), std::max(number, beside));
}

// Ends a walk: the pages put in for it at positions `first` to `last` of its run are the
// database's for good, the others are taken out again. Returns the pages added.
std::size_t TPlacer::EndWalk(TWalk& walk, std::size_t first, std::size_t last) {
  std::size_t added = 0;
  for (const std::size_t i : walk.Tried) {
    const std::size_t index = walk.Run[i];
    walk.Database.Pages.erase(NumberFrom(walk.Home, index));
    if (i >= first && i <= last) {
      Add(walk.Database, NumberFrom(walk.Home, index), index);
      ++added;
    }
  }
  Forget(walk.Database);
  return added;
}

// Each home taken further along its run where what has been placed since bears it out:
// the pages after it are tried at their numbers from the base again, now that pieces
// placed elsewhere may hold their tables' definitions and maps. Returns the pages added.
std::size_t TPlacer::ExtendHomes() {
  std::size_t added = 0;
  for (const THome& home : homes_) {
    if (home.Piece && takeBack_) added += ExtendPieceBack(home);
    TWalk walk = StartWalk(home);
    for (std::size_t i = home.First; i < home.End; ++i) {
      if (!placed_.contains(walk.Run[i])) PutInForWalk(walk, i);
    }
    if (walk.Tried.empty()) continue;
    Forget(walk.Database);
    std::size_t lastOwn = home.First;
    for (std::size_t i = home.First; i < home.End; ++i) {
      const std::size_t index = walk.Run[i];
      const std::uint32_t number = NumberFrom(home, index);
      if (PageAt(walk.Database, number) != index) break;  // another page has its number
      if (WalkStopsAt(walk, i, i > home.First ? std::optional(i - 1) : std::nullopt)) break;
      const TSays says = home.Piece ? SaysOfPiecePage(walk.Database, index, number)
                                    : SaysOfHomePage(walk.Database, index, number);
      if (says == TSays::Against || says == TSays::Unsure) break;
      if (says == TSays::For) lastOwn = i;
    }
    added += EndWalk(walk, home.First, lastOwn);
  }
  return added;
}

// A placed piece taken back along its run as ExtendHomes takes it forward: a piece is
// placed from its first page whose table's map or long values say where it lies, and
// the pages of the file just before it (its definitions, their usage maps, the catalog
// rows that name them) can say nothing until they are placed. They are the database's
// where, numbered on backwards from the piece, a page among them says so; the walk stops
// at a number taken by another page, before page 0, and where a page says it is not the
// database's (an LVAL page without the long values its rows point to at that number
// among them). Returns the pages added.
std::size_t TPlacer::ExtendPieceBack(const THome& home) {
  TWalk walk = StartWalk(home);
  std::size_t from = home.First;  // the first position the walk may reach
  while (from > 0 && entries_[walk.Run[from - 1]].SourceOffset >= home.Origin) {
    const std::size_t index = walk.Run[from - 1];
    const std::size_t there = PageAt(walk.Database, NumberFrom(home, index));
    if (there != SIZE_MAX && there != index) break;
    if (there == SIZE_MAX) {
      if (placed_.contains(index)) break;  // another database's
      PutInForWalk(walk, from - 1);
    }
    --from;
  }
  if (walk.Tried.empty()) return 0;
  std::set<std::uint32_t> triedNumbers;
  for (const std::size_t i : walk.Tried) triedNumbers.insert(NumberFrom(home, walk.Run[i]));
  Forget(walk.Database);
  std::size_t firstOwn = home.First;
  for (std::size_t i = home.First; i-- > from;) {
    const std::size_t index = walk.Run[i];
    const std::uint32_t number = NumberFrom(home, index);
    if (WalkStopsAt(walk, i, i + 1)) break;
    TSays says = SaysOfPiecePage(walk.Database, index, number);
    if (says == TSays::Against || says == TSays::Unsure) break;
    // Rows that fit a definition the walk put in say nothing: another file's pages
    // lying before the piece would vouch for each other, a table's rows fitting their
    // own definition beside them.
    if (says == TSays::For && IsTablePage(entries_[index]) &&
        triedNumbers.contains(entries_[index].Owner))
      says = TSays::Nothing;
    // An LVAL page at a number the database's rows point to that does not hold every
    // long value pointed to there is not its page at that number.
    if (says != TSays::For && IsLongValuePage(entries_[index]) &&
        PointedOf(walk.Database).contains(number))
      break;
    if (says == TSays::For) firstOwn = i;
  }
  return EndWalk(walk, firstOwn, home.First);
}

// The number at which store page `first` lies in database `d` where the nearest placed
// page before or after the stretch `first` to `last` in its run (no further than a run's
// gap) is `d`'s, numbered on from it; nothing where neither is, or the two disagree.
std::optional<std::uint32_t> TPlacer::StartAlong(std::size_t d, std::size_t first,
                                                 std::size_t last) {
  // Plain names, not a structured binding: the lambda below uses them.
  const std::size_t run = runPosition_.at(first).first;
  const std::size_t from = runPosition_.at(first).second;
  const std::size_t to = runPosition_.at(last).second;
  const std::vector<std::size_t>& pages = runs_[run];
  std::optional<std::uint32_t> start;
  bool disagree = false;
  // The placed page at position `at` of the run, numbered `number` in `d`: the piece is
  // numbered from it unless a gap between them holds a number `d`'s maps list.
  const auto offer = [&](std::size_t at, std::uint32_t number) {
    const std::int64_t origin =
        entries_[pages[at]].SourceOffset - static_cast<std::int64_t>(number) * kPage;
    const std::int64_t first0 = (entries_[first].SourceOffset - origin) / kPage;
    if (first0 < 0 || first0 >= kUnnumberedPage) return;
    if (RunGapsHoldListed(databases_[d], pages, std::min(at, from), std::max(at, to), origin))
      return;
    disagree |= start.has_value() && *start != static_cast<std::uint32_t>(first0);
    start = static_cast<std::uint32_t>(first0);
  };
  for (std::size_t i = to + 1; i < pages.size() && Distance(last, pages[i]) <= kMaxGapPages;
       ++i) {
    const auto at = placedAt_.find(pages[i]);
    if (at == placedAt_.end()) continue;
    if (at->second.first == d) offer(i, at->second.second);
    break;
  }
  for (std::size_t i = from; i-- > 0 && Distance(pages[i], first) <= kMaxGapPages;) {
    const auto at = placedAt_.find(pages[i]);
    if (at == placedAt_.end()) continue;
    if (at->second.first == d) offer(i, at->second.second);
    break;
  }
  if (disagree) return std::nullopt;
  return start;
}

// Does a gap between two pages of `pages` from position `from` to `to` (numbered from
// `origin`) hold a number a usage map of `database` lists? See GapHoldsListed.
bool TPlacer::RunGapsHoldListed(TDatabase& database, const std::vector<std::size_t>& pages,
                                std::size_t from, std::size_t to, std::int64_t origin) {
  const auto numberOf = [&](std::size_t index) {
    return static_cast<std::uint32_t>((entries_[index].SourceOffset - origin) / kPage);
  };
  const std::map<std::uint32_t, std::uint32_t>& owners = ListedOwnerOf(database);
  for (std::size_t i = from; i < to; ++i) {
    if (GapHoldsListed(owners, numberOf(pages[i]), numberOf(pages[i + 1]))) return true;
  }
  return false;
}

// Whether the store page right after (`after`) or before store page `index`, with no
// page between them on the source, is placed in database `d` at `number`.
bool TPlacer::BesidePlacedAt(std::size_t index, bool after, std::size_t d,
                             std::uint32_t number) const {
  const auto [run, position] = runPosition_.at(index);
  const std::vector<std::size_t>& pages = runs_[run];
  if (after ? position + 1 >= pages.size() : position == 0) return false;
  const std::size_t beside = pages[after ? position + 1 : position - 1];
  if ((after ? Distance(index, beside) : Distance(beside, index)) != 1) return false;
  const auto at = placedAt_.find(beside);
  return at != placedAt_.end() && at->second == std::pair{d, number};
}

// Does the piece of store pages `first` to `last` of a run, placed in database `d` with
// `first` at number `start`, go on into pages placed in `d` already? It does where the
// nearest placed page before or after it in its run (no further than a run's gap) is `d`'s
// at the number the piece's own numbering gives it: one stretch of the file with them.
bool TPlacer::ContinuesPlaced(std::size_t d, std::size_t first, std::size_t last,
                              std::uint32_t start) const {
  const TDatabase& database = databases_[d];
  const auto [run, from] = runPosition_.at(first);
  const auto to = runPosition_.at(last).second;
  const std::vector<std::size_t>& pages = runs_[run];
  for (std::size_t i = to + 1; i < pages.size() && Distance(last, pages[i]) <= kMaxGapPages;
       ++i) {
    if (!placed_.contains(pages[i])) continue;
    if (PageAt(database, start + Distance(first, pages[i])) == pages[i]) return true;
    break;
  }
  for (std::size_t i = from; i-- > 0 && Distance(pages[i], first) <= kMaxGapPages;) {
    if (!placed_.contains(pages[i])) continue;
    const std::uint32_t back = Distance(pages[i], first);
    if (back <= start && PageAt(database, start - back) == pages[i]) return true;
    break;
  }
  return false;
}

// A piece placed in database `d` from store page `index` at `number` on: the rest of its
// run is tried after it as a home's is (see ExtendHomes).
void TPlacer::FollowPiece(std::size_t d, std::size_t index, std::uint32_t number) {
  const auto [run, position] = runPosition_.at(index);
  homes_.push_back({d, run, position, runs_[run].size(),
                    entries_[index].SourceOffset - static_cast<std::int64_t>(number) * kPage,
                    true});
}

}  // namespace quillon::recover::placement
