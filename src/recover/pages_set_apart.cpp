#include "recover/pages_set_apart.h"

#include <algorithm>
#include <map>

#include "recover/recovery_report.h"

namespace quillon::recover {

TPageAccount AccountForPages(const std::vector<TPageEntry>& entries,
                             const std::vector<std::vector<std::size_t>>& used,
                             const std::vector<std::vector<std::size_t>>& setApart,
                             std::vector<TDatabaseReport>& databases) {
  const std::size_t reports = std::min({used.size(), setApart.size(), databases.size()});
  std::vector<std::size_t> usedBy(entries.size(), SIZE_MAX);   // the first report written from it
  std::vector<std::size_t> apartBy(entries.size(), SIZE_MAX);  // the last report to set it apart
  for (std::size_t d = 0; d < reports; ++d) {
    for (const std::size_t index : used[d]) {
      if (index < usedBy.size() && usedBy[index] == SIZE_MAX) usedBy[index] = d;
    }
    for (const std::size_t index : setApart[d]) {
      if (index < apartBy.size()) apartBy[index] = d;
    }
  }
  TPageAccount account;
  std::vector<std::int64_t> own(reports, 0);
  // Per report that set pages apart: by the report they went to (SIZE_MAX: none).
  std::vector<std::map<std::size_t, TPagesSetApart>> apart(reports);
  for (std::size_t index = 0; index < entries.size(); ++index) {
    if (usedBy[index] != SIZE_MAX) {
      ++account.InDatabases;
      ++own[usedBy[index]];
    } else if (apartBy[index] != SIZE_MAX) {
      ++account.SetApart;
    } else {
      ++account.Unplaced;
    }
    if (apartBy[index] == SIZE_MAX || apartBy[index] == usedBy[index]) continue;
    TPagesSetApart& pages = apart[apartBy[index]][usedBy[index]];
    if (usedBy[index] != SIZE_MAX) pages.Database = databases[usedBy[index]].Name;
    ++pages.Pages;
    const std::int64_t offset = entries[index].SourceOffset;
    if (offset >= 0) {
      if (pages.FirstOffset < 0 || offset < pages.FirstOffset) pages.FirstOffset = offset;
      pages.LastOffset = std::max(pages.LastOffset, offset);
    }
  }
  for (std::size_t d = 0; d < reports; ++d) {
    databases[d].Pages = own[d];
    for (auto& [destination, pages] : apart[d])  // SIZE_MAX, none's, sorts last
      databases[d].PagesSetApart.push_back(std::move(pages));
  }
  return account;
}

}  // namespace quillon::recover
