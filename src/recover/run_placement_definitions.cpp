// Pieces placed by the definitions and catalog pages they hold or find.

#include "recover/run_placement_internal.h"

namespace quillon::recover::placement {

// Claims of pieces to their databases that give way because another database has the
// better claim to the stretch of their run at their origin (see PiecesGivingWay): pages of
// that stretch placed before count, in whatever database they went to.
std::vector<bool> TPlacer::ClaimsOfAnotherFile(const std::vector<TOriginClaim>& claims) {
  std::vector<TPieceClaim> pieces;
  std::map<TRunOrigin, std::set<std::size_t>> placedBefore;
  for (const TOriginClaim& claim : claims) {
    const TRunOrigin origin{runPosition_.at(claim.Index).first,
                            entries_[claim.Index].SourceOffset -
                                static_cast<std::int64_t>(claim.Number) * kPage};
    pieces.push_back({claim.Database, origin});
    placedBefore.emplace(origin, std::set<std::size_t>{});
  }
  for (auto& [origin, databases] : placedBefore) {
    for (const std::size_t index : runs_[origin.first]) {
      const auto at = placedAt_.find(index);
      if (at != placedAt_.end() &&
          entries_[index].SourceOffset - static_cast<std::int64_t>(at->second.second) * kPage ==
              origin.second)
        databases.insert(at->second.first);
    }
  }
  std::vector<std::set<std::size_t>> beside;
  for (std::size_t c = 0; c < claims.size(); ++c)
    beside.push_back(DatabasesBeside(claims[c], placedBefore.at(pieces[c].Origin)));
  return PiecesGivingWay(pieces, placedBefore, beside);
}

// Of `databases`, placed before along the claim's run from its origin, those that lie beside
// its piece (see PiecesGivingWay): their pages from that origin all before the piece or
// all after it, and either pages of their own placed at numbers the piece would take, or a
// table page between their pages and the piece's last (or first) saying it is not theirs.
std::set<std::size_t> TPlacer::DatabasesBeside(const TOriginClaim& claim,
                                               const std::set<std::size_t>& databases) {
  const auto [run, first] = runPosition_.at(claim.Index);
  const std::size_t last = runPosition_.at(claim.Last).second;
  const std::vector<std::size_t>& pages = runs_[run];
  const std::int64_t origin =
      entries_[claim.Index].SourceOffset - static_cast<std::int64_t>(claim.Number) * kPage;
  const std::uint32_t end = claim.Number + Distance(claim.Index, claim.Last);
  std::set<std::size_t> beside;
  for (const std::size_t d : databases) {
    if (d == claim.Database) continue;
    // The positions of its pages from the origin nearest the piece on either side.
    std::optional<std::size_t> before, after;
    bool inside = false;
    for (std::size_t i = 0; i < pages.size(); ++i) {
      const auto at = placedAt_.find(pages[i]);
      if (at == placedAt_.end() || at->second.first != d ||
          entries_[pages[i]].SourceOffset -
                  static_cast<std::int64_t>(at->second.second) * kPage != origin)
        continue;
      if (i < first) before = i;
      if (i > last && !after) after = i;
      inside |= i >= first && i <= last;
    }
    if (inside || before.has_value() == after.has_value()) continue;
    const std::map<std::uint32_t, std::size_t>& own = databases_[d].Pages;
    const auto there = own.lower_bound(claim.Number);
    bool notItsStretch = there != own.end() && there->first <= end;
    const std::size_t from = before ? *before + 1 : first;
    const std::size_t to = before ? last : *after - 1;
    for (std::size_t i = from; i <= to && !notItsStretch; ++i)
      notItsStretch = SaysOf(databases_[d], pages[i]) == TSays::Against;
    // A definition of the piece at a number that the database's catalog, whole (every page
    // its map lists placed), names no table at: the table is none of its own.
    if (!notItsStretch && CatalogWhole(databases_[d])) {
      const std::set<std::uint32_t>& named = NamedPagesOf(databases_[d]);
      for (std::size_t i = first; i <= last && !notItsStretch; ++i) {
        notItsStretch = entries_[pages[i]].Kind == TPageKind::Definition &&
                        !named.contains(claim.Number + Distance(claim.Index, pages[i]));
      }
    }
    if (notItsStretch) beside.insert(d);
  }
  return beside;
}

// Whether every catalog page that the database's catalog map lists is placed in it.
bool TPlacer::CatalogWhole(TDatabase& database) {
  const std::optional<std::set<std::uint32_t>>& listed = ListedOf(database, jet::kCatalogOwner);
  if (!listed || listed->empty()) return false;
  for (const std::uint32_t number : *listed) {
    const std::size_t index = PageAt(database, number);
    if (index == SIZE_MAX || !IsTablePage(entries_[index]) ||
        entries_[index].Owner != jet::kCatalogOwner)
      return false;
  }
  return true;
}

// Pieces that carry their own table's definition: a definition page of a loose run whose
// table's data pages lie in the same run, rows fitting it exactly, where one database's
// catalog names that table (its id is the definition's page number, the pages' owner
// value) and has no page at that number yet. The piece from the definition to the table's
// pages is placed with the definition at that number where the database bears it out
// there (its map lists more of the pages than not, nothing contradicts), and nothing else
// would take any of its pages. Returns how many pieces were placed.
std::size_t TPlacer::PlaceDefinitionPieces() {
  struct TCandidate : TPlan {
    // The bitmap page of the table's map found in another loose piece: number, page.
    std::optional<std::pair<std::uint32_t, std::size_t>> Bitmap;
  };
  std::map<std::uint32_t, std::vector<std::size_t>> catalogs;  // table → databases naming it
  for (std::size_t d = 0; d < databases_.size(); ++d) {
    for (const std::uint32_t table : NamedTablesOf(databases_[d])) {
      if (!databases_[d].Pages.contains(table)) catalogs[table].push_back(d);
    }
  }
  if (catalogs.empty()) return 0;
  const std::vector<std::vector<std::size_t>> loose = LooseRuns();
  std::vector<TCandidate> candidates;
  for (std::size_t r = 0; r < loose.size(); ++r) {
    const std::vector<std::size_t>& run = loose[r];
    std::map<std::uint32_t, std::vector<std::size_t>> pagesOf;  // owner → positions
    for (std::size_t i = 0; i < run.size(); ++i) {
      const TPageEntry& entry = entries_[run[i]];
      // Only where one database's catalog names the table: ids repeat across databases.
      const auto named = catalogs.find(entry.Owner);
      if (IsTablePage(entry) && entry.Owner > kLastSystemPage && named != catalogs.end() &&
          named->second.size() == 1)
        pagesOf[entry.Owner].push_back(i);
    }
    if (pagesOf.empty()) continue;
    std::unordered_map<std::int64_t, std::size_t> at;  // source offset → position
    for (std::size_t i = 0; i < run.size(); ++i) at.emplace(entries_[run[i]].SourceOffset, i);
    for (std::size_t p = 0; p < run.size(); ++p) {
      if (entries_[run[p]].Kind != TPageKind::Definition) continue;
      const TPage page = Read(run[p]);
      if (!jet::IsDefinitionPage(page)) continue;
      const TDefinitionResult alone = ParseTableDefinition(page);
      if (alone.Status == TDefinitionParse::Invalid) continue;
      for (const auto& [owner, all] : pagesOf) {
        // Numbered from the definition at `owner`: a loose run can hold other pieces
        // before it, at no number of this numbering (before its page 0).
        const std::int64_t zero =
            entries_[run[p]].SourceOffset - static_cast<std::int64_t>(owner) * kPage;
        const auto numberAt = [&](std::size_t i) {
          return static_cast<std::uint32_t>((entries_[run[i]].SourceOffset - zero) / kPage);
        };
        std::size_t lo = 0;  // the first position at a number
        while (entries_[run[lo]].SourceOffset < zero) ++lo;
        std::vector<std::size_t> positions;
        for (const std::size_t i : all) {
          if (i >= lo) positions.push_back(i);
        }
        if (positions.empty()) continue;
        // A definition longer than a page goes on at the pages its chain names, found in
        // the run at their distances from it were it at `owner`.
        std::optional<TTableDefinition> definition = alone.Definition;
        if (alone.Status == TDefinitionParse::NeedsMore) {
          std::vector<std::uint8_t> bytes(page.begin(), page.end());
          std::uint32_t next = jet::NextDefinitionPage(page);
          for (std::size_t k = 1; k < kMaxDefinitionPages && next != 0; ++k) {
            const auto found = at.find(zero + static_cast<std::int64_t>(next) * kPage);
            if (found == at.end() || entries_[run[found->second]].Kind != TPageKind::Definition)
              break;
            const TPage part = Read(run[found->second]);
            if (!jet::IsDefinitionPage(part)) break;
            const auto more = jet::DefinitionBytesOf(part, false);
            bytes.insert(bytes.end(), more.begin(), more.end());
            TDefinitionResult parsed = ParseTableDefinition(bytes);
            if (parsed.Status == TDefinitionParse::Ok) definition = std::move(parsed.Definition);
            if (parsed.Status != TDefinitionParse::NeedsMore) break;
            next = jet::NextDefinitionPage(part);
          }
        }
        if (!definition || definition->System) continue;
        const std::optional<TTableDefinition> parsed = definition;
        // Its rows fit the definition exactly, on every page judged.
        bool fit = false, misfit = false;
        for (std::size_t k = 0; k < positions.size() && k < kPagesJudged && !misfit; ++k) {
          const std::optional<bool> fits = FitOf(run[positions[k]], run[p], *parsed);
          fit |= fits == true;
          misfit |= fits == false;
        }
        if (!fit || misfit) continue;
        // The table's pages nearest the definition on either side, as far as its map
        // lists them at their numbers here: a loose run can go on into other pieces,
        // where its pages lie at other numbers.
        const auto nearListed = [&](const std::set<std::uint32_t>& listed) {
          std::vector<std::size_t> near;
          for (auto i = std::lower_bound(positions.begin(), positions.end(), p);
               i != positions.begin() && listed.contains(numberAt(*(i - 1))); --i)
            near.insert(near.begin(), *(i - 1));
          for (auto i = std::upper_bound(positions.begin(), positions.end(), p);
               i != positions.end() && listed.contains(numberAt(*i)); ++i)
            near.push_back(*i);
          return near;
        };
        for (const std::size_t d : catalogs.at(owner)) {
          // The database with the definition at its number: the map is read there.
          // The run at the numbers this gives it, where those are free (it can hold other
          // files' pieces too): the table's map (which Access keeps beside its definition,
          // so in the run) may list none of the database's pages but its own.
          const TDatabase& database = databases_[d];
          TDatabase trial = database;
          Forget(trial);
          for (std::size_t i = lo; i < run.size(); ++i) trial.Pages.emplace(numberAt(i), run[i]);
          missingBitmap_.reset();
          std::optional<std::set<std::uint32_t>> listed = ListedOf(trial, owner);
          // A map kept on a bitmap page of its own: that page can lie in another loose
          // piece. It is the one loose bitmap page whose listing holds the table's pages
          // nearest the definition at their numbers here.
          std::optional<std::pair<std::uint32_t, std::size_t>> bitmap;
          if (!listed && missingBitmap_ && !trial.Pages.contains(*missingBitmap_)) {
            const std::uint32_t number = *missingBitmap_;
            for (const std::size_t u : LooseBitmapPages()) {
              TDatabase withBitmap = trial;
              withBitmap.Listed.clear();
              withBitmap.Pages.emplace(number, u);
              const std::optional<std::set<std::uint32_t>>& found = ListedOf(withBitmap, owner);
              if (!found) continue;
              if (nearListed(*found).empty()) continue;
              if (bitmap) {  // two would do: neither is known to be the table's
                bitmap.reset();
                listed.reset();
                break;
              }
              bitmap = {number, u};
              listed = found;
            }
            if (bitmap) {
              trial.Pages.emplace(bitmap->first, bitmap->second);
              Forget(trial);  // its map was read without the bitmap page
            }
          }
          if (!listed) continue;
          const std::vector<std::size_t> near = nearListed(*listed);
          if (near.empty()) continue;
          std::size_t first = std::min(p, near.front());
          std::size_t last = std::max(p, near.back());
          // Not across a gap whose numbers the maps list (see GapHoldsListed).
          const std::map<std::uint32_t, std::uint32_t>& owners = ListedOwnerOf(trial);
          for (std::size_t i = p; i < last; ++i) {
            if (GapHoldsListed(owners, numberAt(i), numberAt(i + 1))) last = i;
          }
          for (std::size_t i = p; i > first; --i) {
            if (GapHoldsListed(owners, numberAt(i - 1), numberAt(i))) first = i;
          }
          const std::uint32_t start = numberAt(first);
          bool foreign = false;
          for (const std::uint32_t number : *listed) {
            const std::size_t there = PageAt(database, number);
            foreign |= there != SIZE_MAX && (!IsTablePage(entries_[there]) ||
                                             entries_[there].Owner != owner);
          }
          if (foreign) continue;
          // Every definition page in the piece at a number the catalog names (a table's
          // first page, or one its definition goes on to): definitions of one shape fit
          // more than one table, and only one numbering names them all.
          const std::set<std::uint32_t>& named = NamedPagesOf(trial);
          bool unnamed = false;
          for (std::size_t i = first; i <= last && !unnamed; ++i) {
            unnamed = entries_[run[i]].Kind == TPageKind::Definition &&
                      !named.contains(start + Distance(run[first], run[i]));
          }
          if (unnamed) continue;
          const std::optional<TBearing> bearing = BearingOf(trial, run, first, last, start);
          if (bearing && bearing->Listed > bearing->Unlisted)
            candidates.push_back({{r, {d, first, last}, start}, bitmap});
        }
      }
    }
  }
  {
    std::vector<TOriginClaim> claims;
    for (const TCandidate& candidate : candidates)
      claims.push_back({candidate.Piece.Database, loose[candidate.Run][candidate.Piece.First],
                        candidate.Start, loose[candidate.Run][candidate.Piece.Last]});
    const std::vector<bool> foreign = ClaimsOfAnotherFile(claims);
    std::vector<TCandidate> kept;
    for (std::size_t c = 0; c < candidates.size(); ++c) {
      if (!foreign[c]) kept.push_back(candidates[c]);
    }
    candidates = std::move(kept);
  }
  // Of candidates that would take one number or one page, one that goes on into a piece
  // of that database placed before it, at its own numbering, is that stretch of the file;
  // the others give way to it.
  {
    std::vector<bool> continues(candidates.size());
    std::map<std::pair<std::size_t, std::uint32_t>, std::vector<std::size_t>> wanting;
    std::map<std::size_t, std::vector<std::size_t>> wantingPage;
    for (std::size_t c = 0; c < candidates.size(); ++c) {
      const TCandidate& candidate = candidates[c];
      const std::vector<std::size_t>& run = loose[candidate.Run];
      continues[c] = ContinuesPlaced(candidate.Piece.Database, run[candidate.Piece.First],
                                     run[candidate.Piece.Last], candidate.Start);
      for (std::size_t j = candidate.Piece.First; j <= candidate.Piece.Last; ++j) {
        wanting[{candidate.Piece.Database, NumberOf(candidate, run, j)}].push_back(c);
        wantingPage[run[j]].push_back(c);
      }
    }
    std::vector<bool> givesWay(candidates.size());
    const auto yield = [&](const std::vector<std::size_t>& rivals) {
      const bool anyContinues = std::any_of(rivals.begin(), rivals.end(),
                                            [&](std::size_t c) { return continues[c]; });
      for (const std::size_t c : rivals) givesWay[c] = givesWay[c] || (anyContinues && !continues[c]);
    };
    for (const auto& [number, rivals] : wanting) yield(rivals);
    for (const auto& [page, rivals] : wantingPage) yield(rivals);
    std::vector<TCandidate> kept;
    for (std::size_t c = 0; c < candidates.size(); ++c) {
      if (!givesWay[c]) kept.push_back(candidates[c]);
    }
    candidates = std::move(kept);
  }
  // A page that more than one candidate would place, or a number that two would take,
  // stays as it is.
  TPageClaims claims;
  for (const TCandidate& candidate : candidates) {
    ClaimPages(candidate, loose[candidate.Run], claims);
    if (candidate.Bitmap) {
      claims[candidate.Bitmap->second].insert(
          {candidate.Piece.Database, candidate.Bitmap->first});
    }
  }
  std::map<std::pair<std::size_t, std::uint32_t>, std::set<std::size_t>> taken;
  for (const auto& [page, numbers] : claims) {
    for (const std::pair<std::size_t, std::uint32_t>& number : numbers) taken[number].insert(page);
  }
  std::size_t placedNow = 0;
  std::set<std::size_t> done;
  for (const TCandidate& candidate : candidates) {
    const std::vector<std::size_t>& run = loose[candidate.Run];
    bool alone = ClaimedAlone(candidate, run, claims, done);
    for (std::size_t j = candidate.Piece.First; j <= candidate.Piece.Last && alone; ++j)
      alone = taken[{candidate.Piece.Database, NumberOf(candidate, run, j)}].size() == 1;
    if (candidate.Bitmap)
      alone = alone && claims[candidate.Bitmap->second].size() == 1 &&
              !done.contains(candidate.Bitmap->second) &&
              taken[{candidate.Piece.Database, candidate.Bitmap->first}].size() == 1 &&
              !databases_[candidate.Piece.Database].Pages.contains(candidate.Bitmap->first);
    if (!alone) continue;
    AddPlan(candidate, run, &done);
    if (candidate.Bitmap) {
      Add(databases_[candidate.Piece.Database], candidate.Bitmap->first,
          candidate.Bitmap->second);
      done.insert(candidate.Bitmap->second);
    }
    FollowPiece(candidate.Piece.Database, run[candidate.Piece.First], candidate.Start);
    ++placedNow;
  }
  return placedNow;
}

// Definitions that lie apart from their tables' pages: a table that one database's
// catalog names (its id, the owner value of its pages) and no other's, at whose number the
// database has no page yet, takes the one loose definition page (whole alone) whose shape
// the table's data pages (loose, or already placed in that database) fit exactly, each
// loose one judged (up to kLoosePagesJudged), one row of them at least counting all its columns, where
// no other loose definition fits them. The piece then
// follows from it along its run.
// Returns the definitions placed.
std::size_t TPlacer::PlaceLooseDefinitions() {
  std::map<std::uint32_t, std::vector<std::size_t>> catalogs;  // table → databases naming it
  for (std::size_t d = 0; d < databases_.size(); ++d) {
    for (const std::uint32_t table : NamedTablesOf(databases_[d])) catalogs[table].push_back(d);
  }
  std::map<std::uint32_t, std::vector<std::size_t>> pagesOf;  // owner → loose data pages
  std::vector<std::size_t> definitions;                      // loose first definition pages
  for (const auto& [offset, index] : byOffset_) {
    if (placed_.contains(index)) continue;
    const TPageEntry& entry = entries_[index];
    if (IsTablePage(entry) && entry.Owner > kLastSystemPage) {
      const auto named = catalogs.find(entry.Owner);
      if (named != catalogs.end() && named->second.size() == 1 &&
          !databases_[named->second.front()].Pages.contains(entry.Owner) &&
          pagesOf[entry.Owner].size() < kLoosePagesJudged)
        pagesOf[entry.Owner].push_back(index);
    }
    if (entry.Kind == TPageKind::Definition) definitions.push_back(index);
  }
  // The table's pages that evidence already placed in the database naming it count as
  // well: a home can hold a table's data pages while its definition, written later, lies
  // in a piece of the file that nothing else in it places (its other pages say nothing).
  for (const auto& [table, named] : catalogs) {
    if (table <= kLastSystemPage || named.size() != 1) continue;
    const TDatabase& database = databases_[named.front()];
    if (database.Pages.contains(table)) continue;
    for (const auto& [number, index] : database.Pages) {
      const TPageEntry& entry = entries_[index];
      if (!IsTablePage(entry) || entry.Owner != table) continue;
      if (pagesOf[table].size() < kPagesJudged) pagesOf[table].push_back(index);
    }
  }
  if (pagesOf.empty() || definitions.empty()) return 0;
  std::size_t placedNow = 0;
  std::set<std::size_t> taken;
  for (const auto& [owner, pages] : pagesOf) {
    std::optional<std::size_t> found;
    bool twice = false;
    for (const std::size_t index : definitions) {
      if (taken.contains(index)) continue;
      const auto parsed = wholeDefinitions_.find(index);
      std::optional<TTableDefinition> definition;
      if (parsed != wholeDefinitions_.end()) {
        definition = parsed->second;
      } else {
        const TPage page = Read(index);
        if (!jet::IsDefinitionPage(page)) continue;
        TDefinitionResult result = ParseTableDefinition(page);
        if (result.Status == TDefinitionParse::Ok) definition = std::move(result.Definition);
        if (result.Status != TDefinitionParse::NeedsMore)
          wholeDefinitions_.emplace(index, definition);
      }
      if (!definition || definition->System) continue;
      bool fit = true;
      bool judged = false;
      bool whole = false;
      for (const std::size_t page : pages) {
        const TPageJudgement& judgement = JudgementOf(page, index, *definition);
        if (judgement.Fits == false) fit = false;
        judged |= judgement.Fits.has_value();
        whole |= judgement.Fits == true && judgement.Whole;
      }
      // Its shape must be seen whole in a row: a row written under an older definition
      // counts only its first columns, and a few columns fit any definition that begins
      // with columns of their types.
      if (!fit || !judged || !whole) continue;
      twice = found.has_value();
      found = index;
      if (twice) break;
    }
    if (!found || twice) continue;
    const std::size_t d = catalogs.at(owner).front();
    Add(databases_[d], owner, *found);
    taken.insert(*found);
    FollowPiece(d, *found, owner);
    ++placedNow;
  }
  return placedNow;
}

}  // namespace quillon::recover::placement
