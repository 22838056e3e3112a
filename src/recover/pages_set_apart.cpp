#include "recover/pages_set_apart.h"

#include <algorithm>
#include <map>

#include "recover/recovery_report.h"

namespace quillon::recover {

void SayWherePagesSetApartWent(const std::vector<TPageEntry>& entries,
                               const std::vector<std::vector<std::size_t>>& setApart,
                               const std::vector<std::size_t>& usedBy,
                               std::vector<TDatabaseReport>& databases) {
  for (std::size_t d = 0; d < setApart.size() && d < databases.size(); ++d) {
    std::map<std::string, TPagesSetApart> byDestination;
    for (const std::size_t index : setApart[d]) {
      std::string destination;
      if (index < usedBy.size() && usedBy[index] < databases.size() &&
          !databases[usedBy[index]].Unplaced)
        destination = databases[usedBy[index]].Name;
      TPagesSetApart& apart = byDestination[destination];
      apart.Database = destination;
      ++apart.Pages;
      const std::int64_t offset = entries[index].SourceOffset;
      if (apart.FirstOffset < 0 || offset < apart.FirstOffset) apart.FirstOffset = offset;
      apart.LastOffset = std::max(apart.LastOffset, offset);
    }
    for (auto& [destination, apart] : byDestination)
      databases[d].PagesSetApart.push_back(std::move(apart));
  }
}

}  // namespace quillon::recover
