#include "recover/page_versions.h"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "jet/row_slots.h"
namespace quillon::recover {

TPageVersions FindPageVersions(const std::vector<TPageEntry>& entries, const TDatabasePages& grid,
                               const TDatabasePages& numbered, const TRowsOfPage& rowsOf) {
  TPageVersions versions;
  std::unordered_map<std::size_t, std::uint32_t> numberOf;
  for (const auto& [number, index] : numbered.Pages) numberOf.emplace(index, number);
  for (const auto& [number, index] : numbered.Pages) {
    if (number >= kUnnumberedPage) continue;
    const auto there = grid.Pages.find(number);
    if (there == grid.Pages.end() || there->second == index) continue;
    const std::size_t other = there->second;
    const auto otherNumber = numberOf.find(other);
    if (otherNumber != numberOf.end() && otherNumber->second < kUnnumberedPage) continue;
    const TPageEntry& mine = entries[index];
    const TPageEntry& theirs = entries[other];
    if (mine.Kind != TPageKind::Data || theirs.Kind != TPageKind::Data ||
        mine.Owner != theirs.Owner || mine.Owner == jet::kLvalOwner)
      continue;
    std::vector<std::string> rows = rowsOf(index);
    std::vector<std::string> otherRows = rowsOf(other);
    std::sort(rows.begin(), rows.end());
    std::sort(otherRows.begin(), otherRows.end());
    if (rows == otherRows) {
      versions.Repeated.insert(other);
      continue;
    }
    std::vector<std::string> shared;
    std::set_intersection(rows.begin(), rows.end(), otherRows.begin(), otherRows.end(),
                          std::back_inserter(shared));
    if (shared.empty()) continue;
    versions.Disputed.insert(index);
    versions.Disputed.insert(other);
    ++versions.NumbersDisputed;
  }
  // Pages that nothing numbered: one of them can be another version of a page of the same
  // table elsewhere among the database's (another copy's, in a piece of it taken in with the
  // database's own), its row with the same bytes. A row is written once in a file; read
  // from both pages it would be given twice, one of the two perhaps out of date.
  std::unordered_map<std::string, std::vector<std::size_t>> pagesOfRow;  // owner + bytes
  std::vector<std::size_t> unnumbered;
  for (const auto& [number, index] : numbered.Pages) {
    const TPageEntry& entry = entries[index];
    if (entry.Kind != TPageKind::Data || entry.Owner == jet::kLvalOwner) continue;
    if (number >= kUnnumberedPage) unnumbered.push_back(index);
    std::string owner(reinterpret_cast<const char*>(&entry.Owner), sizeof entry.Owner);
    for (const std::string& row : rowsOf(index)) pagesOfRow[owner + row].push_back(index);
  }
  std::sort(unnumbered.begin(), unnumbered.end());
  for (const std::size_t index : unnumbered) {
    if (versions.Disputed.contains(index) || versions.Repeated.contains(index)) continue;
    const std::uint32_t ownerValue = entries[index].Owner;
    const std::string owner(reinterpret_cast<const char*>(&ownerValue), sizeof ownerValue);
    std::vector<std::string> rows = rowsOf(index);
    std::set<std::size_t> others;
    for (const std::string& row : rows) {
      for (const std::size_t other : pagesOfRow[owner + row]) {
        if (other != index) others.insert(other);
      }
    }
    std::sort(rows.begin(), rows.end());
    for (const std::size_t other : others) {
      if (versions.Repeated.contains(other)) continue;
      std::vector<std::string> otherRows = rowsOf(other);
      std::sort(otherRows.begin(), otherRows.end());
      if (rows == otherRows && !versions.Disputed.contains(other)) {
        versions.Repeated.insert(index);  // read once, from the other
        break;
      }
      versions.Disputed.insert(index);
      versions.Disputed.insert(other);
      ++versions.NumbersDisputed;
    }
  }
  return versions;
}

}  // namespace quillon::recover
