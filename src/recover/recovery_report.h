#pragma once
// What a recovery gave: per database told apart, where its pages lie and when its tables
// last changed; per table, the rows read and what was kept apart or not found.

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "recover/output_names.h"
#include "recover/pages_set_apart.h"

namespace quillon::recover {

struct TColumnReport {
  std::string Name;
  std::string Type;  // as SQLite declares it ("INTEGER", "TEXT", "CURRENCY" ...)
};

// One of the tables written for a table: its live rows, or those kept apart.
struct TTablePartReport {
  std::string Name;     // the table's name in SQLite: "NAME", "NAME (deleted)", "NAME (stale)"
  std::string CsvPath;  // UTF-8 display path of its CSV file, "" when none was written
  std::int64_t Rows = 0;
};

// How much of a table the catalog lists came back.
enum class TTableState {
  Recovered,  // every row and value its pages and definition account for
  Partial,    // some rows or values are missing or not certain (counted), or it is untyped
  Lost,       // the catalog lists it, but no page of it was found
};

struct TTableReport {
  std::string Name;                  // as in the database; "table-N" when the catalog lacks it
  std::uint32_t DefinitionPage = 0;  // the owner value of its data pages
  bool Typed = false;                // a definition was tied: named, typed columns
  bool NamedFromCatalog = false;
  std::size_t Columns = 0;
  std::int64_t Rows = 0;            // live rows written
  std::int64_t DeletedRows = 0;     // into "NAME (deleted)"
  std::int64_t StaleRows = 0;       // into "NAME (stale)"
  std::int64_t UnreadableRows = 0;  // rows that do not fit the definition: left out
  // Deleted or stale rows that do not fit it (such as rows of another database's pages
  // that carry the same owner value): left out of the companions.
  std::int64_t UnreadableRowsKeptApart = 0;
  std::int64_t MovedRowsNotTied = 0;  // untyped: moved rows whose data is not tied for certain
  // Live rows of pages whose number another page of the database claims with other rows
  // (an older copy's version of the page): which is current is not known, so none is shown.
  std::int64_t RowsOfTwoVersions = 0;
  std::int64_t Values = 0;          // values written in live rows (nulls included)
  std::int64_t ValuesNotFound = 0;  // long values not found or not certain: NULL
  std::string LastUpdate;           // the catalog's DateUpdate, "" when unknown
  TTableState State = TTableState::Recovered;
  std::int64_t RowsMissing = 0;     // rows its definition counts beyond those read
  std::int64_t PagesMissing = 0;    // pages its usage map lists that were not found
  std::int64_t ValuesMissing = 0;   // values not found, and those of rows missing or unreadable
  std::vector<TColumnReport> ColumnList;
  std::vector<TTablePartReport> Parts;  // those written, live rows first
  std::vector<TNameChange> NameChanges;  // names the output could not take as they are
  std::string Failure;  // why the table could not be written (whole or in part); "" when it was
};

// The most tables written for one database (the unplaced pages count as one). An Access
// database rarely holds more than a few hundred; pages forged or torn from thousands of
// owners would otherwise give a file, a SQLite table and a part of the report for each.
inline constexpr std::size_t kMaxTablesWritten = 2000;

struct TDatabaseReport {
  int Number = 0;                 // database-N; 0 for the unplaced pages
  std::string Name;               // "database-N", or "unplaced": its files' names
  // The pages no database could be placed for (no header page or definition tied them to
  // one): their tables come out untyped, read as `quillon-cli rows` reads them.
  bool Unplaced = false;
  std::int64_t BaseOffset = -1;   // where its page 0 lies (or would lie) on the source
  std::int64_t FirstPageOffset = -1;
  std::int64_t LastPageOffset = -1;
  // Pages of the store it was written from (for the unplaced pages: the data pages read).
  std::int64_t Pages = 0;
  // The unplaced pages only: of Pages, those a database set apart as none of its own.
  std::int64_t PagesSetApartRead = 0;
  bool CatalogFound = false;
  bool UsageMapsRead = false;     // stale pages could be told apart
  bool InOrder = true;            // its pages lay at their numbers' places on the source
  // In order once the pages found away from their numbers' places (pieces moved about) were
  // placed at their numbers by what they say.
  bool PiecesPlaced = false;
  // Page numbers two of its pages claim with rows that disagree (an older copy's among its
  // own): the rows of both are left out.
  std::int64_t PageNumbersDisputed = 0;
  // Tables read with the definition the other copies of the database agree on: the page of
  // its own that held it was not found among its pages.
  std::int64_t TablesTypedFromOtherCopies = 0;
  std::string LastUpdate;         // the newest DateUpdate of its tables
  // Another database's older copy, written apart from it: that database's name ("" when this
  // is no copy). Named "NAME (older copy)", "NAME (older copy 2)" and so on from newer to
  // older, or "NAME (other copy)", "NAME (other copy 2)" where which is newer is not known.
  std::string CopyOf;
  std::vector<std::string> OlderCopies;  // the copies of it found, by name, newest first
  // Beside each of OlderCopies: why this database is the newer ("" when not known).
  std::vector<std::string> OlderCopiesNewerBecause;
  // Why the newer of two copies is the newer ("" when not known or when there is no copy):
  // in an older copy, why the database it is a copy of is newer; in the newest, why it is
  // newer than its first older copy.
  std::string NewerBecause;
  // Other databases' pages (an older copy's among them) found among its own and set apart.
  std::vector<TPagesSetApart> PagesSetApart;
  std::string SqlitePath;         // "" when not written
  std::string CsvFolder;
  std::string XlsxPath;           // "" when not written
  std::vector<TTableReport> Tables;
  // Tables past kMaxTablesWritten, those with the fewest pages: not written at all.
  std::int64_t TablesLeftOut = 0;
  // Unplaced tables whose pages hold no live or deleted row: not written, only counted.
  std::int64_t TablesWithoutRows = 0;
};

// Why `database` is newer than its older copy number k (OlderCopies[k]): "" when not known.
inline const std::string& OlderCopyBecause(const TDatabaseReport& database, std::size_t k) {
  return k < database.OlderCopiesNewerBecause.size() ? database.OlderCopiesNewerBecause[k]
                                                     : database.NewerBecause;
}

struct TRecoveryReport {
  std::int64_t PagesInStore = 0;
  // Every page of the store is counted in exactly one of these three.
  std::int64_t PagesInDatabases = 0;  // pages a database was written from
  std::int64_t PagesSetApart = 0;     // set apart by a database as none of its own, taken by none
  std::int64_t PagesUnplaced = 0;     // pages tied to no database
  bool OffsetsKnown = false;
  bool Stopped = false;             // stopped on request: what was decoded so far is written
  std::vector<TDatabaseReport> Databases;
};

// One line for a name the output changed: table "sqlite_sequence" written as "_sqlite_sequence".
std::string NameChangeText(const TNameChange& change);

// The summary for the terminal (UTF-8 lines) and the same as JSON, whose strings (paths,
// names from the disk) are repaired to valid UTF-8 (core/utf8_text.h).
std::string RecoveryReportText(const TRecoveryReport& report);
nlohmann::json RecoveryReportJson(const TRecoveryReport& report);
// The tables that could not be written whole: a recovery with any is not a success.
std::int64_t TablesNotWritten(const TRecoveryReport& report);

}  // namespace quillon::recover
