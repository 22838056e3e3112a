#include "recover/database_layout.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "jet/row_slots.h"
namespace quillon::recover {
namespace {

constexpr std::int64_t kPage = static_cast<std::int64_t>(kPageSize);
constexpr std::size_t kMaxVotePairs = 4'000'000;  // owners × definitions worth comparing
constexpr std::uint32_t kBeforeBase = 0x00800000;
// A database file moved about in pieces may stay whole within each 64 KiB of it (16 pages
// from a multiple of 16), and then one page of such a piece whose number is certain numbers
// them all. Pieces can be smaller (a file system cuts a file where its clusters run out), so
// the window is narrowed to what the anchors themselves bear out.
constexpr std::uint32_t kLargestPiecePages = 16;
// Windows that may contradict their anchors at the right piece size: the file's last piece
// is shorter, and what follows it on the source is another piece.
constexpr int kShortPiecesAllowed = 1;

}  // namespace

std::vector<std::int64_t> FindDatabaseBases(const std::vector<TPageEntry>& entries,
                                           const std::vector<TFoundDefinition>& definitions) {
  std::set<std::int64_t> bases;
  for (const TPageEntry& entry : entries) {
    if (entry.Kind == TPageKind::Header && entry.SourceOffset >= 0)
      bases.insert(entry.SourceOffset);
  }
  for (const TFoundDefinition& found : definitions) {
    if (found.SystemPage != 0 && found.Offset >= kPage * found.SystemPage)
      bases.insert(found.Offset - kPage * found.SystemPage);
  }
  // Ties by position: the base at which the most owner values (two at least) each land on
  // a definition page.
  std::set<std::uint32_t> owners;
  if (bases.empty()) {
    for (const TPageEntry& entry : entries) {
      if (entry.Kind == TPageKind::Data && entry.Owner != jet::kLvalOwner && entry.Owner > 5)
        owners.insert(entry.Owner);
    }
  }
  if (owners.size() * definitions.size() <= kMaxVotePairs) {
    std::map<std::int64_t, int> votes;
    for (const TFoundDefinition& found : definitions) {
      if (found.Offset < 0) continue;
      for (const std::uint32_t owner : owners) {
        const std::int64_t base = found.Offset - kPage * owner;
        if (base >= 0) ++votes[base];
      }
    }
    // Pairs of definitions as far apart as two owners also agree on a base, so only the
    // best-supported one counts, and only when nothing surer gave a base.
    std::int64_t best = -1;
    int bestCount = 1;
    for (const auto& [base, count] : votes) {
      if (count > bestCount) {
        best = base;
        bestCount = count;
      }
    }
    if (bases.empty() && best >= 0) bases.insert(best);
  }

  return {bases.begin(), bases.end()};
}

std::vector<TDatabasePages> TellDatabasesApart(const std::vector<TPageEntry>& entries,
                                               const std::vector<std::int64_t>& bases) {
  // Bases on each 4096-byte grid, in order, so that a page finds the nearest one before it.
  std::map<std::int64_t, std::vector<std::int64_t>> byGrid;
  for (const std::int64_t base : bases) byGrid[base % kPage].push_back(base);
  for (auto& [grid, onGrid] : byGrid) std::sort(onGrid.begin(), onGrid.end());
  std::map<std::int64_t, TDatabasePages> databases;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::int64_t offset = entries[i].SourceOffset;
    if (offset < 0 || i >= kBeforeBase) continue;
    const auto grid = byGrid.find(offset % kPage);
    if (grid == byGrid.end()) continue;
    const auto after = std::upper_bound(grid->second.begin(), grid->second.end(), offset);
    // A page before the grid's first base goes to it unnumbered: a piece of it moved
    // ahead, or a page of something else, which its numbering will tell.
    const bool before = after == grid->second.begin();
    const std::int64_t base = before ? *after : *std::prev(after);
    TDatabasePages& database = databases[base];
    database.Base = base;
    const auto number = before ? kUnnumberedPage + kBeforeBase + static_cast<std::uint32_t>(i)
                               : static_cast<std::uint32_t>((offset - base) / kPage);
    // The first page seen at a number is kept: two at one offset cannot both be it.
    database.Pages.emplace(number, i);
    if (database.FirstOffset < 0 || offset < database.FirstOffset) database.FirstOffset = offset;
    database.LastOffset = std::max(database.LastOffset, offset);
  }
  std::vector<TDatabasePages> result;
  for (auto& [base, database] : databases) result.push_back(std::move(database));
  std::sort(result.begin(), result.end(), [](const TDatabasePages& a, const TDatabasePages& b) {
    return a.FirstOffset < b.FirstOffset;
  });
  return result;
}

void MovePlacedPages(std::vector<TDatabasePages>& databases,
                     const std::vector<TDatabasePages>& placed,
                     const std::vector<TPageEntry>& entries, const TOverruleCheck& overrules) {
  std::map<std::int64_t, std::size_t> byBase;
  for (std::size_t d = 0; d < databases.size(); ++d) byBase.emplace(databases[d].Base, d);
  // Where each page lies now: its database and number.
  std::unordered_map<std::size_t, std::pair<std::size_t, std::uint32_t>> where;
  for (std::size_t d = 0; d < databases.size(); ++d) {
    for (const auto& [number, index] : databases[d].Pages) where.emplace(index, std::pair{d, number});
  }
  for (const TDatabasePages& evidence : placed) {
    const auto home = byBase.find(evidence.Base);
    if (home == byBase.end()) continue;
    TDatabasePages& database = databases[home->second];
    for (const auto& [number, index] : evidence.Pages) {
      database.Evidenced.insert(index);
      const auto now = where.find(index);
      // Given to this database already: its reading numbers it as before, unless the pages
      // overrule position's number (see TOverruleCheck).
      if (now != where.end() && now->second.first == home->second &&
          (now->second.second == number || !overrules ||
           !overrules(database, index, now->second.second, number))) {
        if (now->second.second != number) database.EvidenceNumbers.emplace(index, number);
        continue;
      }
      if (now != where.end()) databases[now->second.first].Pages.erase(now->second.second);
      if (now != where.end() && now->second.first == home->second)
        database.Overruled.insert(number);
      // A page that lay at this number by position alone gives way, unnumbered.
      if (const auto taken = database.Pages.find(number); taken != database.Pages.end()) {
        const std::size_t displaced = taken->second;
        database.Pages.erase(taken);
        const auto unnumbered = kUnnumberedPage + kBeforeBase + static_cast<std::uint32_t>(displaced);
        database.Pages.emplace(unnumbered, displaced);
        where[displaced] = {home->second, unnumbered};
      }
      database.Pages.emplace(number, index);
      database.Certain.insert(number);
      where[index] = {home->second, number};
      const std::int64_t offset = entries[index].SourceOffset;
      if (database.FirstOffset < 0 || offset < database.FirstOffset) database.FirstOffset = offset;
      database.LastOffset = std::max(database.LastOffset, offset);
    }
  }
}

}  // namespace quillon::recover

namespace quillon::recover {

TDatabasePages NumberFromAnchors(const std::vector<TPageEntry>& entries, const TDatabasePages& grid,
                                 std::vector<TPageAnchor> anchors, const TNumberCheck& agrees) {
  const std::int64_t page = kPage;
  std::sort(anchors.begin(), anchors.end(), [&](const TPageAnchor& a, const TPageAnchor& b) {
    return entries[a.Index].SourceOffset < entries[b.Index].SourceOffset;
  });
  // The grid's pages by offset, to number the stretch between two anchors.
  std::map<std::int64_t, std::size_t> byOffset;
  for (const auto& [number, index] : grid.Pages) byOffset[entries[index].SourceOffset] = index;

  std::map<std::uint32_t, std::set<std::size_t>> claims;  // number → pages given it
  std::map<std::size_t, std::uint32_t> numbers;
  auto claim = [&](std::size_t index, std::uint32_t number) {
    claims[number].insert(index);
    const auto [at, inserted] = numbers.emplace(index, number);
    if (!inserted && at->second != number) at->second = UINT32_MAX;  // two numbers: neither
  };
  std::map<std::int64_t, std::uint32_t> anchorAt;  // offset → number
  for (const TPageAnchor& anchor : anchors)
    anchorAt.emplace(entries[anchor.Index].SourceOffset, anchor.Number);
  // `count` pages from `start` numbered from `first`: this contradicts nothing when every
  // anchor among them agrees and every owner value that falls among their numbers lands on
  // a definition page of them.
  auto anchorsAgree = [&](std::int64_t start, std::uint32_t first, std::uint32_t count) {
    const std::int64_t end = start + static_cast<std::int64_t>(count) * kPage;
    for (auto at = anchorAt.lower_bound(start); at != anchorAt.end() && at->first < end; ++at) {
      if ((at->first - start) % kPage == 0 &&
          at->second != first + static_cast<std::uint32_t>((at->first - start) / kPage))
        return false;
    }
    return true;
  };
  auto stretchHolds = [&](std::int64_t start, std::uint32_t first, std::uint32_t count) {
    const std::int64_t end = start + static_cast<std::int64_t>(count) * kPage;
    if (!anchorsAgree(start, first, count)) return false;
    // The owner values of the data pages in the stretch itself: pages elsewhere in the
    // database's grid can be another file's (a table id of theirs lands anywhere in this
    // one's numbers), and say nothing of how this stretch is numbered.
    for (auto at = byOffset.lower_bound(start); at != byOffset.end() && at->first < end; ++at) {
      const TPageEntry& entry = entries[at->second];
      if (entry.Kind != TPageKind::Data || entry.Owner == jet::kLvalOwner || entry.Owner < 2 ||
          entry.Owner < first || entry.Owner >= first + count)
        continue;
      const auto definition =
          byOffset.find(start + static_cast<std::int64_t>(entry.Owner - first) * kPage);
      if (definition == byOffset.end() || entries[definition->second].Kind != TPageKind::Definition)
        return false;
    }
    if (!agrees) return true;
    for (auto at = byOffset.lower_bound(start); at != byOffset.end() && at->first < end; ++at) {
      if ((at->first - start) % kPage == 0 &&
          !agrees(at->second, first + static_cast<std::uint32_t>((at->first - start) / kPage)))
        return false;
    }
    for (std::uint32_t number = first; number < first + count; ++number) {
      if (!byOffset.contains(start + static_cast<std::int64_t>(number - first) * kPage) &&
          !agrees(SIZE_MAX, number))
        return false;
    }
    return true;
  };
  // The window of `pieces` pages around anchor i: where it starts on the source, its first
  // number, or nothing when it would start before the source.
  auto windowOf = [&](std::size_t i, std::uint32_t pieces) -> std::optional<std::int64_t> {
    const std::int64_t start =
        entries[anchors[i].Index].SourceOffset - kPage * (anchors[i].Number % pieces);
    if (start < 0) return std::nullopt;
    return start;
  };
  // The widest window in which anchors contradict one another in no more than
  // kShortPiecesAllowed places: with smaller pieces, a window spanning two of them meets
  // anchors of both, which disagree. (Owners and pointers that disagree refuse a window
  // but say nothing of the piece size.)
  std::uint32_t piecePages = kLargestPiecePages;
  for (; piecePages > 1; piecePages /= 2) {
    int contradicted = 0;
    std::set<std::int64_t> seen;
    for (std::size_t i = 0; i < anchors.size() && contradicted <= kShortPiecesAllowed; ++i) {
      const std::optional<std::int64_t> start = windowOf(i, piecePages);
      if (!start || !seen.insert(*start).second) continue;
      const std::uint32_t first = anchors[i].Number - anchors[i].Number % piecePages;
      if (!anchorsAgree(*start, first, piecePages)) ++contradicted;
    }
    if (contradicted <= kShortPiecesAllowed) break;
  }
  std::set<std::int64_t> piecesDone;
  for (std::size_t i = 0; i < anchors.size(); ++i) {
    const std::int64_t offset = entries[anchors[i].Index].SourceOffset;
    claim(anchors[i].Index, anchors[i].Number);
    const std::uint32_t first = anchors[i].Number - anchors[i].Number % piecePages;
    const std::optional<std::int64_t> start = windowOf(i, piecePages);
    if (start && piecesDone.insert(*start).second && stretchHolds(*start, first, piecePages)) {
      for (auto at = byOffset.lower_bound(*start);
           at != byOffset.end() && at->first < *start + piecePages * kPage; ++at) {
        if ((at->first - *start) % kPage == 0)
          claim(at->second, first + static_cast<std::uint32_t>((at->first - *start) / kPage));
      }
    }
    const std::int64_t base = offset - page * anchors[i].Number;
    // The next anchor on the same grid.
    for (std::size_t j = i + 1; j < anchors.size(); ++j) {
      const std::int64_t next = entries[anchors[j].Index].SourceOffset;
      if ((next - offset) % page != 0) continue;
      if (next - page * anchors[j].Number != base) break;
      // Two anchors more than a piece apart say nothing of the pieces between them: pieces
      // shuffled can leave two far apart at their places from page 0 (the header's piece
      // and one seven pieces on), while the six between came from elsewhere and would be
      // numbered as if they had not moved, however little in them disagrees.
      if (next - offset > page * piecePages) break;
      // Pieces between two agreeing anchors may still have been exchanged among themselves:
      // the stretch is numbered only where nothing in it disagrees.
      if (!stretchHolds(offset, anchors[i].Number,
                        static_cast<std::uint32_t>((next - offset) / page)))
        break;
      for (auto at = byOffset.upper_bound(offset); at != byOffset.end() && at->first < next; ++at)
        claim(at->second, static_cast<std::uint32_t>((at->first - base) / page));
      break;
    }
  }
  TDatabasePages numbered;
  numbered.Base = grid.Base;
  numbered.FirstOffset = grid.FirstOffset;
  numbered.LastOffset = grid.LastOffset;
  std::uint32_t unnumbered = kUnnumberedPage;
  for (const auto& [offset, index] : byOffset) {
    const auto found = numbers.find(index);
    const bool certain =
        found != numbers.end() && found->second != UINT32_MAX && claims[found->second].size() == 1;
    numbered.Pages.emplace(certain ? found->second : unnumbered++, index);
  }
  return numbered;
}

}  // namespace quillon::recover
