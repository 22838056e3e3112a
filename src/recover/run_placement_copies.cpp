// Other copies of a database lying loose: the file a compact or a save left behind holds
// its pages at the same numbers as the database's own, with the same rows. Such a copy's
// pieces fit the database's definitions and maps as well as its own pieces do, and are
// never placed in it.

#include "recover/run_placement_internal.h"

namespace quillon::recover::placement {
namespace {

// The rows of a data page byte for byte, deleted ones too (a row deleted since is byte for
// byte the row it was); pointers to moved rows are no rows.
std::vector<std::string> RowsOfPage(std::span<const std::uint8_t, kPageSize> page) {
  std::vector<std::string> rows;
  for (const TSlot& slot : SlotsOf(page)) {
    if (slot.End == 0 || slot.Flags == kSlotPointer) continue;
    rows.emplace_back(page.begin() + slot.Start, page.begin() + slot.End);
  }
  return rows;
}

// A row's key among a database's rows: its table's owner value, then its bytes.
std::string RowKey(std::uint32_t owner, const std::string& bytes) {
  std::string key(sizeof owner, '\0');
  for (std::size_t i = 0; i < sizeof owner; ++i) key[i] = static_cast<char>(owner >> (8 * i));
  return key + bytes;
}

}  // namespace

// Which numbers of `database` hold each row of table `owner`'s placed pages; read once per
// round (pages placed since are not asked), nothing once a round has read enough.
const std::unordered_map<std::string, std::vector<std::uint32_t>>* TPlacer::PlacedRowsOf(
    std::size_t d, std::uint32_t owner) {
  auto& tables = placedRows_[d];
  if (const auto found = tables.find(owner); found != tables.end()) return &found->second;
  std::vector<std::pair<std::uint32_t, std::size_t>> pages;
  for (const auto& [number, index] : databases_[d].Pages) {
    if (entries_[index].Kind == TPageKind::Data && entries_[index].Owner == owner)
      pages.emplace_back(number, index);
  }
  if (copyPagesRead_ + pages.size() > kMaxCopyPagesRead) return nullptr;
  copyPagesRead_ += pages.size();
  auto& rows = tables[owner];
  for (const auto& [number, index] : pages) {
    for (const std::string& row : RowsOfPage(Read(index)))
      rows[RowKey(owner, row)].push_back(number);
  }
  return &rows;
}

// Where the copy of database `d` whose pages lie in loose run `run` has its page 0: the
// one origin at which at least kMinCopyRepeats data pages of the run each repeat, byte for
// byte, rows of the database's placed page of the same table at the number the origin
// gives them (other versions of pages the database holds). Each page votes for the number
// of the placed page that shares the most of its rows, where one page does. Nothing when no
// origin or more than one gathers that many.
std::optional<std::int64_t> TPlacer::CopyOriginOf(std::size_t d,
                                                  const std::vector<std::size_t>& run) {
  const auto cached = copyOrigins_.find({d, run.front()});
  if (cached != copyOrigins_.end()) return cached->second;
  std::optional<std::int64_t>& result = copyOrigins_[{d, run.front()}];
  std::map<std::int64_t, std::size_t> votes;
  for (const std::size_t index : run) {
    const TPageEntry& entry = entries_[index];
    if (!IsTablePage(entry) || entry.Owner <= kLastSystemPage) continue;
    const auto* placedRows = PlacedRowsOf(d, entry.Owner);
    if (!placedRows) return result;
    if (placedRows->empty()) continue;
    std::map<std::uint32_t, std::size_t> shared;  // placed page's number → rows in common
    for (const std::string& row : RowsOfPage(Read(index))) {
      const auto found = placedRows->find(RowKey(entry.Owner, row));
      if (found == placedRows->end()) continue;
      for (const std::uint32_t number : found->second) ++shared[number];
    }
    std::optional<std::uint32_t> best;
    std::size_t most = 0;
    bool tied = false;
    for (const auto& [number, count] : shared) {
      if (count > most) {
        best = number;
        most = count;
        tied = false;
      } else if (count == most) {
        tied = true;
      }
    }
    if (best && !tied) ++votes[entry.SourceOffset - static_cast<std::int64_t>(*best) * kPage];
  }
  std::size_t most = 0;
  bool tied = false;
  for (const auto& [origin, count] : votes) {
    if (count > most) {
      result = origin;
      most = count;
      tied = false;
    } else if (count == most) {
      tied = true;
    }
  }
  if (most < kMinCopyRepeats || tied) result.reset();
  return result;
}

// Whether pages `first` to `last` of loose run `run` lie in another copy of database `d`
// (see CopyOriginOf): one of them numbered from the copy's origin falls within the
// database's numbers (up to the highest its pages hold or its usage maps list). Pages of
// the run beyond those numbers can be another file's that lies beside the copy.
bool TPlacer::InCopyOf(std::size_t d, const std::vector<std::size_t>& run, std::size_t first,
                       std::size_t last) {
  const std::optional<std::int64_t> origin = CopyOriginOf(d, run);
  if (!origin) return false;
  TDatabase& database = databases_[d];
  std::int64_t top = database.Pages.empty() ? 0 : database.Pages.rbegin()->first;
  const std::map<std::uint32_t, std::uint32_t>& listed = ListedOwnerOf(database);
  if (!listed.empty()) top = std::max<std::int64_t>(top, listed.rbegin()->first);
  for (std::size_t i = first; i <= last; ++i) {
    const std::int64_t offset = entries_[run[i]].SourceOffset;
    if (offset >= *origin && (offset - *origin) / kPage <= top) return true;
  }
  return false;
}

// Forgets what was found of copies: asked again each round, with the pages placed since.
void TPlacer::ForgetCopies() {
  placedRows_.clear();
  copyOrigins_.clear();
  copyPagesRead_ = 0;
}

}  // namespace quillon::recover::placement
