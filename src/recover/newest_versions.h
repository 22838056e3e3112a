#pragma once
// The newest copy's own versions of pages that lie away from its page 0. Copies of one
// database hold the same tables at the same page numbers; a page of the live file that lies
// in a piece away from its page 0, among other copies' pieces, is told from their versions
// of it only by its rows: a row deleted in one version and live in another says which of
// the two is newer (a deleted row is never made live again).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "recover/copy_membership.h"
#include "recover/database_layout.h"

namespace quillon::recover {

// Gives `copies.front()` (the newest copy, known newer than every other) its version of each
// user data page whose versions the copies hold as many as there are copies, one each:
// pages of one table linked by rows byte for byte the same (live or deleted), at least one
// of them lying at its number's place from its own copy's page 0 and every such one at the
// same number n, none of them the newest copy's in place; all of them ordered one against
// another by rows deleted in one and live in the other, never both ways. Where no version
// lies in place, n is the one page the newest copy's usage map of the table lists
// (`onlyListed`: that number where the map is read and lists exactly one page): each copy's
// version is then its table's one page. The newest of the chain is the newest copy's page
// n: it is taken from wherever position or evidence put it and numbered n there, and
// recorded in GivenAsNewest. Where the newest copy holds another page at n, or anything
// above does not hold, nothing moves. Returns how many pages moved.
using TOnlyListed = std::function<std::optional<std::uint32_t>(std::uint32_t owner)>;
std::size_t GiveNewestVersions(const std::vector<TPageEntry>& entries,
                               const std::vector<TDatabasePages*>& copies,
                               const TRowsOfCopies& rows, const TOnlyListed& onlyListed);

}  // namespace quillon::recover
