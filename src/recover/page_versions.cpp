#include "recover/page_versions.h"

#include <algorithm>
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
  return versions;
}

}  // namespace quillon::recover
