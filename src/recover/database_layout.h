#pragma once
// Databases told apart on the source: each is a base offset (where its page 0 lies or
// would lie) and the pages of the store given to it, by page number.

#include <cstdint>
#include <functional>
#include <set>
#include <unordered_map>
#include <vector>

#include "recover/page_store.h"

namespace quillon::recover {

// Page numbers from here on are places, not numbers: above any 24-bit page number.
inline constexpr std::uint32_t kUnnumberedPage = 0x01000000;

struct TDatabasePages {
  std::int64_t Base = 0;
  std::unordered_map<std::uint32_t, std::size_t> Pages;  // page number → store index
  std::int64_t FirstOffset = -1;                         // the first of its pages on the source
  std::int64_t LastOffset = -1;
  // Numbers that evidence gave pages moved here from where position put them: anchors.
  std::set<std::uint32_t> Certain;
  // Of those, the numbers of pages that position had given this database at another number
  // (see MovePlacedPages): they say nothing of whether its other pages lie in order.
  std::set<std::uint32_t> Overruled;
  // Store indices of the pages that evidence placed in this database, at whatever number
  // they are numbered here: none of them is an older copy's (see SplitOlderCopy).
  std::set<std::size_t> Evidenced;
  // Of those, the pages that position had numbered otherwise in this database and kept at
  // position's number (see MovePlacedPages): store index → the number evidence gave.
  // Whether position's number holds is for the reading of the database to judge.
  std::unordered_map<std::size_t, std::uint32_t> EvidenceNumbers;
  // Store indices of pages given to this copy, the newest of a database's copies, as the
  // newest of their page's versions among the copies (see GiveNewestVersions): its own
  // wherever they lie.
  std::set<std::size_t> GivenAsNewest;
};

// A definition page found in the store, parsed alone (a definition longer than one page is
// parsed again once its continuation pages are known).
struct TFoundDefinition {
  std::size_t Index = 0;
  std::int64_t Offset = -1;
  std::uint32_t SystemPage = 0;  // 2 to 5 for the system tables' definitions, else 0
};

// Where each database's page 0 lies or would lie, in order: from header pages and from the
// system tables' definitions at their fixed pages 2 to 5; failing both, from ties of
// definitions to data pages' owner values that at least two tables agree on. Which pages
// are each database's is for run_placement.h to say: position alone places nothing.
std::vector<std::int64_t> FindDatabaseBases(const std::vector<TPageEntry>& entries,
                                            const std::vector<TFoundDefinition>& definitions);

// Every page given to the database whose base lies nearest before it on its 4096-byte
// grid, numbered from that base (pages before a grid's first base go to it unnumbered):
// what position alone says, for reading to confirm or refuse (see NumberFromAnchors).
std::vector<TDatabasePages> TellDatabasesApart(const std::vector<TPageEntry>& entries,
                                               const std::vector<std::int64_t>& bases);

// Does evidence's number for store page `index`, which position gave to `database` at
// another number, overrule position's? Asked with the database as position numbered it.
using TOverruleCheck = std::function<bool(const TDatabasePages& database, std::size_t index,
                                          std::uint32_t positionNumber,
                                          std::uint32_t evidenceNumber)>;

// The pages that evidence placed (run_placement.h) in another database than position gave
// them to, moved there at the numbers evidence gave them, which become certain there; a
// page lying at such a number by position alone stays, unnumbered. Pages evidence placed
// in the database position gave them to keep position's number (a run followed along past
// the end of a piece of the file numbers by position too, and is no surer), except where
// `overrules` says the pages contradict it: then they move to evidence's number as above.
void MovePlacedPages(std::vector<TDatabasePages>& databases,
                     const std::vector<TDatabasePages>& placed,
                     const std::vector<TPageEntry>& entries,
                     const TOverruleCheck& overrules = {});

}  // namespace quillon::recover

namespace quillon::recover {

// A page whose number is certain: a header page (0), a system definition (2 to 5), a
// definition tied to its table's owner value, the unique target of a long-value pointer.
struct TPageAnchor {
  std::size_t Index = 0;  // in the store
  std::uint32_t Number = 0;
};

// Page numbers for a database whose pages do not lie in order on the source (pieces moved
// about): each anchor numbers its own page, and the pages between two anchors that agree
// on a base (on the same 4096-byte grid) are numbered from it; anything else is not
// guessed. Pages of `grid` left unnumbered keep a place above every real page number
// (kUnnumberedPage + i), where no pointer reaches them.
// Does giving store page `index` (SIZE_MAX: no page there) number `number` agree with what
// else is known, such as the long-value pointers that name that number? Asked of every page
// of a piece before the piece is numbered from an anchor in it.
using TNumberCheck = std::function<bool(std::size_t index, std::uint32_t number)>;

TDatabasePages NumberFromAnchors(const std::vector<TPageEntry>& entries, const TDatabasePages& grid,
                                 std::vector<TPageAnchor> anchors, const TNumberCheck& agrees = {});

}  // namespace quillon::recover
