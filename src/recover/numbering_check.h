#pragma once
// Whether a database's pages lie where their numbers say, from what its own pages say: the
// evidence of each table gathered from the pages and judged by PagesLieInOrder.

#include <vector>

#include "recover/database_reader.h"

namespace quillon::recover {

// Do the pages lie in order? What each table says of it: its definition at its owner
// value's number, its rows' fit, its usage map's places (see PagesLieInOrder). The LVAL
// pages carry no owner or map of their own: the long-value pointers of listed rows must
// each find their value where its page number lies, or a piece of LVAL pages moved in
// behind the data pages would give memos of rows that happen to have the length asked for.
// Every catalog page at the database's places is read here, those its usage map does not
// list too: another database's pages that landed among these carry their own catalog's
// pages, and only those name the foreign tables, whose pages must then count against the
// order rather than pass as a dropped table's remains (which says nothing). Left unread,
// a database with a neighbour's pieces behind its own was judged in order and the
// neighbour's tables were lost.
bool NumberingHolds(const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
                    const TDatabasePages& database);

}  // namespace quillon::recover
