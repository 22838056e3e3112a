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
    onGrid.emplace(offset, index);
    if (entries[index].Kind == TPageKind::Definition) definitionAt.emplace(offset, index);
  }
  // Data pages whose owner value lands on a definition from this base: what ties it.
  std::int64_t highest = -1;
  std::vector<std::size_t> tied;
  for (const auto& [offset, index] : onGrid) {
    const TPageEntry& entry = entries[index];
    if (entry.Kind != TPageKind::Data || entry.Owner == jet::kLvalOwner || entry.Owner <= 5 ||
        !definitionAt.contains(base + kPage * entry.Owner))
      continue;
    tied.push_back(index);
    const std::int64_t definition = base + kPage * entry.Owner;
    highest = std::max({highest, offset, definition});
  }
  if (tied.empty()) return std::nullopt;
  TCandidate candidate;
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

}  // namespace

TCopiesOfDatabase SplitOlderCopy(const IPageStore& store, const std::vector<TPageEntry>& entries,
                                 const TDatabasePages& database) {
  TCopiesOfDatabase result;
  std::optional<TCandidate> found;
  const std::vector<std::int64_t> bases = OtherBases(entries, database);
  std::optional<TRowIndex> rows;
  if (!bases.empty()) rows.emplace(store, entries, database);
  for (std::size_t i = 0; i < bases.size() && i < kMostBasesTried; ++i) {
    found = CopyAt(entries, database, *rows, bases[i]);
    if (found) break;
  }
  if (!found) {
    result.Copies.push_back({database, true, false});
    return result;
  }
  TDatabaseCopy own{database, false, false};
  std::unordered_set<std::size_t> taken;
  for (const auto& [number, index] : found->Pages.Pages) taken.insert(index);
  std::erase_if(own.Pages.Pages, [&](const auto& page) { return taken.contains(page.second); });
  own.Pages.FirstOffset = own.Pages.LastOffset = -1;
  for (const auto& [number, index] : own.Pages.Pages) {
    const std::int64_t offset = entries[index].SourceOffset;
    if (own.Pages.FirstOffset < 0 || offset < own.Pages.FirstOffset) own.Pages.FirstOffset = offset;
    own.Pages.LastOffset = std::max(own.Pages.LastOffset, offset);
  }
  TDatabaseCopy split{std::move(found->Pages), false, true};

  // Rows deleted in one copy that the other holds live at the same page number: a deleted
  // row is never made live again, so the copy that deleted them was written later.
  std::int64_t deletedInOwn = 0, deletedInSplit = 0;
  for (const auto& [splitPage, ownPage] : found->Pairs) {
    std::map<std::string, bool> ownRows;
    for (TRow& row : RowsOf(store, ownPage)) ownRows.emplace(std::move(row.Bytes), row.Deleted);
    for (const TRow& row : RowsOf(store, splitPage)) {
      const auto there = ownRows.find(row.Bytes);
      if (there == ownRows.end() || there->second == row.Deleted) continue;
      ++(row.Deleted ? deletedInSplit : deletedInOwn);
    }
  }
  const std::string ownDate = NewestCatalogDate(store, entries, own.Pages);
  const std::string splitDate = NewestCatalogDate(store, entries, split.Pages);
  const bool ownHeader = HasHeader(entries, own.Pages), splitHeader = HasHeader(entries, split.Pages);
  bool ownNewer = true;
  if ((deletedInOwn > 0) != (deletedInSplit > 0)) {
    result.Evidence = TNewerEvidence::DeletedRows;
    ownNewer = deletedInOwn > 0;
    result.RowsDeletedSince = ownNewer ? deletedInOwn : deletedInSplit;
  } else if (!ownDate.empty() && !splitDate.empty() && ownDate != splitDate) {
    result.Evidence = TNewerEvidence::CatalogDates;
    ownNewer = ownDate > splitDate;
  } else if (ownHeader != splitHeader) {
    // A file's clusters are written over only once it is deleted: the copy whose head is
    // gone is the one deleted, the old file a compact or a save replaced.
    result.Evidence = TNewerEvidence::Header;
    ownNewer = ownHeader;
  }
  result.NewerDate = ownNewer ? ownDate : splitDate;
  result.OlderDate = ownNewer ? splitDate : ownDate;
  own.Newer = ownNewer;
  split.Newer = !ownNewer;
  if (ownNewer || result.Evidence == TNewerEvidence::None) {
    own.Newer = true;
    split.Newer = false;
    result.Copies.push_back(std::move(own));
    result.Copies.push_back(std::move(split));
  } else {
    result.Copies.push_back(std::move(split));
    result.Copies.push_back(std::move(own));
  }
  return result;
}

std::string NewerBecauseText(const TCopiesOfDatabase& copies) {
  switch (copies.Evidence) {
    case TNewerEvidence::DeletedRows:
      return std::to_string(copies.RowsDeletedSince) +
             (copies.RowsDeletedSince == 1 ? " row live in the older copy is"
                                           : " rows live in the older copy are") +
             " deleted in the newer one, byte for byte the same";
    case TNewerEvidence::CatalogDates:
      return "the newer copy's catalog was last changed " + copies.NewerDate +
             ", the older copy's " + copies.OlderDate;
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
  const std::string why = NewerBecauseText(copies);
  TDatabaseReport* newer = reports[0];
  TDatabaseReport* older = reports[1];
  if (newer && older) {
    newer->OlderCopies.push_back(older->Name);
    newer->NewerBecause = why;
    older->NewerBecause = why;
  }
  // The copy split off was set apart from the one it was found in.
  const std::size_t split = copies.Copies[0].Split ? 0 : 1;
  TDatabaseReport* from = reports[1 - split];
  if (!from) return;
  const TDatabasePages& pages = copies.Copies[split].Pages;
  TPagesSetApart apart;
  apart.Database = reports[split] ? reports[split]->Name : std::string();
  apart.Pages = static_cast<std::int64_t>(pages.Pages.size());
  apart.FirstOffset = pages.FirstOffset;
  apart.LastOffset = pages.LastOffset;
  from->PagesSetApart.push_back(std::move(apart));
}

}  // namespace quillon::recover

namespace quillon::recover {

void NameFromOtherCopy(std::vector<TTablePlan>& plans, const TDatabaseReport& other) {
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
}

}  // namespace quillon::recover
