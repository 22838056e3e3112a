#pragma once
// A base for a database whose header and system definitions are all lost (deleted, and
// their clusters given to other files): where its page 0 would lie, from what its surviving
// pages say of their own numbers. A definition page that lies at page number N is named by
// the owner value N of its table's data pages, so a definition whose rows' pages carry N and
// fit it exactly says that its database's page 0 lies N pages before it on its grid.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "recover/database_layout.h"
#include "recover/page_store.h"

namespace quillon::recover {

// Definitions that must agree on one base for it to be taken. One alone is not enough: a
// definition of one table's shape can fit another table's rows (tables of one design), and
// its owner value then names a number that is not its own; two definitions that name one
// base each by a different table are two tables of one database lying at their numbers.
inline constexpr std::size_t kMinAgreeingDefinitions = 2;

struct TEvidenceBase {
  std::int64_t Base = 0;       // where page 0 would lie
  std::int64_t HomeStart = 0;  // the first page of the run holding its agreeing definitions
  std::vector<std::size_t> Definitions;  // store indices of the definitions that agree on it
};

// The base that the most loose definitions agree on (kMinAgreeingDefinitions at least, ties
// to the lowest base): each one-page user-table definition outside `placed`, at page number N
// of that base, where a data page outside `placed` whose owner value is N holds live rows
// that all fit it exactly (the first few read). Bases in `tried` are not given again.
// Nothing when no base has that many. Its home starts on the base's grid at the earliest
// agreeing definition, or at the pages before it that lie with no wider gap than a run has
// between them (down to the base).
std::optional<TEvidenceBase> BaseFromEvidence(const IPageStore& store,
                                              const std::vector<TPageEntry>& entries,
                                              const std::vector<TFoundDefinition>& definitions,
                                              const std::set<std::size_t>& placed,
                                              const std::set<std::int64_t>& tried);

// Is the base another copy of a database placed already (the file a compact left behind)?
// It is where, for more than half of its agreeing definitions, one placed database holds a
// definition of the same table (columns of the same names, types and numbers) at the number
// the definition would take: two pages that claim one number of one database are two
// copies, which older_copies.h keeps apart, not two databases. Half, not one: the tables
// Access adds to every database of a version lie at the same numbers in all of them.
bool CopiesAPlacedDatabase(const IPageStore& store, const std::vector<TPageEntry>& entries,
                           const TEvidenceBase& found, const std::vector<TDatabasePages>& placed);

// The definition pages of the tables that the catalog (MSysObjects) pages among
// `database`'s pages name: live rows of local tables, read with the catalog's fixed layout.
std::set<std::uint32_t> TablesItsCatalogNames(const IPageStore& store,
                                              const std::vector<TPageEntry>& entries,
                                              const TDatabasePages& database);

// How many of the base's agreeing definitions the catalog (MSysObjects) pages among
// `database`'s pages name: a live row of a local table whose id is the number the
// definition lies at. A base is kept only where its own catalog names its tables so: a
// piece of system tables alike in every database of a version fits anyone's numbers.
std::size_t NamedByItsCatalog(const IPageStore& store, const std::vector<TPageEntry>& entries,
                              const TEvidenceBase& found, const TDatabasePages& database);

// Does `other`'s catalog usage map (the map of the definition at its page 2) list a page
// number at which `database` holds a catalog page and `other` holds none? Then that page is
// `other`'s catalog's, lying in a piece of its file that placing did not reach: a database
// of one file, not two. False when `other` lacks its catalog's definition or map.
bool HoldsCatalogPageListedBy(const IPageStore& store, const std::vector<TPageEntry>& entries,
                              const TDatabasePages& database, const TDatabasePages& other);

}  // namespace quillon::recover
