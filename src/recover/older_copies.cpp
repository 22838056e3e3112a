#include "recover/older_copies.h"

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "jet/catalog.h"
#include "jet/row_slots.h"
#include "recover/copy_membership.h"
#include "recover/recovery_report.h"
#include "recover/row_values.h"

namespace quillon::recover {
namespace {

using TPage = std::array<std::uint8_t, kPageSize>;

constexpr std::int64_t kPage = static_cast<std::int64_t>(kPageSize);
constexpr std::size_t kMaxVotePairs = 4'000'000;  // owners × definitions worth comparing
// Pages of one copy lie within this many pages of each other: index, usage-map and other
// pages the store does not keep sit between them, but not a megabyte of something else.
constexpr std::int64_t kLargestGapPages = 64;
// Databases told apart by their headers compared for being copies of one, after a first
// row of theirs was found in both: each comparison reads both databases' data pages again.
constexpr std::size_t kMostDatabasePairsCompared = 256;
// Bases tried, those most owner values agree on first: pairs of definitions as far apart as
// two owners agree on a base too, and each costs a walk over the database's pages.
constexpr std::size_t kMostBasesTried = 16;

// A row of a page: its bytes and whether it was deleted.
struct TRow {
  std::string Bytes;
  bool Deleted = false;
};

std::vector<TRow> RowsOf(const IPageStore& store, std::size_t index) {
  TPage page{};
  store.Read(index, page);
  std::vector<TRow> rows;
  const std::uint16_t count = jet::StatedRowCount(page);
  if (jet::kRowTableAt + 2u * count > kPageSize) return rows;
  for (std::uint16_t i = 0; i < count; ++i) {
    const jet::TRowSlot slot = jet::RowSlotAt(page, count, i);
    if (!slot.Valid || slot.Flags == jet::kRowOverflowFlag) continue;
    rows.push_back({std::string(page.begin() + slot.Start, page.begin() + slot.End),
                    slot.Flags == jet::kRowDeleted});
  }
  return rows;
}

// For catalog rows read for their dates: no long value is needed.
class TNoLongValues : public ILongValueRows {
 public:
  std::optional<std::vector<std::uint8_t>> Row(std::uint32_t, std::uint8_t) const override {
    return std::nullopt;
  }
};

// The newest DateUpdate among the live catalog rows of the given pages; "" when none.
std::string NewestCatalogDate(const IPageStore& store, const std::vector<TPageEntry>& entries,
                              const TDatabasePages& pages) {
  const TTableDefinition& catalog = BuiltInCatalogDefinition();
  std::size_t updated = SIZE_MAX;
  for (std::size_t i = 0; i < catalog.Columns.size(); ++i) {
    if (catalog.Columns[i].Name == "DateUpdate") updated = i;
  }
  std::string newest;
  if (updated == SIZE_MAX) return newest;
  for (const auto& [number, index] : pages.Pages) {
    if (number >= kUnnumberedPage || entries[index].Kind != TPageKind::Data ||
        entries[index].Owner != jet::kCatalogOwner)
      continue;
    for (const TRow& row : RowsOf(store, index)) {
      if (row.Deleted) continue;
      const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(row.Bytes.data()),
                                   row.Bytes.size());
      const std::optional<std::vector<TValue>> values = DecodeRow(bytes, catalog, TNoLongValues{});
      if (values && (*values)[updated].Kind == TValue::TKind::Text)
        newest = std::max(newest, (*values)[updated].Bytes);
    }
  }
  return newest;
}

// Whether each row of a page is deleted, by its bytes; nothing for bytes that more than one
// row of the page holds: which of them is the other version of a row is not known.
std::map<std::string, std::optional<bool>> DeletedByBytes(const IPageStore& store,
                                                          std::size_t index) {
  std::map<std::string, std::optional<bool>> rows;
  for (TRow& row : RowsOf(store, index)) {
    const auto [at, added] = rows.emplace(std::move(row.Bytes), row.Deleted);
    if (!added) at->second.reset();
  }
  return rows;
}

bool HasHeader(const std::vector<TPageEntry>& entries, const TDatabasePages& pages) {
  const auto found = pages.Pages.find(0);
  return found != pages.Pages.end() && entries[found->second].Kind == TPageKind::Header;
}

// The base other than the database's own at which the most owner values (two at least) of
// its data pages land on definition pages among its pages, best first.
std::vector<std::int64_t> OtherBases(const std::vector<TPageEntry>& entries,
                                     const TDatabasePages& database) {
  std::set<std::uint32_t> owners;
  std::vector<std::int64_t> definitions;
  for (const auto& [number, index] : database.Pages) {
    const TPageEntry& entry = entries[index];
    if (entry.SourceOffset < 0) continue;
    if (entry.Kind == TPageKind::Data && entry.Owner != jet::kLvalOwner && entry.Owner > 5)
      owners.insert(entry.Owner);
    if (entry.Kind == TPageKind::Definition) definitions.push_back(entry.SourceOffset);
  }
  std::vector<std::int64_t> bases;
  if (owners.size() * definitions.size() > kMaxVotePairs) return bases;
  std::map<std::int64_t, int> votes;
  for (const std::int64_t offset : definitions) {
    for (const std::uint32_t owner : owners) {
      const std::int64_t base = offset - kPage * owner;
      if (base >= 0 && base != database.Base) ++votes[base];
    }
  }
  std::vector<std::pair<int, std::int64_t>> ranked;
  for (const auto& [base, count] : votes) {
    if (count >= 2) ranked.emplace_back(-count, base);
  }
  std::sort(ranked.begin(), ranked.end());
  for (const auto& [count, base] : ranked) bases.push_back(base);
  return bases;
}

// Where the rows of a database's data pages lie (deleted ones too: a row deleted since is
// byte for byte the row it was), to find the other version of a page wherever it lies.
class TRowIndex {
 public:
  TRowIndex(const IPageStore& store, const std::vector<TPageEntry>& entries,
            const TDatabasePages& database)
      : store_(store), entries_(entries) {
    for (const auto& [number, index] : database.Pages) {
      const TPageEntry& entry = entries[index];
      if (entry.Kind != TPageKind::Data || entry.Owner == jet::kLvalOwner) continue;
      for (const TRow& row : RowsOf(store, index))
        pages_[Key(entry.Owner, row.Bytes)].push_back(index);
    }
  }

  // The page outside `apart` of the same table that holds the most rows of page `index`,
  // checked byte for byte; nothing when none holds one.
  std::optional<std::size_t> Repeating(std::size_t index,
                                       const std::unordered_set<std::size_t>& apart) const {
    const std::vector<TRow> rows = RowsOf(store_, index);
    std::map<std::size_t, int> votes;
    for (const TRow& row : rows) {
      const auto found = pages_.find(Key(entries_[index].Owner, row.Bytes));
      if (found == pages_.end()) continue;
      for (const std::size_t other : found->second) {
        if (other != index && !apart.contains(other)) ++votes[other];
      }
    }
    std::optional<std::size_t> best;
    int bestCount = 0;
    for (const auto& [other, count] : votes) {
      if (count > bestCount) {
        best = other;
        bestCount = count;
      }
    }
    if (!best) return std::nullopt;
    std::set<std::string> theirs;
    for (TRow& row : RowsOf(store_, *best)) theirs.insert(std::move(row.Bytes));
    for (const TRow& row : rows) {
      if (theirs.contains(row.Bytes)) return best;
    }
    return std::nullopt;
  }

 private:
  static std::size_t Key(std::uint32_t owner, const std::string& bytes) {
    return std::hash<std::string>{}(bytes) * 31 + owner;
  }
  const IPageStore& store_;
  const std::vector<TPageEntry>& entries_;
  std::unordered_map<std::size_t, std::vector<std::size_t>> pages_;  // key → pages holding it
};

// The copy at `base`: the pages its owner values and definitions agree on, from the base on
// to where its pages stop (a gap, or the database's own base); nothing when fewer than half
// of its tied data pages repeat rows of the database's other pages of the same tables.
struct TCandidate {
  TDatabasePages Pages;
  // (copy page, the database's version of it): data pages of one table sharing rows
  std::vector<std::pair<std::size_t, std::size_t>> Pairs;
  std::set<std::size_t> Definitions;  // the definition pages its owner values land on
};

std::optional<TCandidate> CopyAt(const std::vector<TPageEntry>& entries,
                                 const TDatabasePages& database, const TRowIndex& rows,
                                 std::int64_t base) {
  // A copy before the database's own page 0 ends there.
  const std::int64_t limit =
      database.Base > base ? database.Base : std::numeric_limits<std::int64_t>::max();
  std::map<std::int64_t, std::size_t> onGrid;  // the database's pages on the base's grid
  std::unordered_map<std::int64_t, std::size_t> definitionAt;
  for (const auto& [number, index] : database.Pages) {
    const std::int64_t offset = entries[index].SourceOffset;
    if (offset < base || offset >= limit || (offset - base) % kPage != 0) continue;
    // A page that evidence placed in the database is its own, wherever it lies.
    if (database.Evidenced.contains(index)) continue;
    onGrid.emplace(offset, index);
    if (entries[index].Kind == TPageKind::Definition) definitionAt.emplace(offset, index);
  }
  // Data pages whose owner value lands on a definition from this base: what ties it.
  TCandidate candidate;
  std::int64_t highest = -1;
  std::vector<std::size_t> tied;
  for (const auto& [offset, index] : onGrid) {
    const TPageEntry& entry = entries[index];
    if (entry.Kind != TPageKind::Data || entry.Owner == jet::kLvalOwner || entry.Owner <= 5 ||
        !definitionAt.contains(base + kPage * entry.Owner))
      continue;
    tied.push_back(index);
    const std::int64_t definition = base + kPage * entry.Owner;
    candidate.Definitions.insert(definitionAt.at(definition));
    highest = std::max({highest, offset, definition});
  }
  if (tied.empty()) return std::nullopt;
  candidate.Pages.Base = base;
  std::int64_t last = -1;
  for (const auto& [offset, index] : onGrid) {
    if (offset > highest && offset - last > kPage * kLargestGapPages) break;
    candidate.Pages.Pages.emplace(static_cast<std::uint32_t>((offset - base) / kPage), index);
    if (candidate.Pages.FirstOffset < 0) candidate.Pages.FirstOffset = offset;
    candidate.Pages.LastOffset = offset;
    last = offset;
  }
  // Pages of the same tables elsewhere among the database's that repeat rows of the copy's
  // byte for byte: the same pages in two versions. (The database's own pages at the copy's
  // numbers are not always at those numbers yet: its pieces are numbered later.) A file
  // holds old versions of its own pages too (stale pages), so a piece of the database's own
  // file, moved about, finds repeats as well; but the other versions of a copy's pages lie
  // in the database's pieces at the copy's page numbers: each piece puts its page n at its
  // base + 4096 × n, and a piece holds many of them. Repeats whose other version lies where
  // no other repeat puts its piece's base are not counted.
  std::unordered_set<std::size_t> taken;
  for (const auto& [number, index] : candidate.Pages.Pages) taken.insert(index);
  std::size_t compared = 0;
  std::map<std::int64_t, std::size_t> pieceBases;  // where the other version's piece starts
  std::vector<std::pair<std::size_t, std::size_t>> repeats;
  for (const std::size_t index : tied) {
    if (!taken.contains(index)) continue;
    ++compared;
    if (const std::optional<std::size_t> own = rows.Repeating(index, taken)) {
      repeats.emplace_back(index, *own);
      ++pieceBases[entries[*own].SourceOffset - (entries[index].SourceOffset - base)];
    }
  }
  for (const auto& [index, own] : repeats) {
    if (pieceBases[entries[own].SourceOffset - (entries[index].SourceOffset - base)] >= 2)
      candidate.Pairs.emplace_back(index, own);
  }
  if (candidate.Pairs.empty() || candidate.Pairs.size() * 2 < compared) return std::nullopt;
  // Every data page of the copy whose other version lies in one of those pieces: where rows
  // deleted since are looked for (a stale page's old rows would say nothing of which copy
  // came later).
  candidate.Pairs.clear();
  for (const auto& [number, index] : candidate.Pages.Pages) {
    if (entries[index].Kind != TPageKind::Data || entries[index].Owner == jet::kLvalOwner)
      continue;
    const std::optional<std::size_t> own = rows.Repeating(index, taken);
    if (!own) continue;
    const auto piece =
        pieceBases.find(entries[*own].SourceOffset - (entries[index].SourceOffset - base));
    if (piece != pieceBases.end() && piece->second >= 2) candidate.Pairs.emplace_back(index, *own);
  }
  return candidate;
}

// Data pages of `a` (at its page numbers) paired with the page of `b` of the same table that
// repeats the most of their rows byte for byte, where the other version lies in a piece of
// `b` that puts its page n where `a` has it: its base (that page's offset less 4096 × the
// number) shared by two repeats at least. A stale page's old rows, repeated anywhere, would
// say nothing of which copy came later.
std::vector<std::pair<std::size_t, std::size_t>> PairedPages(const IPageStore& store,
                                                             const std::vector<TPageEntry>& entries,
                                                             const TDatabasePages& a,
                                                             const TDatabasePages& b) {
  const TRowIndex rows(store, entries, b);
  const std::unordered_set<std::size_t> none;
  std::map<std::int64_t, std::size_t> pieceBases;
  std::vector<std::tuple<std::size_t, std::size_t, std::int64_t>> repeats;
  for (const auto& [number, index] : a.Pages) {
    const TPageEntry& entry = entries[index];
    if (number >= kUnnumberedPage || entry.Kind != TPageKind::Data ||
        entry.Owner == jet::kLvalOwner || entry.SourceOffset < 0)
      continue;
    const std::optional<std::size_t> other = rows.Repeating(index, none);
    if (!other || entries[*other].SourceOffset < 0) continue;
    const std::int64_t pieceBase = entries[*other].SourceOffset - kPage * number;
    ++pieceBases[pieceBase];
    repeats.emplace_back(index, *other, pieceBase);
  }
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  for (const auto& [index, other, pieceBase] : repeats) {
    if (pieceBases[pieceBase] >= 2) pairs.emplace_back(index, other);
  }
  return pairs;
}

// Which of two copies is the newer, asked in the order of TNewerEvidence: true when `a` is,
// nothing when nothing tells. `pairs` are their versions of the same pages (a's first).
std::optional<bool> NewerOfTwo(const IPageStore& store, const std::vector<TPageEntry>& entries,
                               const TDatabasePages& a, const TDatabasePages& b,
                               const std::vector<std::pair<std::size_t, std::size_t>>& pairs,
                               TNewerReason& reason) {
  // Rows deleted in one copy that the other holds live at the same page number: a deleted
  // row is never made live again, so the copy that deleted them was written later.
  std::int64_t deletedInA = 0, deletedInB = 0;
  for (const auto& [aPage, bPage] : pairs) {
    const std::map<std::string, std::optional<bool>> aRows = DeletedByBytes(store, aPage);
    const std::map<std::string, std::optional<bool>> bRows = DeletedByBytes(store, bPage);
    for (const auto& [bytes, deleted] : aRows) {
      const auto there = bRows.find(bytes);
      if (!deleted || there == bRows.end() || !there->second || *there->second == *deleted)
        continue;
      ++(*deleted ? deletedInA : deletedInB);
    }
  }
  const std::string aDate = NewestCatalogDate(store, entries, a);
  const std::string bDate = NewestCatalogDate(store, entries, b);
  const bool aHeader = HasHeader(entries, a), bHeader = HasHeader(entries, b);
  std::optional<bool> aNewer;
  reason = {};
  if ((deletedInA > 0) != (deletedInB > 0)) {
    reason.Evidence = TNewerEvidence::DeletedRows;
    aNewer = deletedInA > 0;
    reason.RowsDeletedSince = *aNewer ? deletedInA : deletedInB;
  } else if (!aDate.empty() && !bDate.empty() && aDate != bDate) {
    reason.Evidence = TNewerEvidence::CatalogDates;
    aNewer = aDate > bDate;
  } else if (aHeader != bHeader) {
    // A file's clusters are written over only once it is deleted: the copy whose head is
    // gone is the one deleted, the old file a compact or a save replaced.
    reason.Evidence = TNewerEvidence::Header;
    aNewer = aHeader;
  }
  reason.NewerDate = aNewer.value_or(true) ? aDate : bDate;
  reason.OlderDate = aNewer.value_or(true) ? bDate : aDate;
  return aNewer;
}

// Puts the copies in order: first the one found newer than another and older than none
// (failing one such, the first as found), then the others by how many copies each is found
// newer than, the found order kept among equals. Each copy after the first gets why the
// first is newer than it (nothing where that is not found).
TCopiesOfDatabase OrderCopies(const IPageStore& store, const std::vector<TPageEntry>& entries,
                              std::vector<TDatabaseCopy> copies) {
  const std::size_t count = copies.size();
  using TNewerRow = std::vector<std::optional<bool>>;
  std::vector<TNewerRow> newer(count, TNewerRow(count));
  std::vector<std::vector<TNewerReason>> why(count, std::vector<TNewerReason>(count));
  std::vector<std::size_t> wins(count, 0);
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = i + 1; j < count; ++j) {
      const auto pairs = PairedPages(store, entries, copies[i].Pages, copies[j].Pages);
      newer[i][j] = NewerOfTwo(store, entries, copies[i].Pages, copies[j].Pages, pairs, why[i][j]);
      why[j][i] = why[i][j];
      if (newer[i][j]) newer[j][i] = !*newer[i][j];
      if (newer[i][j] == true) ++wins[i];
      if (newer[j][i] == true) ++wins[j];
    }
  }
  // The newest: the one copy found newer than another and older than none (a copy that
  // nothing tells from the others, such as a few pages without a row in common, leaves
  // the order of the rest as it is).
  std::vector<std::size_t> losses(count, 0);
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = 0; j < count; ++j) {
      if (newer[j][i] == true) ++losses[i];
    }
  }
  std::size_t newest = 0, candidates = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (wins[i] > 0 && losses[i] == 0) {
      newest = i;
      ++candidates;
    }
  }
  if (candidates != 1) newest = 0;
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < count; ++i) {
    if (i != newest) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t x, std::size_t y) { return wins[x] > wins[y]; });
  order.insert(order.begin(), newest);
  std::vector<std::size_t> position(count);
  for (std::size_t k = 0; k < count; ++k) position[order[k]] = k;
  TCopiesOfDatabase result;
  for (std::size_t k = 0; k < count; ++k) {
    TDatabaseCopy copy = std::move(copies[order[k]]);
    copy.SplitFrom = position[copy.SplitFrom];
    copy.Newer = k == 0;
    copy.Reason = {};
    if (k > 0 && newer[newest][order[k]] == true) copy.Reason = why[newest][order[k]];
    result.Copies.push_back(std::move(copy));
  }
  if (count > 1) {
    const TNewerReason& second = result.Copies[1].Reason;
    result.Evidence = second.Evidence;
    result.RowsDeletedSince = second.RowsDeletedSince;
    result.NewerDate = second.NewerDate;
    result.OlderDate = second.OlderDate;
  }
  return result;
}

void SetOffsets(const std::vector<TPageEntry>& entries, TDatabasePages& pages) {
  pages.FirstOffset = pages.LastOffset = -1;
  for (const auto& [number, index] : pages.Pages) {
    const std::int64_t offset = entries[index].SourceOffset;
    if (offset < 0) continue;
    if (pages.FirstOffset < 0 || offset < pages.FirstOffset) pages.FirstOffset = offset;
    pages.LastOffset = std::max(pages.LastOffset, offset);
  }
}

// The pages of a copy that lie before `limit` where its base lies before it (the copy ends
// where the next one begins), and only those of the other copy's pages it does not hold.
TDatabasePages Before(const std::vector<TPageEntry>& entries, const TDatabasePages& pages,
                      std::int64_t limit) {
  TDatabasePages kept = pages;
  if (pages.Base < limit)
    std::erase_if(kept.Pages,
                  [&](const auto& page) { return entries[page.second].SourceOffset >= limit; });
  return kept;
}

// The user tables (by owner value) of a database's numbered data pages.
std::set<std::uint32_t> UserTables(const std::vector<TPageEntry>& entries,
                                   const TDatabasePages& pages) {
  std::set<std::uint32_t> owners;
  for (const auto& [number, index] : pages.Pages) {
    if (number < kUnnumberedPage && IsUserData(entries[index])) owners.insert(entries[index].Owner);
  }
  return owners;
}

// Whether two databases are copies of one: data pages of the same tables that repeat rows
// of each other's byte for byte, on two pages at least and on half at least of the smaller's
// pages of the tables both have.
bool AreCopies(const IPageStore& store, const std::vector<TPageEntry>& entries,
               const TDatabasePages& first, const TDatabasePages& second) {
  const bool firstSmaller = first.Pages.size() <= second.Pages.size();
  const TDatabasePages& a = firstSmaller ? first : second;
  const TDatabasePages& b = firstSmaller ? second : first;
  const std::set<std::uint32_t> theirs = UserTables(entries, b);
  std::size_t comparable = 0;
  for (const auto& [number, index] : a.Pages) {
    if (number < kUnnumberedPage && IsUserData(entries[index]) &&
        theirs.contains(entries[index].Owner))
      ++comparable;
  }
  std::size_t repeated = 0;
  for (const auto& [aPage, bPage] : PairedPages(store, entries, a, b)) {
    if (IsUserData(entries[aPage])) ++repeated;
  }
  return repeated >= 2 && repeated * 2 >= comparable;
}

// The database as the one copy there is of it: no older copy was found.
TCopiesOfDatabase Alone(const TDatabasePages& database) {
  TCopiesOfDatabase alone;
  alone.Copies.push_back(
      {.Pages = database, .Newer = true, .Split = false, .SplitFrom = 0, .Reason = {}});
  return alone;
}

}  // namespace

TCopiesOfDatabase SplitOlderCopy(const IPageStore& store, const std::vector<TPageEntry>& entries,
                                 const TDatabasePages& database) {
  std::vector<TCandidate> found;
  const std::vector<std::int64_t> bases = OtherBases(entries, database);
  if (!bases.empty()) {
    const TRowIndex rows(store, entries, database);
    // The definitions the database's own owner values land on, and those of each copy
    // found: a definition serves one copy, so a base whose ties use one is a copy (or the
    // database) seen at other numbers.
    std::set<std::size_t> used;
    for (const auto& [number, index] : database.Pages) {
      if (!IsUserData(entries[index])) continue;
      const auto definition = database.Pages.find(entries[index].Owner);
      if (definition != database.Pages.end() &&
          entries[definition->second].Kind == TPageKind::Definition)
        used.insert(definition->second);
    }
    for (std::size_t i = 0; i < bases.size() && i < kMostBasesTried; ++i) {
      std::optional<TCandidate> candidate = CopyAt(entries, database, rows, bases[i]);
      if (!candidate || std::ranges::any_of(candidate->Definitions, [&](std::size_t definition) {
            return used.contains(definition);
          }))
        continue;
      // A second base can be another piece of a copy found already: a copy in pieces has a
      // base for each. Another copy holds other versions of that copy's pages: it is taken
      // only where its pages repeat rows of every copy found, at their page numbers.
      if (std::ranges::any_of(found, [&](const TCandidate& before) {
            const TDatabasePages mine = Before(entries, candidate->Pages, before.Pages.Base);
            const TDatabasePages theirs = Before(entries, before.Pages, candidate->Pages.Base);
            return PairedPages(store, entries, mine, theirs).size() < 2;
          }))
        continue;
      used.insert(candidate->Definitions.begin(), candidate->Definitions.end());
      found.push_back(std::move(*candidate));
    }
  }
  if (found.empty()) return Alone(database);
  // A copy's pages end where the next copy's base lies: copies deleted one after another
  // can lie side by side. Each copy holds other versions of the database's own pages: one
  // whose pages repeat rows only of the other copies' (such as the database itself seen from
  // a base a few pages on, its ties chance ones) is none, the last found of them dropped
  // first, until every copy left repeats rows of the database's own pages.
  std::vector<TCandidate> copiesCut;
  TDatabasePages own;
  while (!found.empty()) {
    copiesCut = found;
    std::ranges::sort(copiesCut, {}, [](const TCandidate& c) { return c.Pages.Base; });
    for (std::size_t i = 0; i + 1 < copiesCut.size(); ++i) {
      const TDatabasePages cut = Before(entries, copiesCut[i].Pages, copiesCut[i + 1].Pages.Base);
      copiesCut[i].Pages = cut;
      SetOffsets(entries, copiesCut[i].Pages);
    }
    own = database;
    std::unordered_set<std::size_t> taken;
    for (const TCandidate& copy : copiesCut) {
      for (const auto& [number, index] : copy.Pages.Pages) taken.insert(index);
    }
    std::erase_if(own.Pages, [&](const auto& page) { return taken.contains(page.second); });
    SetOffsets(entries, own);
    std::optional<std::size_t> none;
    for (std::size_t i = found.size(); i-- > 0 && !none;) {
      const auto cut = std::ranges::find(copiesCut, found[i].Pages.Base,
                                         [](const TCandidate& c) { return c.Pages.Base; });
      if (PairedPages(store, entries, cut->Pages, own).size() < 2) none = i;
    }
    if (!none) break;
    found.erase(found.begin() + static_cast<std::ptrdiff_t>(*none));
  }
  if (found.empty()) return Alone(database);
  std::vector<TDatabaseCopy> copies;
  copies.push_back(
      {.Pages = std::move(own), .Newer = false, .Split = false, .SplitFrom = 0, .Reason = {}});
  for (TCandidate& copy : copiesCut) {
    if (copy.Pages.Pages.empty()) continue;
    copies.push_back({.Pages = std::move(copy.Pages), .Newer = false, .Split = true,
                      .SplitFrom = 0, .Reason = {}});
  }
  return OrderCopies(store, entries, std::move(copies));
}

std::vector<TCopiesOfDatabase> JoinCopiesOfOneDatabase(const IPageStore& store,
                                                       const std::vector<TPageEntry>& entries,
                                                       std::vector<TCopiesOfDatabase> groups) {
  const std::size_t count = groups.size();
  std::vector<std::set<std::uint32_t>> tables(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!groups[i].Copies.empty()) tables[i] = UserTables(entries, groups[i].Copies[0].Pages);
  }
  // Each group joined to the first group it is found a copy of (a union of sets).
  std::vector<std::size_t> root(count);
  for (std::size_t i = 0; i < count; ++i) root[i] = i;
  const auto rootOf = [&](std::size_t i) {
    while (root[i] != i) i = root[i] = root[root[i]];
    return i;
  };
  // The first row of each data page of its user tables, hashed with the table's owner value,
  // read once per database and only for databases that share two tables with another: a
  // cheap look before the comparison that reads every page.
  std::vector<std::optional<std::unordered_set<std::size_t>>> firstRows(count);
  const auto firstRowsOf = [&](std::size_t i) -> const std::unordered_set<std::size_t>& {
    if (!firstRows[i]) {
      firstRows[i].emplace();
      for (const auto& [number, index] : groups[i].Copies[0].Pages.Pages) {
        if (number >= kUnnumberedPage || !IsUserData(entries[index])) continue;
        const std::vector<TRow> rows = RowsOf(store, index);
        if (!rows.empty())
          firstRows[i]->insert(std::hash<std::string>{}(rows.front().Bytes) * 31 +
                               entries[index].Owner);
      }
    }
    return *firstRows[i];
  };
  std::size_t compared = 0;
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = i + 1; j < count && compared < kMostDatabasePairsCompared; ++j) {
      if (rootOf(i) == rootOf(j)) continue;
      std::size_t shared = 0;
      for (const std::uint32_t owner : tables[i]) shared += tables[j].contains(owner) ? 1 : 0;
      if (shared < 2) continue;
      const std::unordered_set<std::size_t>& mine = firstRowsOf(i);
      const std::unordered_set<std::size_t>& theirs = firstRowsOf(j);
      if (std::ranges::none_of(mine, [&](std::size_t row) { return theirs.contains(row); }))
        continue;
      ++compared;
      if (AreCopies(store, entries, groups[i].Copies[0].Pages, groups[j].Copies[0].Pages))
        root[rootOf(j)] = rootOf(i);
    }
  }
  std::vector<TCopiesOfDatabase> joined;
  std::vector<std::vector<std::size_t>> members(count);
  for (std::size_t i = 0; i < count; ++i) members[rootOf(i)].push_back(i);
  for (std::size_t i = 0; i < count; ++i) {
    if (rootOf(i) != i) continue;
    if (members[i].size() == 1) {
      joined.push_back(std::move(groups[i]));
      continue;
    }
    std::vector<TDatabaseCopy> copies;
    for (const std::size_t member : members[i]) {
      const std::size_t first = copies.size();
      for (TDatabaseCopy& copy : groups[member].Copies) {
        copy.SplitFrom += first;
        copies.push_back(std::move(copy));
      }
    }
    joined.push_back(OrderCopies(store, entries, std::move(copies)));
  }
  return joined;
}

std::string CopyName(const std::string& name, bool known, std::size_t ordinal) {
  return name + (known ? " (older copy" : " (other copy") +
         (ordinal > 1 ? " " + std::to_string(ordinal) : std::string()) + ")";
}

std::string NewerBecauseText(const TCopiesOfDatabase& copies) {
  return copies.Copies.size() < 2 ? std::string() : NewerBecauseText(copies.Copies[1].Reason);
}

std::string NewerBecauseText(const TNewerReason& reason) {
  switch (reason.Evidence) {
    case TNewerEvidence::DeletedRows:
      return std::to_string(reason.RowsDeletedSince) +
             (reason.RowsDeletedSince == 1 ? " row live in the older copy is"
                                           : " rows live in the older copy are") +
             " deleted in the newer one, byte for byte the same";
    case TNewerEvidence::CatalogDates:
      return "the newer copy's catalog was last changed " + reason.NewerDate +
             ", the older copy's " + reason.OlderDate;
    case TNewerEvidence::Header:
      return "only the newer copy's header page survives: the older copy's first pages were "
             "written over, as those of a deleted file are";
    case TNewerEvidence::None:
      break;
  }
  return "";
}

}  // namespace quillon::recover

namespace quillon::recover {

void AccountForCopies(const TCopiesOfDatabase& copies, const std::vector<TDatabaseReport*>& reports) {
  if (copies.Copies.size() < 2 || reports.size() != copies.Copies.size()) return;
  TDatabaseReport* newest = reports[0];
  for (std::size_t k = 1; k < copies.Copies.size(); ++k) {
    TDatabaseReport* older = reports[k];
    if (!newest || !older) continue;
    const std::string why = NewerBecauseText(copies.Copies[k].Reason);
    newest->OlderCopies.push_back(older->Name);
    newest->OlderCopiesNewerBecause.push_back(why);
    if (newest->OlderCopies.size() == 1) newest->NewerBecause = why;
    older->NewerBecause = why;
  }
}

}  // namespace quillon::recover

namespace quillon::recover {

void NameFromOtherCopy(std::vector<TTablePlan>& plans, const TDatabaseReport& other,
                       const std::map<std::uint32_t, std::string>& dropped) {
  std::map<std::uint32_t, const TTableReport*> byPage;
  for (const TTableReport& table : other.Tables) {
    if (table.Typed && table.NamedFromCatalog && table.Failure.empty())
      byPage.emplace(table.DefinitionPage, &table);
  }
  for (TTablePlan& plan : plans) {
    if (plan.NamedFromCatalog || !plan.Definition) continue;
    const auto found = byPage.find(plan.Owner);
    if (found == byPage.end()) continue;
    const TTableReport& table = *found->second;
    const std::vector<TColumn>& columns = plan.Definition->Columns;
    bool same = columns.size() == table.ColumnList.size();
    for (std::size_t i = 0; same && i < columns.size(); ++i)
      same = columns[i].Name == table.ColumnList[i].Name;
    if (!same) continue;
    plan.Name = table.Name;
    plan.NamedFromCatalog = true;  // from the other copy's catalog
  }
  // Dropped since: named where the name is the copy's only.
  std::set<std::string> taken;
  for (const TTablePlan& plan : plans) {
    if (plan.NamedFromCatalog) taken.insert(plan.Name);
  }
  for (TTablePlan& plan : plans) {
    if (plan.NamedFromCatalog || !plan.Definition || byPage.contains(plan.Owner)) continue;
    const auto name = dropped.find(plan.Owner);
    if (name == dropped.end() || !taken.insert(name->second).second) continue;
    plan.Name = name->second;
    plan.NamedFromCatalog = true;  // from the other copy's catalog, a row deleted since
  }
}

std::vector<TNamedTable> TablesNamedByCatalog(const std::vector<TTablePlan>& plans) {
  std::vector<TNamedTable> named;
  for (const TTablePlan& plan : plans) {
    if (!plan.NamedFromCatalog || !plan.Definition) continue;
    TNamedTable& table = named.emplace_back();
    table.DefinitionPage = plan.Owner;
    table.Name = plan.Name;
    for (const TColumn& column : plan.Definition->Columns) table.Columns.push_back(column.Name);
  }
  return named;
}

std::size_t NameFromOtherCopies(std::vector<TTablePlan>& plans,
                                const std::vector<std::vector<TNamedTable>>& others) {
  std::size_t named = 0;
  for (const std::vector<TNamedTable>& other : others) {
    for (TTablePlan& plan : plans) {
      if (plan.NamedFromCatalog || !plan.Definition) continue;
      const auto found = std::find_if(other.begin(), other.end(), [&](const TNamedTable& table) {
        return table.DefinitionPage == plan.Owner;
      });
      if (found == other.end()) continue;
      const std::vector<TColumn>& columns = plan.Definition->Columns;
      bool same = columns.size() == found->Columns.size();
      for (std::size_t i = 0; same && i < columns.size(); ++i)
        same = columns[i].Name == found->Columns[i];
      if (!same) continue;
      plan.Name = found->Name;
      plan.NamedFromCatalog = true;  // from the other copy's catalog
      ++named;
    }
  }
  return named;
}

namespace {

// The same columns in the same places: rows of one read alike with the other. (The stored
// row count and the usage map's place are not asked: they change with the rows.)
bool SameColumns(const TTableDefinition& a, const TTableDefinition& b) {
  if (a.System != b.System || a.HighestColumnCount != b.HighestColumnCount ||
      a.VarColumnCount != b.VarColumnCount || a.FixedLength != b.FixedLength ||
      a.Columns.size() != b.Columns.size())
    return false;
  for (std::size_t i = 0; i < a.Columns.size(); ++i) {
    const TColumn& x = a.Columns[i];
    const TColumn& y = b.Columns[i];
    if (x.Name != y.Name || x.Type != y.Type || x.Number != y.Number || x.VarIndex != y.VarIndex ||
        x.FixedOffset != y.FixedOffset || x.Size != y.Size || x.Fixed != y.Fixed ||
        x.Precision != y.Precision || x.Scale != y.Scale)
      return false;
  }
  return true;
}

}  // namespace

std::size_t DefinitionsFromOtherCopies(std::vector<TTablePlan>& plans,
                                       const std::vector<const std::vector<TTablePlan>*>& others,
                                       const TRowsFit& fits) {
  std::size_t given = 0;
  for (TTablePlan& plan : plans) {
    if (plan.Definition || plan.Pages.empty()) continue;
    const TTableDefinition* found = nullptr;
    bool agree = true;
    for (const std::vector<TTablePlan>* other : others) {
      if (!other) continue;
      for (const TTablePlan& theirs : *other) {
        if (theirs.Owner != plan.Owner) continue;
        // One page number, two names: two tables, not one in two versions.
        if (theirs.NamedFromCatalog && plan.NamedFromCatalog && theirs.Name != plan.Name)
          agree = false;
        if (!theirs.Definition) continue;
        if (found && !SameColumns(*found, *theirs.Definition)) agree = false;
        found = &*theirs.Definition;
      }
    }
    if (!found || !agree || !fits(plan, *found)) continue;
    plan.Definition = *found;
    ++given;
  }
  return given;
}

}  // namespace quillon::recover
