#include "recover/copy_membership.h"

#include <map>
#include <set>
#include <string>
#include <utility>

#include "core/page_head.h"

namespace quillon::recover {

bool IsUserData(const TPageEntry& entry) {
  return entry.Kind == TPageKind::Data && entry.Owner != kLvalOwner && entry.Owner > 5;
}

bool LiesInPlace(const std::vector<TPageEntry>& entries, const TDatabasePages& database,
                 std::uint32_t number, std::size_t index) {
  const std::int64_t offset = entries[index].SourceOffset;
  return offset >= 0 && number < kUnnumberedPage &&
         offset - database.Base ==
             static_cast<std::int64_t>(number) * static_cast<std::int64_t>(kPageSize);
}

namespace {

// What one other copy holds in place: its user data pages at their places from its base,
// by number, and the live rows of each table's such pages (row bytes → store pages).
struct TInPlace {
  const TDatabasePages* Copy = nullptr;
  std::map<std::uint32_t, std::map<std::string, std::set<std::size_t>>> RowsByOwner;
};

TInPlace InPlaceOf(const std::vector<TPageEntry>& entries, const TDatabasePages& other,
                   const TRowsOfPage& liveRows) {
  TInPlace held;
  held.Copy = &other;
  for (const auto& [number, index] : other.Pages) {
    if (!IsUserData(entries[index]) || !LiesInPlace(entries, other, number, index)) continue;
    auto& rows = held.RowsByOwner[entries[index].Owner];
    for (std::string& row : liveRows(index)) rows[std::move(row)].insert(index);
  }
  return held;
}

// Whether `held`'s copy has its own version of store page `index`, numbered `number`.
bool HasOwnVersion(const std::vector<TPageEntry>& entries, const TInPlace& held,
                   std::uint32_t number, std::size_t index, const TRowsOfPage& liveRows) {
  const std::uint32_t owner = entries[index].Owner;
  if (number < kUnnumberedPage) {
    const auto found = held.Copy->Pages.find(number);
    if (found == held.Copy->Pages.end() || found->second == index) return false;
    const TPageEntry& entry = entries[found->second];
    return IsUserData(entry) && entry.Owner == owner &&
           LiesInPlace(entries, *held.Copy, number, found->second);
  }
  const auto table = held.RowsByOwner.find(owner);
  if (table == held.RowsByOwner.end()) return false;
  for (const std::string& row : liveRows(index)) {
    const auto found = table->second.find(row);
    if (found == table->second.end()) continue;
    if (found->second.size() > 1 || !found->second.contains(index)) return true;
  }
  return false;
}

// The rows of the user data pages of every copy, read once, and by table which pages hold
// each live row.
class TVersionsOfCopies {
 public:
  TVersionsOfCopies(const std::vector<TPageEntry>& entries,
                    const std::vector<const TDatabasePages*>& copies, const TRowsOfCopies& rows)
      : entries_(entries) {
    for (const TDatabasePages* copy : copies) {
      for (const auto& [number, index] : copy->Pages) {
        if (!IsUserData(entries[index]) || rows_.contains(index)) continue;
        TRows& held = rows_[index];
        for (std::string& row : rows.Live(index)) held.Live.insert(std::move(row));
        for (std::string& row : rows.Deleted(index)) held.Deleted.insert(std::move(row));
        for (const std::string& row : held.Live) pagesOf_[entries[index].Owner][row].insert(index);
      }
      for (const auto& [number, index] : copy->Pages) {
        if (number < kUnnumberedPage && rows_.contains(index))
          atNumber_[{entries[index].Owner, number}].insert(index);
      }
    }
  }

  // Whether page `index`, numbered `number`, is an older version than another page of the
  // copies: one that shares a live row with it byte for byte (another version of the same
  // page: a row is written once in a file), or a page of the same table at the same number
  // in a copy (a version whose every row a newer copy deleted shares no live row), and holds
  // deleted, and not live, a row it holds live.
  bool OlderThanAnother(std::size_t index, std::uint32_t number) const {
    const auto own = rows_.find(index);
    const auto table = pagesOf_.find(entries_[index].Owner);
    if (own == rows_.end()) return false;
    std::set<std::size_t> versions;
    if (const auto same = atNumber_.find({entries_[index].Owner, number}); same != atNumber_.end())
      versions = same->second;
    if (table != pagesOf_.end()) {
      for (const std::string& row : own->second.Live) {
        if (const auto found = table->second.find(row); found != table->second.end())
          versions.insert(found->second.begin(), found->second.end());
      }
    }
    versions.erase(index);
    for (const std::size_t version : versions) {
      const TRows& other = rows_.at(version);
      for (const std::string& row : own->second.Live) {
        if (other.Deleted.contains(row) && !other.Live.contains(row)) return true;
      }
    }
    return false;
  }

 private:
  struct TRows {
    std::set<std::string> Live, Deleted;
  };
  const std::vector<TPageEntry>& entries_;
  std::map<std::size_t, TRows> rows_;
  std::map<std::uint32_t, std::map<std::string, std::set<std::size_t>>> pagesOf_;
  // By (table, page number), the pages the copies hold at that number.
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::set<std::size_t>> atNumber_;
};

}  // namespace

std::vector<std::size_t> PagesOfUncertainCopy(const std::vector<TPageEntry>& entries,
                                              const TDatabasePages& copy,
                                              const std::vector<const TDatabasePages*>& others,
                                              const TRowsOfCopies& rows, bool newest) {
  std::vector<std::size_t> uncertain;
  if (others.empty()) return uncertain;
  std::vector<TInPlace> held;
  for (const TDatabasePages* other : others) held.push_back(InPlaceOf(entries, *other, rows.Live));
  std::vector<const TDatabasePages*> every = others;
  every.push_back(&copy);
  const TVersionsOfCopies versions(entries, newest ? every : std::vector<const TDatabasePages*>{},
                                   rows);
  const auto olderThanAnother = [&](std::size_t index, std::uint32_t number) {
    return versions.OlderThanAnother(index, number);
  };
  for (const auto& [number, index] : copy.Pages) {
    // A page without live rows shows nothing as the copy's: its deleted rows are kept apart.
    if (!IsUserData(entries[index]) || rows.Live(index).empty()) continue;
    if (LiesInPlace(entries, copy, number, index)) {
      if (newest && olderThanAnother(index, number)) uncertain.push_back(index);
      continue;
    }
    // The newest of its page's versions among the copies: the newest copy's, wherever it lies.
    if (copy.GivenAsNewest.contains(index)) {
      if (olderThanAnother(index, number)) uncertain.push_back(index);
      continue;
    }
    bool noneOfTheirs = true;
    for (const TInPlace& other : held) {
      noneOfTheirs = noneOfTheirs && HasOwnVersion(entries, other, number, index, rows.Live);
    }
    if (!noneOfTheirs || (newest && olderThanAnother(index, number))) uncertain.push_back(index);
  }
  return uncertain;
}

}  // namespace quillon::recover
