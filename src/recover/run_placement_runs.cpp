// Cutting the source's pages into runs of consecutive pages, and loose runs into
// pieces that one database's pages say are its own.

#include "recover/run_placement_internal.h"

namespace quillon::recover::placement {

// Runs of pages on one 4096-byte grid. The store holds no index pages, so a database's
// own pages can lie up to kMaxGapPages apart in it; what lies between two runs is then
// something else. A header page, or a page at a base's offset, begins a run of its own
// (nothing of a file lies just before its page 0).
void TPlacer::CutRuns(const std::vector<std::int64_t>& bases) {
  const std::set<std::int64_t> baseSet(bases.begin(), bases.end());
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].SourceOffset >= 0) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return entries_[a].SourceOffset < entries_[b].SourceOffset;
  });
  std::unordered_map<std::int64_t, std::pair<std::int64_t, std::size_t>> lastOnGrid;
  for (const std::size_t index : order) {
    const std::int64_t offset = entries_[index].SourceOffset;
    // Two pages at one offset: the first is kept; the other is placed nowhere.
    if (!byOffset_.emplace(offset, index).second) continue;
    sortedOffsets_.insert(offset);
    const auto before = lastOnGrid.find(offset % kPage);
    std::size_t run = runs_.size();
    if (before != lastOnGrid.end() && offset - before->second.first <= kMaxGapPages * kPage &&
        entries_[index].Kind != TPageKind::Header && !baseSet.contains(offset))
      run = before->second.second;
    if (run == runs_.size()) runs_.emplace_back();
    runs_[run].push_back(index);
    runPosition_.emplace(index, std::pair{run, runs_[run].size() - 1});
    runOf_.emplace(offset, run);
    lastOnGrid[offset % kPage] = {offset, run};
  }
}

// Pages from page `from` to page `to` of a run, on the source.
std::uint32_t TPlacer::Distance(std::size_t from, std::size_t to) const {
  return static_cast<std::uint32_t>(
      (entries_[to].SourceOffset - entries_[from].SourceOffset) / kPage);
}

// The pages of the runs that no home took, as runs again (a home can end inside a run).
std::vector<std::vector<std::size_t>> TPlacer::LooseRuns() const {
  std::vector<std::vector<std::size_t>> loose;
  for (const std::vector<std::size_t>& run : runs_) {
    bool open = false;
    for (const std::size_t index : run) {
      if (placed_.contains(index)) {
        open = false;
        continue;
      }
      if (!open) loose.emplace_back();
      open = true;
      loose.back().push_back(index);
    }
  }
  return loose;
}

std::vector<TPlacer::TPiece> TPlacer::PiecesOf(const std::vector<std::size_t>& run) {
  // Per page, the databases it says it belongs to and those it says it does not.
  std::vector<std::vector<std::size_t>> forOf(run.size()), againstOf(run.size());
  for (std::size_t i = 0; i < run.size(); ++i) {
    const TPageEntry& entry = entries_[run[i]];
    if (entry.Kind != TPageKind::Data || entry.Owner == jet::kLvalOwner || entry.Owner < 2)
      continue;
    // Only databases with a page at the owner value's number can say anything.
    const auto holders = holdersOf_.find(entry.Owner);
    if (holders == holdersOf_.end()) continue;
    for (const std::size_t d : holders->second) {
      const TSays says = SaysOf(databases_[d], run[i]);
      if (says == TSays::For) forOf[i].push_back(d);
      if (says == TSays::Against) againstOf[i].push_back(d);
    }
  }
  std::vector<TPiece> pieces;
  std::optional<TPiece> open;
  for (std::size_t i = 0; i < run.size(); ++i) {
    if (forOf[i].empty() && againstOf[i].empty()) continue;
    const bool continues =
        open && std::find(forOf[i].begin(), forOf[i].end(), open->Database) != forOf[i].end();
    if (continues) {
      open->Last = i;
      continue;
    }
    if (open) pieces.push_back(*open);
    open.reset();
    if (forOf[i].size() == 1) open = TPiece{forOf[i][0], i, i};
  }
  if (open) pieces.push_back(*open);
  return pieces;
}

}  // namespace quillon::recover::placement
