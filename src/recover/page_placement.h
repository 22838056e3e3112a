#pragma once
// Which database each page of the store is, and at which page number: position offers every
// page to the database whose base lies nearest before it (database_layout.h), and the pages
// that evidence places in another database (run_placement.h) are moved there.

#include <functional>
#include <vector>

#include "recover/database_layout.h"
#include "recover/page_store.h"

namespace quillon::recover {

// The databases of the store, in the order of their first page on the source.
// `stopRequested` is asked before each page placement reads; once it says yes, pages stay
// where position put them (the caller sees the stop itself).
std::vector<TDatabasePages> PlaceDatabasePages(const IPageStore& store,
                                               const std::vector<TPageEntry>& entries,
                                               const std::vector<TFoundDefinition>& definitions,
                                               const std::function<bool()>& stopRequested);

}  // namespace quillon::recover
