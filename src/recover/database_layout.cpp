#include "recover/database_layout.h"

#include <algorithm>
#include <map>
#include <set>

namespace quillon::recover {
namespace {

constexpr std::int64_t kPage = static_cast<std::int64_t>(kPageSize);
constexpr std::size_t kMaxVotePairs = 4'000'000;  // owners × definitions worth comparing

}  // namespace

std::vector<TDatabasePages> TellDatabasesApart(const std::vector<TPageEntry>& entries,
                                               const std::vector<TFoundDefinition>& definitions) {
  std::set<std::int64_t> bases;
  for (const TPageEntry& entry : entries) {
    if (entry.Kind == TPageKind::Header && entry.SourceOffset >= 0) bases.insert(entry.SourceOffset);
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
    if (entry.Kind == TPageKind::Data && entry.Owner != kLongValueOwner && entry.Owner > 5)
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

  // Bases on each 4096-byte grid, in order, so that a page finds the nearest one before it.
  std::map<std::int64_t, std::vector<std::int64_t>> byGrid;
  for (const std::int64_t base : bases) byGrid[base % kPage].push_back(base);
  std::map<std::int64_t, TDatabasePages> databases;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::int64_t offset = entries[i].SourceOffset;
    if (offset < 0) continue;
    const auto grid = byGrid.find(offset % kPage);
    if (grid == byGrid.end()) continue;
    const auto after = std::upper_bound(grid->second.begin(), grid->second.end(), offset);
    if (after == grid->second.begin()) continue;
    const std::int64_t base = *std::prev(after);
    TDatabasePages& database = databases[base];
    database.Base = base;
    const auto number = static_cast<std::uint32_t>((offset - base) / kPage);
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

}  // namespace quillon::recover
