#include "recover/newest_versions.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "core/page_head.h"
#include "recover/copy_membership.h"

namespace quillon::recover {
namespace {

struct TRows {
  std::set<std::string> Live, Deleted;
};

// Whether `older` holds live a row that `newer` holds deleted and not live.
bool DeletedSince(const TRows& older, const TRows& newer) {
  return std::any_of(older.Live.begin(), older.Live.end(), [&](const std::string& row) {
    return newer.Deleted.contains(row) && !newer.Live.contains(row);
  });
}

std::size_t Root(std::map<std::size_t, std::size_t>& parent, std::size_t page) {
  while (parent[page] != page) page = parent[page] = parent[parent[page]];
  return page;
}

}  // namespace

std::size_t GiveNewestVersions(const std::vector<TPageEntry>& entries,
                               const std::vector<TDatabasePages*>& copies,
                               const TRowsOfCopies& rows, const TOnlyListed& onlyListed) {
  if (copies.size() < 2) return 0;
  // Every user data page the copies hold, its rows, and where one lies in place, whose.
  std::map<std::size_t, TRows> rowsOf;
  std::map<std::size_t, std::pair<std::size_t, std::uint32_t>> inPlace;  // → copy, number
  for (std::size_t c = 0; c < copies.size(); ++c) {
    for (const auto& [number, index] : copies[c]->Pages) {
      if (!IsUserData(entries[index])) continue;
      if (!rowsOf.contains(index)) {
        TRows& held = rowsOf[index];
        for (std::string& row : rows.Live(index)) held.Live.insert(std::move(row));
        for (std::string& row : rows.Deleted(index)) held.Deleted.insert(std::move(row));
      }
      if (LiesInPlace(entries, *copies[c], number, index)) inPlace[index] = {c, number};
    }
  }
  // Versions of one page: pages of one table sharing a row byte for byte, live or deleted.
  std::map<std::size_t, std::size_t> parent;
  std::map<std::pair<std::uint32_t, std::string>, std::size_t> firstWith;
  for (const auto& [index, held] : rowsOf) {
    parent[index] = index;
    for (const std::set<std::string>* kind : {&held.Live, &held.Deleted}) {
      for (const std::string& row : *kind) {
        const auto [found, fresh] = firstWith.try_emplace({entries[index].Owner, row}, index);
        if (!fresh) parent[Root(parent, index)] = Root(parent, found->second);
      }
    }
  }
  std::map<std::size_t, std::vector<std::size_t>> versionsOf;
  for (const auto& [index, held] : rowsOf) versionsOf[Root(parent, index)].push_back(index);

  TDatabasePages& newest = *copies.front();
  std::size_t moved = 0;
  for (const auto& [root, versions] : versionsOf) {
    // As many versions as copies, each copy's file holding one.
    if (versions.size() != copies.size()) continue;
    std::set<std::size_t> copiesInPlace;
    std::set<std::uint32_t> numbers;
    for (const std::size_t version : versions) {
      const auto found = inPlace.find(version);
      if (found == inPlace.end()) continue;
      copiesInPlace.insert(found->second.first);
      numbers.insert(found->second.second);
    }
    std::size_t placed = 0;
    for (const std::size_t version : versions) placed += inPlace.contains(version) ? 1 : 0;
    // One number, said by the pages in place, none of them the newest copy's and no copy's
    // twice; where none lies in place, by the newest copy's map of the table's one page.
    if (numbers.size() > 1 || copiesInPlace.contains(0) || copiesInPlace.size() != placed)
      continue;
    if (numbers.empty()) {
      const std::optional<std::uint32_t> listed = onlyListed(entries[root].Owner);
      if (!listed) continue;
      numbers.insert(*listed);
    }
    const std::uint32_t number = *numbers.begin();
    // A chain: every two versions ordered, one way only; its newest newer than every other.
    bool chain = true;
    std::vector<std::size_t> newerThan(versions.size(), 0);
    for (std::size_t a = 0; a < versions.size() && chain; ++a) {
      for (std::size_t b = a + 1; b < versions.size() && chain; ++b) {
        const bool aOlder = DeletedSince(rowsOf.at(versions[a]), rowsOf.at(versions[b]));
        const bool bOlder = DeletedSince(rowsOf.at(versions[b]), rowsOf.at(versions[a]));
        chain = aOlder != bOlder;
        ++newerThan[aOlder ? b : a];
      }
    }
    if (!chain) continue;
    const std::size_t top = static_cast<std::size_t>(
        std::max_element(newerThan.begin(), newerThan.end()) - newerThan.begin());
    if (newerThan[top] + 1 != versions.size()) continue;
    const std::size_t page = versions[top];
    if (inPlace.contains(page) || rows.Live(page).empty()) continue;
    if (const auto there = newest.Pages.find(number);
        there != newest.Pages.end() && there->second != page)
      continue;
    // Taken from wherever it was put, in every copy, and numbered in the newest.
    for (TDatabasePages* copy : copies) {
      std::erase_if(copy->Pages, [&](const auto& held) { return held.second == page; });
      copy->Evidenced.erase(page);
    }
    newest.Pages[number] = page;
    newest.GivenAsNewest.insert(page);
    const std::int64_t offset = entries[page].SourceOffset;
    if (offset >= 0) {
      newest.FirstOffset = newest.FirstOffset < 0 ? offset : std::min(newest.FirstOffset, offset);
      newest.LastOffset = std::max(newest.LastOffset, offset);
    }
    ++moved;
  }
  return moved;
}

}  // namespace quillon::recover
