#pragma once
// A definition page's number inside the database position gave it to, where evidence
// (run_placement.h) numbers it otherwise: position's number stands unless the pages
// themselves contradict it and name evidence's number instead.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "recover/database_layout.h"
#include "recover/page_store.h"

namespace quillon::recover {

// Whether the live rows of data page `dataIndex` fit the definition whose first page is
// store page `definitionIndex` exactly (column counts, fixed lengths, variable columns);
// nothing when the page has no live row to judge by or the definition cannot be read whole
// from its first page.
using TExactFit = std::function<std::optional<bool>(std::size_t dataIndex,
                                                    std::size_t definitionIndex)>;

// Does definition page `index`, which position numbered `positionNumber` in `database`,
// lie at `evidenceNumber` instead? Only where its own table's pages say so and nothing
// else does: no data page of the database carries position's number as its owner value
// (that number names no table), the data pages carrying evidence's number fit it exactly
// (a few judged, none against, one at least for), no other definition of the database
// fits them, the pages of no other table fit it, and no other definition lies at
// evidence's number. A file's own pieces can lie out of order on a volume, so position's
// number for a definition in a later piece is a guess; a run followed past a piece's end
// is a guess too, which is why evidence alone does not overrule it. `placedIn`: store index
// → the base of the database evidence placed the page in; pages that evidence placed in
// another database are that one's and are not asked.
bool DefinitionNumberOverruled(const std::vector<TPageEntry>& entries,
                               const TDatabasePages& database, std::size_t index,
                               std::uint32_t positionNumber, std::uint32_t evidenceNumber,
                               const TExactFit& fits,
                               const std::unordered_map<std::size_t, std::int64_t>& placedIn);

}  // namespace quillon::recover
