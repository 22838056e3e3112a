#pragma once
// Writing a database's tables: each table's live rows, then its deleted and stale rows as
// companion tables, into the SQLite file, the CSV folder and the workbook, with what was
// written and what is missing counted in the database's report.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/stream.h"
#include "recover/database_reader.h"
#include "recover/page_versions.h"
#include "recover/recovery.h"
#include "recover/recovery_report.h"
#include "recover/table_output.h"
#include "recover/table_plan.h"
#include "recover/untyped_table_reading.h"
#include "recover/usage_maps.h"

namespace quillon::recover {

class TXlsxWriter;

// The path the file system opens for a display path made inside OUTDIR. Throws
// EQuillonError naming the file when the system's code page cannot hold its name.
std::string SystemPath(IFileSystem& fileSystem, const std::string& displayPath);

// What the tables of one database are written from, all read to the end first.
struct TTableSources {
  const TDatabaseReader& Reader;
  const std::vector<TPageEntry>& Entries;
  const TDatabasePages& Database;  // as numbered in the end
  const TPlacement& Placement;
  // Out of order: pages of which another version was found (an older copy's), left unread.
  const TPageVersions& Versions;
  // Out of order: the tables whose long-value pointers the numbering agrees with. Another
  // table's pointers could land on a page numbered without them: its long values are not
  // looked for.
  const std::set<std::uint32_t>& LongValuesChecked;
  const TUntypedTables& Untyped;
};

// Writes the tables of one database, one by one, to the outputs given (sqlite and xlsx
// may be null: not written; CSV files go into report.CsvFolder where options ask for them).
class TTableWriter {
 public:
  TTableWriter(const TTableSources& sources, IFileSystem& fileSystem,
               const TRecoveryOptions& options, TSqliteWriter* sqlite, TXlsxWriter* xlsx,
               TDatabaseReport& report);

  // Writes a table and its companions; false when its usage map could not be read. Its
  // report goes into the database's. Throws EQuillonError naming the file and the cause
  // when an output refuses it.
  bool Write(const TTablePlan& plan);

 private:
  // Begins a part (a table or a companion) in every output.
  template <class TPart>
  void Begin(TPart& part, bool& begun, const std::vector<TOutputColumn>& columns,
             TTableReport& table);

  const TDatabaseReader& reader_;
  const std::vector<TPageEntry>& entries_;
  const TDatabasePages& database_;
  const TPlacement& placement_;
  const TPageVersions& versions_;
  const std::set<std::uint32_t>& longValuesChecked_;
  const TUntypedTables& untyped_;
  TNoLongValues noLongValues_;
  IFileSystem& fileSystem_;
  const TRecoveryOptions& options_;
  TSqliteWriter* sqlite_;
  TXlsxWriter* xlsx_;
  TDatabaseReport& report_;
  std::set<std::string> used_;  // SQLite table names given
  // CSV file names given (two table names can become one file name: "a/b" and "a_b")
  std::set<std::string> csvNames_;
};

}  // namespace quillon::recover
