#pragma once
// Older copies of a database told apart from it. A compact or a save writes a new file and
// deletes the old one, whose pages stay on the source wherever nothing was written over
// them; a database compacted every week leaves one such copy each time. Where an old file's
// pages carry the same page numbers as the new one's (the same owner values on their data
// pages, the same rows on them), read as one database they would give every row twice and
// rows deleted since as live. Each older copy is given as a database of its own instead,
// and which is the newer is said with the reason.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "recover/database_layout.h"
#include "recover/page_store.h"

namespace quillon::recover {

// What tells the newer copy from the older one, in the order it is asked.
enum class TNewerEvidence {
  None,          // nothing tells them apart: the copy split off is named as the other copy
  DeletedRows,   // rows live in one copy are deleted, byte for byte the same, in the other
  CatalogDates,  // the newest DateUpdate of the catalog's rows
  Header,        // only one copy's page 0 survives; the other's head was written over
};

// Why one copy is newer than another, with the figures the words give.
struct TNewerReason {
  TNewerEvidence Evidence = TNewerEvidence::None;
  // Rows deleted in the newer copy that the older holds live.
  std::int64_t RowsDeletedSince = 0;
  std::string NewerDate, OlderDate;  // the copies' newest catalog dates
};

struct TDatabaseCopy {
  TDatabasePages Pages;
  bool Newer = false;       // the newest of the copies (the database keeps its name)
  // Split off from the pages of another copy (the one at SplitFrom among the copies), which
  // keeps the pages not taken from it.
  bool Split = false;
  std::size_t SplitFrom = 0;
  // After the first copy: why the first is newer than this one (None: not known, and this
  // one is named as the other copy, not the older).
  TNewerReason Reason;
};

// The copies of one database: those found among its pages, and other databases found to be
// copies of it. The newest first, then the others from newer to older where that is known.
struct TCopiesOfDatabase {
  std::vector<TDatabaseCopy> Copies;  // one when no copy was found
  // Why the first copy is newer than the second (the second's Reason), for the reports.
  TNewerEvidence Evidence = TNewerEvidence::None;
  std::int64_t RowsDeletedSince = 0;
  std::string NewerDate, OlderDate;
};

// Looks among `database`'s pages for older copies: bases other than its own at which at
// least two owner values land on definition pages, whose data pages (half of them at least)
// hold rows byte for byte the same as the database's other pages of the same tables. A copy
// takes the pages from its base up to where its own pages end or another copy's base lies.
// A base whose ties use a definition that a copy found first uses too is that copy seen at
// other numbers, not a copy; one whose pages repeat no rows of a copy found first may be
// another piece of it, and is not split off. Returns the database alone when there is none.
TCopiesOfDatabase SplitOlderCopy(const IPageStore& store, const std::vector<TPageEntry>& entries,
                                 const TDatabasePages& database);

// Databases told apart by their headers that are copies of one database (the file a
// compact or a save left behind beside the file it wrote): data pages of the same tables, in
// both, hold rows byte for byte the same, on at least two pages and on at least half the
// pages of those tables in the smaller. Their copies are joined into the group of the first
// of them, ordered newest first; each other group is left as it was. The groups keep the
// order of their first databases.
std::vector<TCopiesOfDatabase> JoinCopiesOfOneDatabase(const IPageStore& store,
                                                       const std::vector<TPageEntry>& entries,
                                                       std::vector<TCopiesOfDatabase> groups);

// The name of a copy of the database `name` other than the first: "NAME (older copy)",
// "NAME (older copy 2)", ... where the first is known to be newer (`known`), "NAME (other
// copy)", "NAME (other copy 2)", ... where it is not; `ordinal` counts from 1 among the
// copies written so named, from newer to older.
std::string CopyName(const std::string& name, bool known, std::size_t ordinal);

// The reason for the report, in words: "" when which copy is newer is not known.
std::string NewerBecauseText(const TNewerReason& reason);
// The same for the first copy against the second.
std::string NewerBecauseText(const TCopiesOfDatabase& copies);

}  // namespace quillon::recover

namespace quillon::recover {

struct TDatabaseReport;

// Says in the reports of the copies (one per copy, in their order; null where a copy gave no
// table and was not written) which older copies were found and why the newest is the newer
// of each. The pages of a copy split off are counted as set apart from the copy it was split
// from with every other page set apart (AccountForPages, pages_set_apart.h).
void AccountForCopies(const TCopiesOfDatabase& copies, const std::vector<TDatabaseReport*>& reports);

}  // namespace quillon::recover

#include <functional>

#include "recover/table_plan.h"

namespace quillon::recover {

// Names the tables of a copy that its own catalog does not name (the catalog's pages lay in
// its head, written over) after the other copy's tables at the same definition pages, where
// the other copy's catalog named them and their columns are the same, by name and in order:
// at one page number, with the same columns, they are one table in two versions. A table
// the other copy's catalog names no more (dropped since: `dropped`, DroppedTableNames of
// catalog_reading.h) takes the name the catalog's deleted row gives its definition page,
// where no other table of the copy has that name.
void NameFromOtherCopy(std::vector<TTablePlan>& plans, const TDatabaseReport& other,
                       const std::map<std::uint32_t, std::string>& dropped = {});

// A table its copy's own catalog named: its definition page, name and columns by name.
struct TNamedTable {
  std::uint32_t DefinitionPage = 0;
  std::string Name;
  std::vector<std::string> Columns;
};

// The typed tables of `plans` that their own copy's catalog named.
std::vector<TNamedTable> TablesNamedByCatalog(const std::vector<TTablePlan>& plans);

// Names the tables of a copy whose own catalog was not found (its catalog's pages lay in a
// piece of the copy not found) as NameFromOtherCopy does, after the tables other copies'
// catalogs named: each list in `others` in turn, newest first, the first that names a table
// at the same definition page with the same columns naming it. Returns how many were named.
std::size_t NameFromOtherCopies(std::vector<TTablePlan>& plans,
                                const std::vector<std::vector<TNamedTable>>& others);

// Whether a table's rows have exactly a definition's shape.
using TRowsFit = std::function<bool(const TTablePlan& plan, const TTableDefinition& definition)>;

// Gives the tables of a copy that found no definition at their owner's page number (that
// page lay in a piece of the copy that was not found, or that could not be told from another
// copy's) the definition the other copies of the database hold at that number: where every
// other copy whose table there has one holds the same columns, the catalogs that name the
// table give it one name, and `fits` finds the copy's rows of exactly that shape. A table's
// definition changes only where its columns do; its rows' shapes say whether they did.
// Returns how many tables were given one.
std::size_t DefinitionsFromOtherCopies(std::vector<TTablePlan>& plans,
                                       const std::vector<const std::vector<TTablePlan>*>& others,
                                       const TRowsFit& fits);

}  // namespace quillon::recover
