#include "recover/untyped_table_reading.h"

#include <set>

namespace quillon::recover {

TUntypedTables ReadUntypedTables(const IPageStore& store, const TDatabaseReader& reader,
                                 const std::vector<TPageEntry>& entries,
                                 const TDatabasePages& database,
                                 const std::vector<TTablePlan>& plans,
                                 const TPageVersions& versions, IFileSystem& fileSystem,
                                 const std::string& spillPath, IRecoveryProgress& progress,
                                 const std::string& databaseName) {
  TUntypedTables untyped;
  std::set<std::size_t> pages;
  for (const TTablePlan& plan : plans) {
    if (plan.Definition) continue;
    for (const auto& [number, index] : plan.Pages) {
      if (versions.Disputed.contains(index)) {
        untyped.RowsOfTwoVersions[plan.Owner] +=
            static_cast<std::int64_t>(LiveRowsOf(*reader.PageByIndex(index)).size());
        continue;
      }
      if (!versions.Repeated.contains(index)) pages.insert(index);
    }
  }
  if (pages.empty()) return untyped;
  for (const auto& [number, index] : database.Pages) {
    if (entries[index].Kind == TPageKind::Data && entries[index].Owner == jet::kLvalOwner)
      pages.insert(index);
  }
  progress.Progress("reading the untyped tables of " + databaseName, 0, 1);
  untyped.Rows = std::make_unique<TUntypedRows>(
      store, std::vector<std::size_t>(pages.begin(), pages.end()), fileSystem, spillPath);
  return untyped;
}

}  // namespace quillon::recover
