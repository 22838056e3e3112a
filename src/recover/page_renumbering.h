#pragma once
// Page numbers for a database whose pages do not lie in order on the source: found again
// from anchors (pages whose numbers are certain), the definitions tied to their tables by
// the shape of the tables' rows, and the long-value pointers of the tables' rows.

#include <cstdint>
#include <map>
#include <set>
#include <unordered_set>
#include <vector>

#include "recover/database_reader.h"
#include "recover/table_definition.h"

namespace quillon::recover {

struct TRenumbering {
  std::map<std::uint32_t, TTableDefinition> ShapeTies;  // owner → definition tied by shape
  // The tables whose long-value pointers the numbering agrees with. Another table's
  // pointers could land on a page numbered without them: its long values are not looked for.
  std::set<std::uint32_t> LongValuesChecked;
};

// Numbers the pages of `database` again from what is certain: header and system
// definitions, each definition that exactly one table's rows fit by shape (and that fits no
// other table), and the LVAL pages that single-row long values point to where only one LVAL
// row on the source has the value's length (two such rows at least putting their piece at
// one place: one alone can be a lost page's stand-in of the same length). `database` is the one `reader` reads, renumbered
// in place round by round. `otherCopies`: the store indices of the pages of the database's
// other copies, each given to its own copy and numbered from that copy's base; their LVAL
// rows are not counted against uniqueness (a copy holds the same long values at the same
// rows, byte for byte, and would otherwise leave none of them unique).
TRenumbering Renumber(const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
                      TDatabasePages& database,
                      const std::unordered_set<std::size_t>& otherCopies = {});

}  // namespace quillon::recover
