#pragma once
// Older copies of a database told apart from it. A compact or a save writes a new file and
// deletes the old one, whose pages stay on the source wherever nothing was written over
// them. Where the old file's pages carry the same page numbers as the new one's (the same
// owner values on their data pages, the same rows on them), read as one database they would
// give every row twice and rows deleted since as live. The older copy is given as a database
// of its own instead, and which of the two is the newer is said with the reason.

#include <cstddef>
#include <cstdint>
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

struct TDatabaseCopy {
  TDatabasePages Pages;
  bool Newer = false;       // the newer of the two (the database keeps its name)
  // The copy split off; the other one (Split false) keeps the pages not taken from it.
  bool Split = false;
};

// A database found to hold two copies: the two, the one kept first.
struct TCopiesOfDatabase {
  std::vector<TDatabaseCopy> Copies;  // the newer first; two, or one when no copy was found
  TNewerEvidence Evidence = TNewerEvidence::None;
  // Figures for the reason: rows deleted in the newer copy that the older holds live; the
  // copies' newest catalog dates (the newer's first).
  std::int64_t RowsDeletedSince = 0;
  std::string NewerDate, OlderDate;
};

// Looks among `database`'s pages for an older copy: a base other than its own at which at
// least two owner values land on definition pages, whose data pages (half of them at least)
// hold rows byte for byte the same as the database's other pages of the same tables. The
// copy takes the pages from that base up to where its own pages end. Returns the database
// alone when there is none.
TCopiesOfDatabase SplitOlderCopy(const IPageStore& store, const std::vector<TPageEntry>& entries,
                                 const TDatabasePages& database);

// The reason for the report, in words: "" when which copy is newer is not known.
std::string NewerBecauseText(const TCopiesOfDatabase& copies);

}  // namespace quillon::recover

namespace quillon::recover {

struct TDatabaseReport;

// Says in the reports of the copies (one per copy, in their order; null where a copy gave no
// table and was not written) which older copy was found, why the newer is the newer, and
// which pages were set apart from the database the copy was found in.
void AccountForCopies(const TCopiesOfDatabase& copies, const std::vector<TDatabaseReport*>& reports);

}  // namespace quillon::recover

#include "recover/table_plan.h"

namespace quillon::recover {

// Names the tables of a copy that its own catalog does not name (the catalog's pages lay in
// its head, written over) after the other copy's tables at the same definition pages, where
// the other copy's catalog named them and their columns are the same, by name and in order:
// at one page number, with the same columns, they are one table in two versions.
void NameFromOtherCopy(std::vector<TTablePlan>& plans, const TDatabaseReport& other);

}  // namespace quillon::recover
