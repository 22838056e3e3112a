#pragma once
// A table's usage map read from a database's pages: the pages it lists, and whether those
// can be trusted to tell a table's stale pages apart where the pages lie out of order.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <vector>

#include "recover/database_reader.h"
#include "recover/table_definition.h"

namespace quillon::recover {

// Where a database's pages lie: in order, or out of order with the page numbers whose
// pages lie at their places all the same.
struct TPlacement {
  bool OutOfOrder = false;
  std::set<std::uint32_t> InPlace;  // out of order only
};

// The pages a table's usage map lists, or nothing when the map cannot be read.
// The numbers of the pages it was read from go into `readFrom` when given.
std::optional<std::set<std::uint32_t>> UsageMapOf(const TDatabaseReader& reader,
                                                  const std::vector<TPageEntry>& entries,
                                                  const TDatabasePages& database,
                                                  std::uint32_t pointer,
                                                  std::vector<std::uint32_t>* readFrom = nullptr);

// The pages the usage map at `pointer` lists where the pages of the map are the store pages
// `pageAt` gives for their numbers (nothing: no page there); nothing when the map cannot be
// read. Used to try where a definition of unknown number would lie.
std::optional<std::set<std::uint32_t>> UsageMapAtPlaces(
    const TDatabaseReader& reader, const std::vector<TPageEntry>& entries, std::uint32_t pointer,
    const std::function<std::optional<std::size_t>(std::uint32_t)>& pageAt);

// The pages the usage map of the table whose definition lies at `owner` lists, where the
// map can be trusted: in order; out of order, where the definition and the pages the map
// is read from lie in place, and every page the map lists is there, at its number, as one
// of the table's. Pages between two anchors on the database's own base are numbered from
// it even where a piece among them was exchanged with another: a listed page numbered
// wrongly so would look stale, but then its own number holds another page or none.
std::optional<std::set<std::uint32_t>> TrustedUsageMap(const TDatabaseReader& reader,
                                                       const std::vector<TPageEntry>& entries,
                                                       const TDatabasePages& database,
                                                       const TPlacement& placement,
                                                       std::uint32_t owner,
                                                       const TTableDefinition& definition);

// Is the page at `number` stale by the usage map that lists `listed`? Out of order, only a
// page in place can be told to be.
bool IsStale(const std::optional<std::set<std::uint32_t>>& listed, std::uint32_t number,
             const TPlacement& placement);

}  // namespace quillon::recover
