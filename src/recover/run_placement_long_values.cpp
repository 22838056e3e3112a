// Pieces placed by long values: their own rows' pointers, and LVAL pages where placed rows
// point.

#include "recover/run_placement_internal.h"

namespace quillon::recover::placement {

// Whether an LVAL row that only one row in the store matches by row number and length.
bool TPlacer::UniqueLongValueRow(std::uint8_t row, std::uint32_t length) {
  if (!longValueRowsCounted_) {
    longValueRowsCounted_ = true;
    for (std::size_t index = 0; index < entries_.size(); ++index) {
      if (!IsLongValuePage(entries_[index])) continue;
      for (const auto& [r, l] : LongValueRowsOf(index)) ++longValueRowCount_[{r, l}];
    }
  }
  const auto seen = longValueRowCount_.find({row, length});
  return seen != longValueRowCount_.end() && seen->second == 1;
}

std::optional<TPlacer::TPlan> TPlacer::PlaceByOwnLongValues(std::size_t r,
                                                            const std::vector<std::size_t>& run,
                                                            const TPiece& piece) {
  TDatabase& database = databases_[piece.Database];
  struct TPointer {
    std::size_t From = 0;  // position of the data page
    TLongValueTarget Target;
  };
  std::vector<TPointer> pointers;
  bool mapped = false;  // a table of the piece has a usage map that can be read
  for (std::size_t i = piece.First; i <= piece.Last; ++i) {
    const TPageEntry& entry = entries_[run[i]];
    if (!IsTablePage(entry) || entry.Owner <= kLastSystemPage) continue;
    mapped |= ListedOf(database, entry.Owner).has_value();
    const std::optional<TTableDefinition>& definition = DefinitionOf(database, entry.Owner);
    const std::size_t at = PageAt(database, entry.Owner);
    if (!definition || FitOf(run[i], at, *definition) != true) continue;
    for (const TLongValueTarget& target : TargetsOf(run[i], at, *definition))
      pointers.push_back({i, target});
  }
  if (pointers.empty()) return std::nullopt;
  // Positions of the run's LVAL pages near the piece (a file's long values lie near
  // its rows), by the numbers a place would give them.
  const std::size_t from = piece.First > kMaxGapPages ? piece.First - kMaxGapPages : 0;
  const std::size_t to =
      std::min<std::size_t>(run.size(), piece.Last + static_cast<std::size_t>(kMaxGapPages) + 1);
  const std::int64_t firstOffset = entries_[run[piece.First]].SourceOffset;
  std::set<std::int64_t> origins;  // where number 0 would lie on the source
  std::size_t guides = 0;
  for (const TPointer& pointer : pointers) {
    if (pointer.Target.Chain) continue;
    // The first pointers guide, each to the LVAL pages near its own row's page.
    if (++guides > kOwnLongValueGuides) break;
    const std::size_t near = pointer.From > kMaxGapPages ? pointer.From - kMaxGapPages : 0;
    const std::size_t end =
        std::min<std::size_t>(to, pointer.From + static_cast<std::size_t>(kMaxGapPages) + 1);
    for (std::size_t j = near; j < end; ++j) {
      if (!IsLongValuePage(entries_[run[j]])) continue;
      if (!Holds(LongValueRowsOf(run[j]), pointer.Target)) continue;
      origins.insert(entries_[run[j]].SourceOffset -
                     static_cast<std::int64_t>(pointer.Target.Page) * kPage);
    }
    if (origins.size() > kMaxOwnLongValuePlaces) return std::nullopt;
  }
  // Each place costs a pass over the piece and the pages around it.
  if (origins.size() * (to - from) > kMaxPlacingWork) return std::nullopt;
  std::optional<TPlan> found;
  for (const std::int64_t origin : origins) {
    if (origin > firstOffset) continue;
    std::unordered_map<std::uint32_t, std::size_t> byNumber;  // number → position
    for (std::size_t j = from; j < to; ++j) {
      const std::int64_t offset = entries_[run[j]].SourceOffset;
      if (offset >= origin) byNumber.emplace(static_cast<std::uint32_t>((offset - origin) / kPage), j);
    }
    std::size_t first = piece.First, last = piece.Last, matched = 0;
    bool holds = true;
    for (const TPointer& pointer : pointers) {
      const auto page = byNumber.find(pointer.Target.Page);
      if (page == byNumber.end()) continue;  // lies elsewhere
      if (!IsLongValuePage(entries_[run[page->second]]) ||
          !Holds(LongValueRowsOf(run[page->second]), pointer.Target)) {
        holds = false;
        break;
      }
      ++matched;
      first = std::min(first, page->second);
      last = std::max(last, page->second);
    }
    if (!holds || matched < kMinOwnLongValues) continue;
    // The widened piece: its numbers free, none that a map lists for a table of other
    // pages, and no page in it that says it is not the database's.
    const auto numberAt = [&](std::size_t j) {
      return static_cast<std::uint32_t>((entries_[run[j]].SourceOffset - origin) / kPage);
    };
    if (!StretchHolds(database, run, first, last, origin)) continue;
    // A piece whose map can be read (though it lists the piece's pages at too many places
    // for StartOf to choose one) must be borne out there as a mapped piece is: its data
    // pages listed, and the long values the database's placed rows point to there found.
    if (mapped && !Bears(database, run, first, last, numberAt(first))) continue;
    if (found) return std::nullopt;  // two places hold
    found = TPlan{r, {piece.Database, first, last}, numberAt(first)};
  }
  return found;
}

// The LVAL rows of a page: row number → length (0 for a row that cannot be read).
const std::map<std::uint8_t, std::uint32_t>& TPlacer::LongValueRowsOf(std::size_t index) const {
  const auto [cached, added] = longValueRowsOf_.try_emplace(index);
  if (!added) return cached->second;
  std::map<std::uint8_t, std::uint32_t>& rows = cached->second;
  const TPage page = Read(index);
  const std::uint16_t count = jet::StatedRowCount(page);
  if (jet::kRowTableAt + 2u * count > kPageSize) return rows;
  for (std::uint16_t row = 0; row < count && row < 256; ++row) {
    const jet::TRowSlot slot = jet::RowSlotAt(page, count, row);
    if (slot.Valid) rows[static_cast<std::uint8_t>(row)] = slot.End - slot.Start;
  }
  return rows;
}

// Whether every live row of the pages from `first` to `last` of `run`, numbered from
// `start` on, is one that a long value the database wants at that number names (a page of
// another file standing in for a lost one holds rows of its own besides).
bool TPlacer::HoldsOnlyWanted(const std::multimap<std::uint32_t, TLongValueTarget>& wanted,
                              const std::vector<std::size_t>& run, std::size_t first,
                              std::size_t last, std::uint32_t start) const {
  for (std::size_t j = first; j <= last; ++j) {
    const std::uint32_t number = start + Distance(run[first], run[j]);
    std::set<std::uint8_t> rows;
    for (auto [at, end] = wanted.equal_range(number); at != end; ++at) rows.insert(at->second.Row);
    const TPage page = Read(run[j]);
    const std::vector<TSlot> slots = SlotsOf(page);
    bool any = false;
    for (std::size_t row = 0; row < slots.size(); ++row) {
      if (slots[row].End == 0 || !IsLive(slots[row])) continue;
      if (row > 255 || !rows.contains(static_cast<std::uint8_t>(row))) return false;
      any = true;
    }
    if (!any) return false;
  }
  return true;
}

// Pieces of LVAL pages placed by the long values of each database's placed rows: a
// stretch of LVAL pages of a loose run, from a page holding a row of a length only one
// LVAL row has (pointed to by a row of the database) as far as the pages go on being LVAL
// pages, cut back to the last page pointed to, where the database bears it out (see
// Bears) at one place only, with two single-row long values found there at least, its own
// placed page right beside, or nothing on its pages but rows pointed to there, and no other
// database or place would take any of its pages. Returns how many pieces were placed.
std::size_t TPlacer::PlaceLongValuePieces() {
  const std::vector<std::vector<std::size_t>> loose = LooseRuns();
  std::vector<TPlan> candidates;
  // Per candidate, where it begins if cut back to pages that hold a value of one row (see
  // below): position and number, where that differs and is borne out too.
  std::vector<std::optional<std::pair<std::size_t, std::uint32_t>>> narrower;
  for (std::size_t d = 0; d < databases_.size(); ++d) {
    TDatabase& database = databases_[d];
    const std::multimap<std::uint32_t, TLongValueTarget>& wanted = WantedOf(database);
    if (wanted.empty()) continue;
    std::map<std::pair<std::uint8_t, std::uint32_t>, std::uint32_t> unique;  // → number
    for (const auto& [number, target] : wanted) {
      if (!target.Chain && UniqueLongValueRow(target.Row, target.Length))
        unique.emplace(std::pair{target.Row, target.Length}, number);
    }
    if (unique.empty()) continue;
    for (std::size_t r = 0; r < loose.size(); ++r) {
      const std::vector<std::size_t>& run = loose[r];
      for (std::size_t i = 0; i < run.size(); ++i) {
        if (!IsLongValuePage(entries_[run[i]])) continue;
        for (const auto& [row, length] : LongValueRowsOf(run[i])) {
          const auto number = unique.find({row, length});
          if (number == unique.end()) continue;
          // The stretch of LVAL pages around page i, numbered from it.
          std::size_t first = i, last = i;
          while (first > 0 && IsLongValuePage(entries_[run[first - 1]]) &&
                 Distance(run[first - 1], run[i]) <= number->second)
            --first;
          while (last + 1 < run.size() && IsLongValuePage(entries_[run[last + 1]])) ++last;
          // Numbered from page i, which holds the row pointed to.
          const auto numberAt = [&](std::size_t j) {
            return j <= i ? number->second - Distance(run[j], run[i])
                          : number->second + Distance(run[i], run[j]);
          };
          // Cut back to the pages pointed to: the rest says nothing of where it lies,
          // unless the page right beside the stretch is placed in the database at the
          // number that follows on: the stretch then lies between the database's own
          // pages, with no page missing, and is that part of the file.
          const bool afterPlaced =
              numberAt(first) != 0 && BesidePlacedAt(run[first], false, d, numberAt(first) - 1);
          const bool beforePlaced = BesidePlacedAt(run[last], true, d, numberAt(last) + 1);
          if (!beforePlaced) {
            while (last > i && !wanted.contains(numberAt(last))) --last;
          }
          // Whether the stretch from position `from` to `last` holds at the numbers it gives.
          const auto borne = [&](std::size_t from) {
            const std::uint32_t numberOfFirst = numberAt(from);
            const std::optional<TBearing> bearing =
                BearingOf(database, run, from, last, numberOfFirst);
            if (!bearing || bearing->Unlisted != 0) return false;
            // One row of the pointed length alone can be another file's, or another page of
            // this one, standing in for a page of it that was lost: a second long value
            // found at that place, the database's own page right beside, or pages holding
            // nothing but what the database points to there, is wanted too.
            return bearing->LongValues >= kMinOwnLongValues || afterPlaced || beforePlaced ||
                   HoldsOnlyWanted(wanted, run, from, last, numberOfFirst);
          };
          // Cut back further where that is refused or disputed: to the first page that
          // holds what is pointed to at its number, one value of one row among it (a
          // chain's first part asks only for a row of at least a pointer's length, which
          // another file's LVAL page before the stretch holds as often as not).
          const auto holdsWanted = [&](std::size_t j) {
            const auto [from, to] = wanted.equal_range(numberAt(j));
            if (from == to) return false;
            const std::map<std::uint8_t, std::uint32_t>& rows = LongValueRowsOf(run[j]);
            bool single = false;
            for (auto at = from; at != to; ++at) {
              if (!Holds(rows, at->second)) return false;
              single |= !at->second.Chain;
            }
            return single;
          };
          std::size_t wide = first, narrow = first;
          if (!afterPlaced) {
            while (wide < i && !wanted.contains(numberAt(wide))) ++wide;
            while (narrow < i && !holdsWanted(narrow)) ++narrow;
          }
          const bool wideBorne = borne(wide);
          const bool narrowBorne = narrow != wide && borne(narrow);
          if (wideBorne) {
            candidates.push_back({r, {d, wide, last}, numberAt(wide)});
            narrower.push_back(narrowBorne ? std::optional{std::pair{narrow, numberAt(narrow)}}
                                           : std::nullopt);
          } else if (narrowBorne) {
            candidates.push_back({r, {d, narrow, last}, numberAt(narrow)});
            narrower.push_back(std::nullopt);
          }
        }
      }
    }
  }
  // A page that more than one candidate would place, or one candidate at two places,
  // stays where it is; a candidate that could begin further on tries that first.
  const auto claimAll = [&] {
    TPageClaims claims;
    for (const TPlan& candidate : candidates) ClaimPages(candidate, loose[candidate.Run], claims);
    return claims;
  };
  TPageClaims claims = claimAll();
  bool narrowed = false;
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    TPlan& candidate = candidates[c];
    if (!narrower[c] || ClaimedAlone(candidate, loose[candidate.Run], claims, {})) continue;
    std::tie(candidate.Piece.First, candidate.Start) = *narrower[c];
    narrowed = true;
  }
  if (narrowed) claims = claimAll();
  std::size_t placedNow = 0;
  std::set<std::size_t> done;
  for (const TPlan& candidate : candidates) {
    const std::vector<std::size_t>& run = loose[candidate.Run];
    if (!ClaimedAlone(candidate, run, claims, done)) continue;
    AddPlan(candidate, run, &done);
    ++placedNow;
  }
  return placedNow;
}

}  // namespace quillon::recover::placement
